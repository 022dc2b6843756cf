#include "runtime/base_codecs.h"

#include <cstring>

namespace vyx::base_codecs {

namespace {

const char ALPHABET_64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char ALPHABET_58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
const char HEX[] = "0123456789ABCDEF";

constexpr uint8_t SKIP = 0x40;
constexpr uint8_t BAD = 0x80;

// Decode tables for the ASCII range: a digit value, SKIP or BAD.
struct Table {
    uint8_t v[128];
    explicit Table(const char* alphabet) {
        std::memset(v, BAD, sizeof v);
        for (int c : {8, 9, 10, 12, 13, 32, 39}) v[c] = SKIP;
        for (int i = 0; alphabet[i]; i++) v[uint8_t(alphabet[i])] = uint8_t(i);
    }
};
const Table TABLE_64(ALPHABET_64);
const Table TABLE_58(ALPHABET_58);

template <uint32_t unit>
inline uint32_t char_at(const uint8_t* p, size_t i) {
    switch (unit) {
    case 1: return p[i];
    case 2: { uint16_t c; std::memcpy(&c, p + i * 2, 2); return c; }
    default: { uint32_t c; std::memcpy(&c, p + i * 4, 4); return c; }
    }
}

// Skips a comment that starts at i: answers the index after its line feed.
template <uint32_t unit>
inline size_t skip_comment(const uint8_t* p, size_t i, size_t count) {
    while (i < count && char_at<unit>(p, i) != '\n') i++;
    return i < count ? i + 1 : i;
}

struct HexTable {
    int8_t v[128];
    HexTable() {
        for (int c = 0; c < 128; c++)
            v[c] = int8_t(c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
    }
};
const HexTable HEX_VALUES;

// Only ASCII digits count: a wider character is never a digit.
inline int hex_digit(uint32_t c) { return c < 128 ? HEX_VALUES.v[c] : -1; }

}  // namespace

uint64_t max_encoded(int base, uint64_t n) {
    switch (base) {
    case 2: return 8 * n;
    case 16: return 2 * n;
    // ceil(n * log(256) / log(58)) < 1.3658 n + 1; the leading zeros take one digit each.
    case 58: return 2 * n;
    default: return 4 * ((n + 2) / 3);
    }
}

size_t encode_2(uint8_t* out, const uint8_t* src, size_t n) {
    for (size_t i = 0; i < n; i++) {
        uint8_t b = src[i];
        for (int k = 0; k < 8; k++) out[i * 8 + size_t(k)] = uint8_t('0' + ((b >> (7 - k)) & 1));
    }
    return n * 8;
}

size_t encode_16(uint8_t* out, const uint8_t* src, size_t n) {
    for (size_t i = 0; i < n; i++) {
        out[2 * i] = uint8_t(HEX[src[i] >> 4]);
        out[2 * i + 1] = uint8_t(HEX[src[i] & 15]);
    }
    return 2 * n;
}

size_t encode_64(uint8_t* out, const uint8_t* src, size_t n) {
    uint8_t* w = out;
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = uint32_t(src[i]) << 16 | uint32_t(src[i + 1]) << 8 | src[i + 2];
        w[0] = uint8_t(ALPHABET_64[v >> 18]);
        w[1] = uint8_t(ALPHABET_64[(v >> 12) & 63]);
        w[2] = uint8_t(ALPHABET_64[(v >> 6) & 63]);
        w[3] = uint8_t(ALPHABET_64[v & 63]);
        w += 4;
    }
    if (n - i == 1) {
        w[0] = uint8_t(ALPHABET_64[src[i] >> 2]);
        w[1] = uint8_t(ALPHABET_64[(src[i] << 4) & 0x30]);
        w[2] = w[3] = '=';
        w += 4;
    } else if (n - i == 2) {
        w[0] = uint8_t(ALPHABET_64[src[i] >> 2]);
        w[1] = uint8_t(ALPHABET_64[((src[i] << 4) & 0x30) | (src[i + 1] >> 4)]);
        w[2] = uint8_t(ALPHABET_64[(src[i + 1] << 2) & 0x3C]);
        w[3] = '=';
        w += 4;
    }
    return size_t(w - out);
}

size_t encode_58(uint8_t* out, const uint8_t* src, size_t n) {
    size_t zeros = 0;
    while (zeros < n && src[zeros] == 0) zeros++;
    // The number in base 58, least significant digit first, in 32-bit limbs
    // of 58^5 to cut the passes.
    constexpr uint32_t LIMB = 58u * 58 * 58 * 58 * 58;  // 656356768
    std::vector<uint32_t> limbs;
    limbs.reserve((n - zeros) * 138 / 100 / 5 + 2);
    for (size_t i = zeros; i < n; i++) {
        uint64_t carry = src[i];
        for (uint32_t& l : limbs) {
            uint64_t v = uint64_t(l) * 256 + carry;
            l = uint32_t(v % LIMB);
            carry = v / LIMB;
        }
        while (carry) {
            limbs.push_back(uint32_t(carry % LIMB));
            carry /= LIMB;
        }
    }
    std::vector<uint8_t> digits;
    for (size_t k = 0; k < limbs.size(); k++) {
        uint32_t l = limbs[k];
        for (int d = 0; d < 5; d++) {
            digits.push_back(uint8_t(l % 58));
            l /= 58;
        }
    }
    while (!digits.empty() && digits.back() == 0) digits.pop_back();
    size_t w = 0;
    for (size_t i = 0; i < zeros; i++) out[w++] = '1';
    for (size_t k = digits.size(); k-- > 0;) out[w++] = uint8_t(ALPHABET_58[digits[k]]);
    return w;
}

size_t encode(int base, uint8_t* out, const uint8_t* src, size_t n) {
    switch (base) {
    case 2: return encode_2(out, src, n);
    case 16: return encode_16(out, src, n);
    case 58: return encode_58(out, src, n);
    default: return encode_64(out, src, n);
    }
}

template <uint32_t unit>
bool decode_2_of(const uint8_t* p, size_t count, std::vector<uint8_t>& out) {
    out.reserve(out.size() + count / 8);
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < count; i++) {
        uint32_t c = char_at<unit>(p, i);
        if (c == ';') {
            i = skip_comment<unit>(p, i, count) - 1;
            continue;
        }
        if (c <= ' ') continue;
        if (c != '0' && c != '1') return false;
        acc = acc << 1 | (c - '0');
        if (++bits == 8) {
            out.push_back(uint8_t(acc));
            acc = 0;
            bits = 0;
        }
    }
    return bits == 0;
}

template <uint32_t unit>
bool decode_16_of(const uint8_t* p, size_t count, std::vector<uint8_t>& out) {
    out.reserve(out.size() + count / 2);
    int high = -1;
    for (size_t i = 0; i < count; i++) {
        uint32_t c = char_at<unit>(p, i);
        int d = hex_digit(c);
        if (d < 0) {
            if (c == ';') {
                i = skip_comment<unit>(p, i, count) - 1;
                continue;
            }
            if (c <= ' ') continue;
            return false;
        }
        if (high < 0) {
            high = d;
        } else {
            out.push_back(uint8_t(high << 4 | d));
            high = -1;
        }
    }
    return high < 0;
}

template <uint32_t unit>
bool decode_58_of(const uint8_t* p, size_t count, std::vector<uint8_t>& out) {
    std::vector<uint8_t> digits;
    digits.reserve(count);
    for (size_t i = 0; i < count; i++) {
        uint32_t c = char_at<unit>(p, i);
        if (c == ';') {
            i = skip_comment<unit>(p, i, count) - 1;
            continue;
        }
        if (c > 127) return false;
        uint8_t v = TABLE_58.v[c];
        if (v == SKIP) continue;
        if (v == BAD) return false;
        digits.push_back(v);
    }
    size_t ones = 0;
    while (ones < digits.size() && digits[ones] == 0) ones++;
    // The number in base 256, least significant byte first, in 32-bit limbs.
    std::vector<uint32_t> limbs;
    for (size_t i = ones; i < digits.size(); i++) {
        uint64_t carry = digits[i];
        for (uint32_t& l : limbs) {
            uint64_t v = uint64_t(l) * 58 + carry;
            l = uint32_t(v);
            carry = v >> 32;
        }
        if (carry) limbs.push_back(uint32_t(carry));
    }
    std::vector<uint8_t> bytes;
    for (uint32_t l : limbs)
        for (int k = 0; k < 4; k++) bytes.push_back(uint8_t(l >> (8 * k)));
    while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
    out.insert(out.end(), ones, 0);
    out.insert(out.end(), bytes.rbegin(), bytes.rend());
    return true;
}

template <uint32_t unit>
bool decode_64_of(const uint8_t* p, size_t count, std::vector<uint8_t>& out) {
    out.reserve(out.size() + (count + 3) / 4 * 3);
    uint32_t acc = 0;
    int digits = 0;
    for (size_t i = 0; i < count; i++) {
        uint32_t c = char_at<unit>(p, i);
        if (c == ';') {
            i = skip_comment<unit>(p, i, count) - 1;
            continue;
        }
        if (c > 127) return false;
        if (c == '=') {
            // Padding closes the last group.
            if (digits == 3) {
                out.push_back(uint8_t(acc >> 10));
                out.push_back(uint8_t(acc >> 2));
            } else if (digits == 2) {
                out.push_back(uint8_t(acc >> 4));
            } else {
                return false;
            }
            // Only the rest of the padding, blanks and comments may follow.
            int pad = digits + 1;
            for (i++; i < count; i++) {
                c = char_at<unit>(p, i);
                if (c == ';') {
                    i = skip_comment<unit>(p, i, count) - 1;
                } else if (c == '=' && pad < 4) {
                    pad++;
                } else if (c > 127 || TABLE_64.v[c] != SKIP) {
                    return false;
                }
            }
            return true;
        }
        uint8_t v = TABLE_64.v[c];
        if (v == SKIP) continue;
        if (v == BAD) return false;
        acc = acc << 6 | v;
        if (++digits == 4) {
            out.push_back(uint8_t(acc >> 16));
            out.push_back(uint8_t(acc >> 8));
            out.push_back(uint8_t(acc));
            acc = 0;
            digits = 0;
        }
    }
    return digits == 0;
}

#define VYX_DECODER(name)                                                              \
    bool name(const uint8_t* p, size_t count, uint32_t unit, std::vector<uint8_t>& out) { \
        switch (unit) {                                                                \
        case 1: return name##_of<1>(p, count, out);                                    \
        case 2: return name##_of<2>(p, count, out);                                    \
        default: return name##_of<4>(p, count, out);                                   \
        }                                                                              \
    }
VYX_DECODER(decode_2)
VYX_DECODER(decode_16)
VYX_DECODER(decode_58)
VYX_DECODER(decode_64)
#undef VYX_DECODER

bool decode(int base, const uint8_t* chars, size_t count, uint32_t unit, std::vector<uint8_t>& out) {
    switch (base) {
    case 2: return decode_2(chars, count, unit, out);
    case 16: return decode_16(chars, count, unit, out);
    case 58: return decode_58(chars, count, unit, out);
    default: return decode_64(chars, count, unit, out);
    }
}

}  // namespace vyx::base_codecs
