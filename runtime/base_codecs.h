// Text encodings of bytes: base 2 (binary digits, most significant bit
// first), base 16 (upper-case hexadecimal), base 58 (the digit set without
// 0, O, I and l; each leading zero byte is one "1") and base 64 (the standard
// alphabet with "=" padding).
//
// Encoders write ASCII into a caller's buffer of at least max_encoded(base, n)
// bytes and answer the count written. Decoders read `count` characters of
// `unit` bytes each (1, 2 or 4, as a string buffer stores them), skip blanks
// and ";" comments (to the end of the line), and answer false for anything
// that is not whole, valid text in their base: an unknown character, a final
// incomplete byte or group, bad padding. Nothing is ever dropped silently.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vyx::base_codecs {

// 2, 16, 58 or 64.
inline bool is_base(int64_t base) { return base == 2 || base == 16 || base == 58 || base == 64; }

// Room an encoding of n bytes needs (no line breaks are written).
uint64_t max_encoded(int base, uint64_t n);

size_t encode_2(uint8_t* out, const uint8_t* src, size_t n);
size_t encode_16(uint8_t* out, const uint8_t* src, size_t n);
size_t encode_58(uint8_t* out, const uint8_t* src, size_t n);
size_t encode_64(uint8_t* out, const uint8_t* src, size_t n);
size_t encode(int base, uint8_t* out, const uint8_t* src, size_t n);

bool decode_2(const uint8_t* chars, size_t count, uint32_t unit, std::vector<uint8_t>& out);
bool decode_16(const uint8_t* chars, size_t count, uint32_t unit, std::vector<uint8_t>& out);
bool decode_58(const uint8_t* chars, size_t count, uint32_t unit, std::vector<uint8_t>& out);
bool decode_64(const uint8_t* chars, size_t count, uint32_t unit, std::vector<uint8_t>& out);
bool decode(int base, const uint8_t* chars, size_t count, uint32_t unit, std::vector<uint8_t>& out);

// Base 16 over plain bytes (unit 1).
inline bool decode_16_bytes(const uint8_t* text, size_t n, std::vector<uint8_t>& out) {
    return decode_16(text, n, 1, out);
}

}  // namespace vyx::base_codecs
