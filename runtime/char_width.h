// How many terminal columns a code point takes, for the line editor and the
// text-mode view backend.
#pragma once
#include <cstdint>

namespace vyx {

// 0, 1 or 2. NUL is 0; other control codes take one column.
int char_display_width(uint32_t cp);
// True when cp lies in one of `count` inclusive {low, high} ranges (ascending).
bool in_range_pairs(uint32_t cp, const uint32_t (*table)[2], uint32_t count);

namespace width_data {
// Generated (runtime/char_width_tables.cpp).
extern const uint32_t zero_width[][2];
extern const uint32_t zero_width_count;
extern const uint32_t wide[][2];
extern const uint32_t wide_count;
}  // namespace width_data

}  // namespace vyx
