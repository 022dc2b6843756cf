// MurmurHash3, x86 32-bit variant: the one hash function of every hash table
// in the runtime (hash indexes, symbol names, the collector's pointer map).
#pragma once
#include <cstddef>
#include <cstdint>

namespace vyx {

uint32_t murmur3_x86_32(const void* key, size_t length, uint32_t seed);

// The same hash of the bytes with ASCII A-Z read as a-z, so that names that
// differ only in ASCII letter case land in the same bucket. No allocation.
uint32_t murmur3_x86_32_ascii_lower(const void* key, size_t length, uint32_t seed);

// The finaliser alone: the hash of one 32-bit identity (a node, a symbol id).
inline uint32_t hash_pointer(uint32_t x) {
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    return x;
}

}  // namespace vyx
