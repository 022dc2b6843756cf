// money!: an exact amount of 22 BCD digits (17 integer, 5 fraction) with an
// optional currency. Sign in header bit 14; payload byte 0 the currency index
// (0 none, else the 1-based position in the currency list), bytes 1-11 the
// digits, two per byte, high nibble first.
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

// The currency list: three-letter upper-case codes in list order. The library
// fills it from the locale's list at boot.
extern std::vector<std::string> currencies;
// 1-based position of a code (any letter case), or -1 when absent.
int currency_index(std::string_view code);

Cell* make_at(Cell* target, bool negative, uint32_t currency, const uint8_t digits[11]);
// Reads the amount from text: integer digits from `start` up to the decimal
// mark (or `end`), ' skipped, fraction digits after the mark. An empty
// currency means none. Returns nullptr when the currency is unknown.
Cell* from_string(Cell* target, bool negative, std::string_view currency, const char* start,
                  const char* mark, const char* end);

// Digit i (1 = most significant) of a money cell.
int digit(const Cell* c, int i);
inline bool is_negative(const Cell* c) { return (c->header & NEGATIVE) != 0; }
inline uint32_t currency(const Cell* c) { return c->data1 & 0xFF; }

}  // namespace vyx::money
