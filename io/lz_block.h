// The LZ block format: a small LZ77 stream with a bit-level encoding, used
// for data the process receives packed (a VYXBIN payload with its compressed
// flag). Only decoding exists here; nothing in the system produces it.
//
// Stream: S (block area length) and U (unpacked size), two 32-bit
// little-endian words, then blocks: a 32-bit length L (1 to 1 MB) and a bit
// stream, read from each byte's lowest bit up, that produces exactly L bytes
// of literals (flag 0, 8 bits) and matches (flag 1, a length code for 3 to
// 566 bytes, a distance code for 1 to 262144 back, never before the block).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vyx::lz {

constexpr uint32_t MAX_BLOCK = 0x100000;
constexpr uint32_t MAX_MATCH = 566;
// The cheapest match in bits (flag, length prefix and extra bits, distance).
constexpr uint32_t MIN_MATCH_BITS = 22;

// Decodes the `length` bytes of a stream into `out` (the bytes produced, the
// sum of the block lengths). Every read stays inside min(S + 8, length); a
// stated U that the block area could never expand to, or of 2^31 - 8 and
// more, is refused before anything is allocated. False on any corruption.
bool decompress(const uint8_t* in, size_t length, std::vector<uint8_t>& out);

}  // namespace vyx::lz
