#include "runtime/case_map.h"

#include "runtime/memory.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx {

namespace {

// Entry = the mapped code point, 0 = unchanged. The tables start zeroed and
// only ever receive the pairs' values, so filling them again (a fresh
// runtime) changes nothing, and the pages no pair falls in are never touched
// (a start-up need not fault them in).
uint32_t upper_table[0x10000];
uint32_t lower_table[0x10000];

void fill(uint32_t* table, const uint32_t (*pairs)[2], uint32_t count) {
    for (uint32_t i = 0; i < count; i++) table[pairs[i][0]] = pairs[i][1];
}

uint32_t search_astral(uint32_t cp, const uint32_t (*pairs)[2], uint32_t count) {
    if (count == 0 || cp < pairs[0][0] || cp > pairs[count - 1][0]) return cp;
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        if (pairs[mid][0] < cp) lo = mid + 1;
        else hi = mid;
    }
    return lo < count && pairs[lo][0] == cp ? pairs[lo][1] : cp;
}

}  // namespace

void init_case_tables() {
    fill(upper_table, case_data::upper_pairs, case_data::upper_pairs_count);
    fill(lower_table, case_data::lower_pairs, case_data::lower_pairs_count);
}

uint32_t case_fold_char(uint32_t cp, int direction) {
    if (cp < 0x10000) {
        uint32_t m = direction == CASE_UPPER ? upper_table[cp] : lower_table[cp];
        return m ? m : cp;
    }
    return direction == CASE_UPPER
               ? search_astral(cp, case_data::upper_pairs_astral, case_data::upper_pairs_astral_count)
               : search_astral(cp, case_data::lower_pairs_astral, case_data::lower_pairs_astral_count);
}

}  // namespace vyx
