#include "io/lz_block.h"

#include <algorithm>

namespace vyx::lz {

namespace {

inline uint32_t read32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Least significant bit first; bytes are taken only when a field needs them,
// so `pos` is always just past the last byte the stream touched.
struct BitReader {
    const uint8_t* in;
    size_t pos;
    size_t end;
    uint32_t acc = 0;
    uint32_t count = 0;
    bool failed = false;

    uint32_t take(uint32_t k) {
        while (count < k) {
            if (pos >= end) {
                failed = true;
                return 0;
            }
            acc |= uint32_t(in[pos++]) << count;
            count += 8;
        }
        uint32_t v = acc & ((1u << k) - 1);
        acc >>= k;
        count -= k;
        return v;
    }
};

// n of the match length n + 3.
uint32_t length_code(BitReader& r) {
    static const uint32_t base[5] = {0, 4, 8, 12, 20};
    static const uint32_t extra[5] = {2, 2, 2, 3, 5};
    for (int k = 0; k < 5; k++)
        if (r.take(1)) return base[k] + r.take(extra[k]);
    return 52 + r.take(9);
}

}  // namespace

bool decompress(const uint8_t* in, size_t length, std::vector<uint8_t>& out) {
    out.clear();
    if (length < 8) return false;
    uint64_t stated = read32(in);
    uint64_t unpacked = read32(in + 4);
    size_t end = size_t(std::min<uint64_t>(stated + 8, length));
    uint64_t area = end - 8;
    if (unpacked >= 0x7FFFFFF8u) return false;
    // Every byte of output costs at least MIN_MATCH_BITS / MAX_MATCH bits.
    if (unpacked * MIN_MATCH_BITS > area * 8 * MAX_MATCH + MAX_MATCH * MIN_MATCH_BITS) return false;
    try {
        out.resize(size_t(unpacked) + 8);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    size_t capacity = out.size();
    size_t written = 0;
    size_t pos = 8;
    uint8_t* o = out.data();
    for (;;) {
        if (pos - 8 >= stated) break;
        if (pos + 4 > end) return out.clear(), false;
        uint32_t block = read32(in + pos);
        pos += 4;
        if (block < 1 || block > MAX_BLOCK || written + block > capacity) return out.clear(), false;
        BitReader r{in, pos, end};
        size_t start = written, stop = written + block;
        while (written < stop) {
            if (!r.take(1)) {
                uint32_t byte = r.take(8);
                if (r.failed) break;
                o[written++] = uint8_t(byte);
                continue;
            }
            uint32_t n = length_code(r) + 3;
            uint32_t j = r.take(4) + 2;
            uint32_t b = j == 2 ? r.take(3) : (1u << j) + r.take(j);
            if (r.failed) break;
            size_t d = size_t(b) + 1;
            if (written - start < d || written + n > stop) return out.clear(), false;
            for (uint32_t k = 0; k < n; k++, written++) o[written] = o[written - d];
        }
        if (r.failed) return out.clear(), false;
        pos = r.pos;
    }
    out.resize(written);
    return true;
}

}  // namespace vyx::lz
