#include "runtime/char_width.h"

namespace vyx {

bool in_range_pairs(uint32_t cp, const uint32_t (*table)[2], uint32_t count) {
    if (count == 0 || cp < table[0][0] || cp > table[count - 1][1]) return false;
    uint32_t lo = 0, hi = count;
    while (lo < hi) {  // first range whose high bound is at or above cp
        uint32_t mid = (lo + hi) / 2;
        if (table[mid][1] < cp) lo = mid + 1;
        else hi = mid;
    }
    return lo < count && table[lo][0] <= cp;
}

int char_display_width(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 32 || (cp >= 127 && cp < 160)) return 1;
    if (in_range_pairs(cp, width_data::zero_width, width_data::zero_width_count)) return 0;
    if (in_range_pairs(cp, width_data::wide, width_data::wide_count)) return 2;
    return 1;
}

}  // namespace vyx
