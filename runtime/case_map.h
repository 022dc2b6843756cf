// Simple one-to-one case mapping of code points: no special casing, no locale.
// Used wherever the language ignores case (word lookup, comparison and search
// without /case, the lexer) and by `uppercase` and `lowercase`.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx {

constexpr int CASE_LOWER = 0;
constexpr int CASE_UPPER = 1;

// Fills the two direct tables of the Basic Multilingual Plane from the pair lists.
void init_case_tables();
// The mapped code point, or cp itself when it has none.
uint32_t case_fold_char(uint32_t cp, int direction);

namespace case_data {
// Generated pair lists (runtime/case_tables.cpp): {from, to}, keys ascending.
extern const uint32_t upper_pairs[][2];
extern const uint32_t upper_pairs_count;
extern const uint32_t lower_pairs[][2];
extern const uint32_t lower_pairs_count;
extern const uint32_t upper_pairs_astral[][2];
extern const uint32_t upper_pairs_astral_count;
extern const uint32_t lower_pairs_astral[][2];
extern const uint32_t lower_pairs_astral_count;
}  // namespace case_data

}  // namespace vyx
