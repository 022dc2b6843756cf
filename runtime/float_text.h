// Exact conversion between 64-bit doubles and decimal text.
//
// Text to double gives the correctly rounded double of the decimal value (ties
// to even); double to text gives by default the shortest digit string that
// reads back to the same double (the nearest one among equally short strings),
// or exactly n significant digits rounded half to even on the exact value.
#pragma once
#include <cstdint>
#include <string>

namespace vyx {

// Exponent markers of DecimalDigits for results that are already finished text.
constexpr int DECIMAL_EXP_SPECIAL = 9999;  // infinity or NaN
constexpr int DECIMAL_EXP_ZERO = 9998;

// Reads text checked by the lexer: an optional sign, digits with an optional
// ".", then optionally "e"/"E", an optional sign and digits. "1.#INF" (any one
// digit, ".", "#" then I/i) reads as infinity, "1.#NaN" (N/n) as the quiet NaN.
// `extra_exponent` is added to the decimal exponent. The number of characters
// after the last one read is stored in `not_consumed` when given. Out-of-range
// values give infinity or zero with the sign kept.
double decimal_to_double(const char* start, const char* end, int extra_exponent = 0, int* not_consumed = nullptr);

constexpr int FLOAT_TEXT_MAX = 48;

struct DecimalDigits {
    char digits[32];  // NUL-terminated; the finished text when exponent is 9998 or 9999
    int count;        // significant digits, no trailing zeros
    int exponent;     // value = 0.d1d2...dn * 10^exponent
    bool negative;
};

// `significant` 0 asks for the shortest round-trip digits, 1-17 for exactly that
// many significant digits (trailing zeros then removed).
DecimalDigits double_to_decimal(double value, int significant, bool point_zero);

// The finished text: at most FLOAT_TEXT_MAX characters are written to `out`
// (NUL included); `significant` above 30 counts as 30;
// returns the length.
int form_float_buffer(double value, int significant, bool point_zero, char* out);
std::string form_float(double value, int significant = 0, bool point_zero = true);

}  // namespace vyx
