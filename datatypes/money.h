// money!: an exact amount of 22 BCD digits (17 integer, 5 fraction) with an
// optional currency. Sign in header bit 14; payload byte 0 the currency index
// (0 none, else the 1-based position in system/locale/currencies/list),
// bytes 1-11 the digits, two per byte, high nibble first.
//
// Arithmetic runs on the signed count of 0.00001 units the digits spell.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/cell.h"

namespace vyx::money {

constexpr uint32_t NEGATIVE = 0x4000;
constexpr int DIGITS = 22;
constexpr int INTEGER_DIGITS = 17;
constexpr int FRACTION_DIGITS = 5;

// A signed count of 0.00001 units; magnitudes stay below 10^22.
using Amount = __int128;
constexpr Amount UNIT = 100000;

// A list that stands in for the locale's when not empty (embedders and test
// fixtures that run the lexer without the system object): upper-case codes.
extern std::vector<std::string> currencies;
// 1-based position of a code (any letter case) in the currency list, or -1
// when absent.
int currency_index(std::string_view code);
// The symbol of the currency word at a position of the list, or 0.
int32_t currency_symbol(uint32_t index);

// Reads the amount from text: integer digits from `start` up to the decimal
// mark (or `end`), ' skipped, fraction digits after the mark (beyond five
// dropped). An empty currency means none. Returns nullptr when the currency
// is unknown or the integer part has more than 17 digits.
Cell* from_string(Cell* target, bool negative, std::string_view currency, const char* start,
                  const char* mark, const char* end);
// Writes a money! of the amount into `target` (flags kept); raises
// script/type-limit when it needs more than 17 integer digits.
Cell* store(Cell* target, Amount amount, uint32_t currency);
Amount amount_of(const Cell* c);
// A float as money: script/bad-make-arg for NaN, the infinities, magnitudes
// of 1e17 and more or below 0.00001, and (strict) more than five fraction
// digits; otherwise further fraction digits are dropped.
Amount from_float(double d, bool strict);

// Digit i (1 = most significant) of a money cell.
int digit(const Cell* c, int i);
inline bool is_negative(const Cell* c) { return (c->header & NEGATIVE) != 0; }
inline uint32_t currency(const Cell* c) { return c->data1 & 0xFF; }

int32_t to_integer(const Cell* c);
double to_float(const Cell* c);

// The binary math with a money operand on either side (integer! and float!
// hand theirs over): operands at stack::arguments, result in the first.
void do_math(int op);
// A number (integer!, float!, percent!) against a money value: -1, 0, 1, or
// -2 when not comparable.
int compare_number(Cell* number, Cell* m, int op);

// The same into `out` (TEXT_MAX bytes); answers the length.
constexpr int TEXT_MAX = 64;
int write_chars(const Cell* c, bool all, bool grouping, char* out);

}  // namespace vyx::money
