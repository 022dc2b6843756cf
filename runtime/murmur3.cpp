#include "runtime/murmur3.h"

#include <cstring>

namespace vyx {

namespace {

inline uint32_t rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline uint8_t ascii_lower(uint8_t c) { return (c >= 'A' && c <= 'Z') ? uint8_t(c + 32) : c; }

struct Plain {
    static uint8_t byte(uint8_t c) { return c; }
};
struct Lower {
    static uint8_t byte(uint8_t c) { return ascii_lower(c); }
};

// Blocks are read little-endian byte by byte so that the result does not
// depend on the host's alignment rules or byte order.
template <typename Fold>
uint32_t murmur(const void* key, size_t length, uint32_t seed) {
    const uint8_t* data = static_cast<const uint8_t*>(key);
    const size_t nblocks = length / 4;
    const uint32_t c1 = 0xCC9E2D51u;
    const uint32_t c2 = 0x1B873593u;
    uint32_t h1 = seed;

    for (size_t i = 0; i < nblocks; i++) {
        const uint8_t* p = data + i * 4;
        uint32_t k1 = uint32_t(Fold::byte(p[0])) | (uint32_t(Fold::byte(p[1])) << 8) |
                      (uint32_t(Fold::byte(p[2])) << 16) | (uint32_t(Fold::byte(p[3])) << 24);
        k1 *= c1;
        k1 = rotl32(k1, 15);
        k1 *= c2;
        h1 ^= k1;
        h1 = rotl32(h1, 13);
        h1 = h1 * 5 + 0xE6546B64u;
    }

    const uint8_t* tail = data + nblocks * 4;
    uint32_t k1 = 0;
    switch (length & 3) {
    case 3: k1 ^= uint32_t(Fold::byte(tail[2])) << 16; [[fallthrough]];
    case 2: k1 ^= uint32_t(Fold::byte(tail[1])) << 8; [[fallthrough]];
    case 1:
        k1 ^= Fold::byte(tail[0]);
        k1 *= c1;
        k1 = rotl32(k1, 15);
        k1 *= c2;
        h1 ^= k1;
    }

    h1 ^= uint32_t(length);
    return hash_pointer(h1);
}

}  // namespace

uint32_t murmur3_x86_32(const void* key, size_t length, uint32_t seed) { return murmur<Plain>(key, length, seed); }

uint32_t murmur3_x86_32_ascii_lower(const void* key, size_t length, uint32_t seed) {
    return murmur<Lower>(key, length, seed);
}

}  // namespace vyx
