#include "io/deflate.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "datatypes/symbol.h"
#include "io/checksum.h"
#include "runtime/bytes.h"
#include "runtime/fatal.h"

namespace vyx::deflate {

namespace {

// Shared tables ---------------------------------------------------------------------------

const uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t DIST_BASE[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order the code-length code's lengths are sent in.
const uint8_t CL_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr uint32_t END_OF_BLOCK = 256;

inline uint32_t reverse_bits(uint32_t code, unsigned length) {
    uint32_t r = 0;
    for (unsigned i = 0; i < length; i++) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

// Symbol codes of match lengths 3-258 and distances 1-32768.
struct CodeMaps {
    uint8_t length_code[256];  // by length - 3
    uint8_t dist_low[256];     // by distance - 1, below 256
    uint8_t dist_high[256];    // by (distance - 1) >> 7, from 256 on
    CodeMaps() {
        for (int c = 0; c < 29; c++)
            for (int k = 0; k < (1 << LENGTH_EXTRA[c]); k++)
                if (LENGTH_BASE[c] - 3 + k < 256) length_code[LENGTH_BASE[c] - 3 + k] = uint8_t(c);
        length_code[255] = 28;  // 258 has its own code
        for (int c = 0; c < 30; c++)
            for (int k = 0; k < (1 << DIST_EXTRA[c]); k++) {
                int d = DIST_BASE[c] - 1 + k;
                if (d < 256)
                    dist_low[d] = uint8_t(c);
                else
                    dist_high[d >> 7] = uint8_t(c);
            }
    }
};
const CodeMaps& code_maps() {
    static const CodeMaps maps;
    return maps;
}

// Compressor ------------------------------------------------------------------------------

constexpr uint32_t WINDOW = 32768;
constexpr uint32_t MAX_DISTANCE = 32767;
constexpr uint32_t MAX_MATCH = 258;
constexpr uint32_t BLOCK_SYMBOLS = 16384;
constexpr uint32_t FAR_LENGTH_3 = 4096;  // a length-3 match further back is not worth it
constexpr uint32_t LAZY_LIMIT = 16;      // a held match this long is taken without looking further
constexpr uint32_t GOOD_LENGTH = 8;      // with a match this long, fewer candidates are tried
constexpr uint32_t NICE_LENGTH = 128;    // a match this long ends the search
constexpr uint32_t MAX_CHAIN = 128;

// Frequency and code arrays are indexed alike: 0-287 literal/length, 288-319
// distance, 320-338 code-length symbols.
constexpr int F_LL = 0, F_DIST = 288, F_CL = 320, F_COUNT = 340;

// The work area of one compression, zero-filled: positions are numbered from
// 1, 0 meaning none.
struct Work {
    uint32_t head[WINDOW];
    uint32_t chain[WINDOW];
    uint32_t symbols[BLOCK_SYMBOLS];  // literal byte, or distance << 8 | length - 3
    uint32_t freq[F_COUNT];
    uint32_t dyn_code[F_COUNT], fix_code[F_COUNT];
    uint8_t dyn_len[F_COUNT], fix_len[F_COUNT];
    uint32_t scratch[2 * 288];
};

// Writes bits least significant first. Bytes at or past the capacity are
// counted, never stored.
struct BitWriter {
    uint8_t* out;
    uint64_t cap;
    uint64_t pos = 0;
    uint64_t buf = 0;
    unsigned count = 0;

    void put(uint32_t bits, unsigned n) {
        buf |= uint64_t(bits) << count;
        count += n;
        if (count >= 32) {
            if (pos + 4 <= cap) {
                uint32_t v = uint32_t(buf);
                std::memcpy(out + pos, &v, 4);
            } else {
                for (unsigned i = 0; i < 4; i++)
                    if (pos + i < cap) out[pos + i] = uint8_t(buf >> (8 * i));
            }
            pos += 4;
            buf >>= 32;
            count -= 32;
        }
    }
    // Pads with zero bits to the next byte boundary and empties the buffer.
    void align() {
        while (count > 0) {
            if (pos < cap) out[pos] = uint8_t(buf);
            pos++;
            buf >>= 8;
            count = count > 8 ? count - 8 : 0;
        }
        buf = 0;
    }
    // After align only.
    void bytes(const uint8_t* p, uint64_t n) {
        if (pos < cap) std::memcpy(out + pos, p, size_t(std::min<uint64_t>(n, cap - pos)));
        pos += n;
    }
};

// Minimum-redundancy code lengths computed in place (Moffat and Katajainen)
// over `a`, n frequencies in ascending order; a[i] becomes the length of the
// i-th symbol.
void minimum_redundancy(uint32_t* a, int n) {
    int root = 0, leaf = 2, next;
    a[0] += a[1];
    for (next = 1; next < n - 1; next++) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = uint32_t(next);
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = uint32_t(next);
        } else {
            a[next] += a[leaf++];
        }
    }
    a[n - 2] = 0;
    for (next = n - 3; next >= 0; next--) a[next] = a[a[next]] + 1;
    int avail = 1, used = 0;
    uint32_t depth = 0;
    root = n - 2;
    next = n - 1;
    while (avail > 0) {
        while (root >= 0 && a[root] == depth) {
            used++;
            root--;
        }
        while (avail > used) {
            a[next--] = depth;
            avail--;
        }
        avail = 2 * used;
        depth++;
        used = 0;
    }
}

// Code lengths, at most `limit` bits, for n symbols from their frequencies.
void build_lengths(const uint32_t* freq, int n, unsigned limit, uint8_t* lengths, uint32_t* scratch) {
    uint32_t* order = scratch;      // used symbols by ascending frequency
    uint32_t* work = scratch + 288;
    std::memset(lengths, 0, size_t(n));
    int used = 0;
    for (int s = 0; s < n; s++) {
        if (!freq[s]) continue;
        int i = used++;
        while (i > 0 && freq[order[i - 1]] > freq[s]) {
            order[i] = order[i - 1];
            i--;
        }
        order[i] = uint32_t(s);
    }
    if (used == 0) {
        lengths[0] = lengths[1] = 1;
        return;
    }
    if (used == 1) {
        uint32_t s = order[0];
        lengths[0] = 1;
        lengths[s <= 1 ? 1 : s] = 1;
        return;
    }
    for (int i = 0; i < used; i++) work[i] = freq[order[i]];
    minimum_redundancy(work, used);
    uint32_t count[16] = {};
    for (int i = 0; i < used; i++) count[std::min<uint32_t>(work[i], limit)]++;
    uint32_t kraft = 0;
    for (unsigned i = 1; i <= limit; i++) kraft += count[i] << (limit - i);
    while (kraft > (1u << limit)) {
        count[limit]--;
        unsigned i = limit - 1;
        while (count[i] == 0) i--;
        count[i]--;
        count[i + 1] += 2;
        kraft--;
    }
    int k = used - 1;
    for (unsigned len = 1; len <= limit; len++)
        for (uint32_t c = count[len]; c > 0; c--) lengths[order[k--]] = uint8_t(len);
}

// Canonical codes, bit-reversed for the writer.
void build_codes(const uint8_t* lengths, int n, uint32_t* codes) {
    uint32_t count[16] = {}, next[16] = {};
    for (int s = 0; s < n; s++) count[lengths[s]]++;
    count[0] = 0;
    uint32_t code = 0;
    for (int len = 1; len < 16; len++) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (int s = 0; s < n; s++) codes[s] = lengths[s] ? reverse_bits(next[lengths[s]]++, lengths[s]) : 0;
}

// Run-length codes a sequence of code lengths, calling emit(symbol, extra
// bits value, extra bit count) for each code-length symbol.
template <class Emit>
void run_lengths(const uint8_t* lengths, int n, Emit emit) {
    int prev = -1;
    int next = lengths[0];
    int count = 0, max_count = 7, min_count = 4;
    if (next == 0) max_count = 138, min_count = 3;
    for (int i = 0; i < n; i++) {
        int cur = next;
        next = i + 1 < n ? lengths[i + 1] : -1;
        if (++count < max_count && cur == next) continue;
        if (count < min_count) {
            while (count--) emit(cur, 0, 0);
        } else if (cur != 0) {
            if (cur != prev) {
                emit(cur, 0, 0);
                count--;
            }
            emit(16, count - 3, 2);
        } else if (count <= 10) {
            emit(17, count - 3, 3);
        } else {
            emit(18, count - 11, 7);
        }
        count = 0;
        prev = cur;
        if (next == 0)
            max_count = 138, min_count = 3;
        else if (cur == next)
            max_count = 6, min_count = 3;
        else
            max_count = 7, min_count = 4;
    }
}

struct Compressor {
    Work& w;
    BitWriter& bw;
    const uint8_t* in;
    const CodeMaps& maps = code_maps();

    unsigned dist_code(uint32_t d) const { return d <= 256 ? maps.dist_low[d - 1] : maps.dist_high[(d - 1) >> 7]; }

    void write_symbols(uint32_t count, const uint32_t* code, const uint8_t* len) {
        for (uint32_t i = 0; i < count; i++) {
            uint32_t s = w.symbols[i];
            if (s < 256) {
                bw.put(code[s], len[s]);
                continue;
            }
            uint32_t l = s & 0xFF, d = s >> 8;
            unsigned lc = maps.length_code[l];
            bw.put(code[257 + lc] | (l + 3 - LENGTH_BASE[lc]) << len[257 + lc], len[257 + lc] + LENGTH_EXTRA[lc]);
            unsigned dc = dist_code(d);
            bw.put(code[F_DIST + dc] | (d - DIST_BASE[dc]) << len[F_DIST + dc],
                   len[F_DIST + dc] + DIST_EXTRA[dc]);
        }
        bw.put(code[END_OF_BLOCK], len[END_OF_BLOCK]);
    }

    // Emits the block of `count` symbols covering input bytes start..end.
    void emit_block(uint32_t count, uint64_t start, uint64_t end, bool final) {
        uint32_t* f = w.freq;
        f[END_OF_BLOCK] = 1;
        std::memset(w.dyn_len, 0, sizeof w.dyn_len);
        build_lengths(f + F_LL, 286, 15, w.dyn_len + F_LL, w.scratch);
        build_lengths(f + F_DIST, 30, 15, w.dyn_len + F_DIST, w.scratch);
        int hlit = 286, hdist = 30;
        while (hlit > 257 && w.dyn_len[hlit - 1] == 0) hlit--;
        while (hdist > 1 && w.dyn_len[F_DIST + hdist - 1] == 0) hdist--;
        auto count_symbol = [f](int sym, int, int) { f[F_CL + sym]++; };
        run_lengths(w.dyn_len + F_LL, hlit, count_symbol);
        run_lengths(w.dyn_len + F_DIST, hdist, count_symbol);
        build_lengths(f + F_CL, 19, 7, w.dyn_len + F_CL, w.scratch);
        int hclen = 19;
        while (hclen > 4 && w.dyn_len[F_CL + CL_ORDER[hclen - 1]] == 0) hclen--;

        uint64_t extra = 0, dyn = 3 + 14 + 3 * uint64_t(hclen), fixed = 3;
        for (int s = 0; s < 286; s++) {
            dyn += uint64_t(f[s]) * w.dyn_len[s];
            fixed += uint64_t(f[s]) * w.fix_len[s];
            if (s > 256) extra += uint64_t(f[s]) * LENGTH_EXTRA[s - 257];
        }
        for (int s = 0; s < 30; s++) {
            dyn += uint64_t(f[F_DIST + s]) * w.dyn_len[F_DIST + s];
            fixed += uint64_t(f[F_DIST + s]) * w.fix_len[F_DIST + s];
            extra += uint64_t(f[F_DIST + s]) * DIST_EXTRA[s];
        }
        for (int s = 0; s < 19; s++) dyn += uint64_t(f[F_CL + s]) * w.dyn_len[F_CL + s];
        dyn += 2 * uint64_t(f[F_CL + 16]) + 3 * uint64_t(f[F_CL + 17]) + 7 * uint64_t(f[F_CL + 18]);
        dyn += extra;
        fixed += extra;
        uint64_t k = end - start;
        uint64_t chunks = k == 0 ? 1 : (k + 65534) / 65535;
        uint64_t stored = 3 + (8 - (bw.count + 3) % 8) % 8 + 32 + 40 * (chunks - 1) + 8 * k;

        if (stored <= fixed && stored <= dyn) {
            for (uint64_t c = 0; c < chunks; c++) {
                uint64_t at = start + c * 65535;
                uint32_t len = uint32_t(std::min<uint64_t>(65535, end - at));
                bw.put(final && c + 1 == chunks ? 1 : 0, 3);
                bw.align();
                uint8_t lens[4] = {uint8_t(len), uint8_t(len >> 8), uint8_t(~len), uint8_t(~len >> 8)};
                bw.bytes(lens, 4);
                bw.bytes(in + at, len);
            }
        } else if (dyn < fixed) {
            build_codes(w.dyn_len + F_LL, 286, w.dyn_code + F_LL);
            build_codes(w.dyn_len + F_DIST, 30, w.dyn_code + F_DIST);
            build_codes(w.dyn_len + F_CL, 19, w.dyn_code + F_CL);
            bw.put((final ? 1 : 0) | 2 << 1, 3);
            bw.put(uint32_t(hlit - 257), 5);
            bw.put(uint32_t(hdist - 1), 5);
            bw.put(uint32_t(hclen - 4), 4);
            for (int i = 0; i < hclen; i++) bw.put(w.dyn_len[F_CL + CL_ORDER[i]], 3);
            auto send = [this](int sym, int value, int bits) {
                bw.put(w.dyn_code[F_CL + sym], w.dyn_len[F_CL + sym]);
                if (bits) bw.put(uint32_t(value), unsigned(bits));
            };
            run_lengths(w.dyn_len + F_LL, hlit, send);
            run_lengths(w.dyn_len + F_DIST, hdist, send);
            write_symbols(count, w.dyn_code, w.dyn_len);
        } else {
            bw.put((final ? 1 : 0) | 1 << 1, 3);
            write_symbols(count, w.fix_code, w.fix_len);
        }
        std::memset(w.freq, 0, sizeof w.freq);
    }
};

// Length of the common run of a and b, at most `max` bytes.
inline uint32_t common_length(const uint8_t* a, const uint8_t* b, uint32_t max) {
    uint32_t len = 0;
    while (len + 8 <= max) {
        uint64_t x = load_le64(a + len) ^ load_le64(b + len);
        if (x) return len + uint32_t(__builtin_ctzll(x) >> 3);
        len += 8;
    }
    while (len < max && a[len] == b[len]) len++;
    return len;
}

// The longest match for position p along the hash chain from `candidate`,
// longer than `best`; answers `best` when there is none.
inline uint32_t longest_match(const uint8_t* in, const uint32_t* chain, uint32_t p, uint32_t candidate,
                              uint32_t best, uint32_t max_length, uint32_t* distance) {
    if (best >= max_length) return best;
    const uint8_t* s = in + p - 1;
    uint32_t limit = p > WINDOW ? p - WINDOW : 0;
    uint32_t tries = best >= GOOD_LENGTH ? MAX_CHAIN / 4 : MAX_CHAIN;
    uint32_t nice = std::min(NICE_LENGTH, max_length);
    do {
        const uint8_t* m = in + candidate - 1;
        // Same hash chain and equal first two bytes mean an equal third byte.
        if (m[best] == s[best] && m[best - 1] == s[best - 1] && m[0] == s[0] && m[1] == s[1]) {
            uint32_t len = 3 + common_length(s + 3, m + 3, max_length - 3);
            if (len > best) {
                best = len;
                *distance = p - candidate;
                if (len >= nice) break;
            }
        }
        candidate = chain[candidate & (WINDOW - 1)];
    } while (candidate > limit && --tries);
    return best;
}

int32_t finish_size(int32_t* size, uint64_t produced, uint64_t cap) {
    if (produced > uint64_t(INT32_MAX)) {
        *size = INT32_MAX;
        return BAD_DATA;
    }
    *size = int32_t(produced);
    return produced > cap ? TOO_SMALL : OK;
}

// Decompressor ----------------------------------------------------------------------------

// Decoding table entries: bits 0-3 the bits to consume, 4-6 the kind, 8-11
// the extra bits of a length or distance, 12-15 a subtable's index bits,
// 16-31 the value (literal, base, symbol or subtable start).
enum Kind : uint32_t { K_LITERAL = 0, K_BASE = 1, K_END = 2, K_SUBTABLE = 3, K_BAD = 4 };
inline uint32_t entry(uint32_t kind, uint32_t value, uint32_t extra, uint32_t consume) {
    return value << 16 | extra << 8 | kind << 4 | consume;
}
inline uint32_t e_consume(uint32_t e) { return e & 15; }
inline uint32_t e_kind(uint32_t e) { return (e >> 4) & 7; }
inline uint32_t e_extra(uint32_t e) { return (e >> 8) & 15; }
inline uint32_t e_subbits(uint32_t e) { return (e >> 12) & 15; }
inline uint32_t e_value(uint32_t e) { return e >> 16; }

constexpr unsigned LL_BITS = 10, DIST_BITS = 8, CL_BITS = 7;
constexpr size_t LL_TABLE = (1u << LL_BITS) + 288 * (1u << (15 - LL_BITS));
constexpr size_t DIST_TABLE = (1u << DIST_BITS) + 32 * (1u << (15 - DIST_BITS));
constexpr size_t CL_TABLE = 1u << CL_BITS;

// The entry template of a symbol of each alphabet.
uint32_t literal_length_entry(uint32_t s) {
    if (s < 256) return entry(K_LITERAL, s, 0, 0);
    if (s == END_OF_BLOCK) return entry(K_END, 0, 0, 0);
    if (s <= 285) return entry(K_BASE, LENGTH_BASE[s - 257], LENGTH_EXTRA[s - 257], 0);
    return entry(K_BAD, 0, 0, 0);  // 286 and 287 have no length
}
uint32_t distance_entry(uint32_t s) {
    return s < 30 ? entry(K_BASE, DIST_BASE[s], DIST_EXTRA[s], 0) : entry(K_BAD, 0, 0, 0);
}
uint32_t code_length_entry(uint32_t s) { return entry(K_LITERAL, s, 0, 0); }

// Builds the two-level table of a canonical code. False for lengths that
// over-subscribe the code space; bit patterns an incomplete code leaves
// unused decode as K_BAD.
bool build_table(const uint8_t* lengths, uint32_t n, uint32_t (*templ)(uint32_t), unsigned primary,
                 uint32_t* table) {
    uint32_t count[16] = {};
    for (uint32_t s = 0; s < n; s++) count[lengths[s]]++;
    count[0] = 0;
    int32_t left = 1;
    unsigned max_len = 0;
    for (unsigned len = 1; len < 16; len++) {
        left = left * 2 - int32_t(count[len]);
        if (left < 0) return false;
        if (count[len]) max_len = len;
    }
    uint32_t offset[16] = {};
    for (unsigned len = 1; len < 15; len++) offset[len + 1] = offset[len] + count[len];
    uint16_t sorted[288];
    for (uint32_t s = 0; s < n; s++)
        if (lengths[s]) sorted[offset[lengths[s]]++] = uint16_t(s);
    const uint32_t bad = entry(K_BAD, 0, 0, 0);
    const uint32_t size = 1u << primary;
    std::fill(table, table + size, bad);
    unsigned sub_bits = max_len > primary ? max_len - primary : 0;
    uint32_t next_sub = size;
    uint32_t code = 0, k = 0;
    for (unsigned len = 1; len <= max_len; len++) {
        for (uint32_t c = 0; c < count[len]; c++, code++) {
            uint32_t s = sorted[k++];
            uint32_t rev = reverse_bits(code, len);
            if (len <= primary) {
                uint32_t e = templ(s) | len;
                for (uint32_t i = rev; i < size; i += 1u << len) table[i] = e;
                continue;
            }
            uint32_t prefix = rev & (size - 1);
            if (e_kind(table[prefix]) != K_SUBTABLE) {
                table[prefix] = entry(K_SUBTABLE, next_sub, 0, primary) | sub_bits << 12;
                std::fill(table + next_sub, table + next_sub + (1u << sub_bits), bad);
                next_sub += 1u << sub_bits;
            }
            uint32_t* sub = table + e_value(table[prefix]);
            uint32_t e = templ(s) | (len - primary);
            for (uint32_t i = rev >> primary; i < (1u << sub_bits); i += 1u << (len - primary)) sub[i] = e;
        }
        code <<= 1;
    }
    return true;
}

struct FixedTables {
    uint32_t ll[LL_TABLE];
    uint32_t dist[DIST_TABLE];
    FixedTables() {
        uint8_t lengths[288];
        for (int s = 0; s < 288; s++) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        build_table(lengths, 288, literal_length_entry, LL_BITS, ll);
        std::memset(lengths, 5, 32);
        build_table(lengths, 32, distance_entry, DIST_BITS, dist);
    }
};
const FixedTables& fixed_tables() {
    static const FixedTables tables;
    return tables;
}

// Output bytes past the capacity are counted only; output past 2^31 - 1 bytes
// cannot be represented and ends decoding as malformed.
constexpr uint64_t MAX_OUTPUT = uint64_t(INT32_MAX);

struct Inflater {
    const uint8_t* start;
    const uint8_t* in;
    const uint8_t* end;
    uint64_t bits = 0;
    unsigned count = 0;
    uint32_t overrun = 0;  // zero bytes fed in past the input's end
    uint8_t* out;
    uint64_t cap;
    uint64_t pos = 0;
    uint32_t ll[LL_TABLE];
    uint32_t dist[DIST_TABLE];
    uint32_t cl[CL_TABLE];

    // Tops the buffer up to at least 56 bits. False once the stream has been
    // read well past its end (it is truncated).
    bool refill() {
        if (end - in >= 8) {
            bits |= load_le64(in) << count;
            in += (63 - count) >> 3;
            count |= 56;
            return true;
        }
        while (count <= 56) {
            uint64_t b = 0;
            if (in < end)
                b = *in++;
            else
                overrun++;
            bits |= b << count;
            count += 8;
        }
        return overrun <= 8;
    }
    uint32_t take(unsigned n) {
        uint32_t v = uint32_t(bits & ((uint64_t(1) << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }
    // Bits consumed past the input's end.
    bool overran() const {
        uint64_t fetched = uint64_t(in - start) + overrun;
        return fetched * 8 - count > uint64_t(end - start) * 8;
    }
    uint32_t decode(const uint32_t* table, unsigned primary) {
        uint32_t e = table[bits & ((1u << primary) - 1)];
        if (e_kind(e) == K_SUBTABLE) {
            bits >>= primary;
            count -= primary;
            e = table[e_value(e) + (bits & ((1u << e_subbits(e)) - 1))];
        }
        bits >>= e_consume(e);
        count -= e_consume(e);
        return e;
    }

    int32_t stored_block() {
        take(count & 7);
        if (!refill()) return BAD_DATA;
        uint32_t len = take(16);
        take(16);  // NLEN is not compared
        uint64_t at = uint64_t(in - start) + overrun - count / 8;
        uint64_t total = uint64_t(end - start);
        if (at > total) return BAD_DATA;
        if (len > total - at) return STORED_TOO_LONG;
        if (pos < cap) std::memcpy(out + pos, start + at, size_t(std::min<uint64_t>(len, cap - pos)));
        pos += len;
        in = start + at + len;
        bits = 0;
        count = 0;
        overrun = 0;
        return pos > MAX_OUTPUT ? BAD_DATA : OK;
    }

    int32_t dynamic_header() {
        if (!refill()) return BAD_DATA;
        uint32_t hlit = take(5) + 257, hdist = take(5) + 1, hclen = take(4) + 4;
        uint8_t lengths[320] = {};
        for (uint32_t i = 0; i < hclen; i++) {
            if (!refill()) return BAD_DATA;
            lengths[CL_ORDER[i]] = uint8_t(take(3));
        }
        if (!build_table(lengths, 19, code_length_entry, CL_BITS, cl)) return BAD_DATA;
        std::memset(lengths, 0, 19);
        uint32_t n = hlit + hdist;
        for (uint32_t i = 0; i < n;) {
            if (!refill()) return BAD_DATA;
            uint32_t e = decode(cl, CL_BITS);
            if (e_kind(e) == K_BAD) return BAD_DATA;
            uint32_t sym = e_value(e);
            if (sym < 16) {
                lengths[i++] = uint8_t(sym);
                continue;
            }
            uint32_t repeat;
            uint8_t value = 0;
            if (sym == 16) {
                if (i == 0) return BAD_DATA;
                value = lengths[i - 1];
                repeat = 3 + take(2);
            } else if (sym == 17) {
                repeat = 3 + take(3);
            } else {
                repeat = 11 + take(7);
            }
            if (repeat > n - i) return BAD_DATA;
            std::memset(lengths + i, value, repeat);
            i += repeat;
        }
        if (!build_table(lengths, hlit, literal_length_entry, LL_BITS, ll)) return BAD_DATA;
        if (!build_table(lengths + hlit, hdist, distance_entry, DIST_BITS, dist)) return BAD_DATA;
        return OK;
    }

    void copy_match(uint32_t length, uint32_t distance) {
        if (cap >= pos && cap - pos >= length + 8) {
            uint8_t* d = out + pos;
            const uint8_t* s = d - distance;
            if (distance >= 8) {
                for (uint32_t i = 0; i < length; i += 8) std::memcpy(d + i, s + i, 8);
            } else if (distance == 1) {
                std::memset(d, *s, length);
            } else {
                for (uint32_t i = 0; i < length; i++) d[i] = s[i];
            }
        } else {
            for (uint32_t i = 0; i < length; i++)
                if (pos + i < cap) out[pos + i] = out[pos + i - distance];
        }
        pos += length;
    }

    int32_t symbols(const uint32_t* lit, const uint32_t* dst) {
        for (;;) {
            if (!refill()) return BAD_DATA;
            uint32_t e = decode(lit, LL_BITS);
            switch (e_kind(e)) {
            case K_LITERAL:
                if (pos < cap) out[pos] = uint8_t(e_value(e));
                pos++;
                continue;
            case K_END: return pos > MAX_OUTPUT ? BAD_DATA : OK;
            case K_BAD:
            case K_SUBTABLE: return BAD_DATA;
            default: break;
            }
            uint32_t length = e_value(e) + take(e_extra(e));
            uint32_t d = decode(dst, DIST_BITS);
            if (e_kind(d) != K_BASE) return BAD_DATA;
            uint32_t distance = e_value(d) + take(e_extra(d));
            if (distance > pos) return BAD_DISTANCE;
            copy_match(length, distance);
            if (pos > MAX_OUTPUT) return BAD_DATA;
        }
    }

    int32_t run() {
        for (;;) {
            if (!refill()) return BAD_DATA;
            uint32_t final = take(1), type = take(2);
            int32_t status;
            if (type == 0) {
                status = stored_block();
            } else if (type == 1) {
                const FixedTables& fixed = fixed_tables();
                status = symbols(fixed.ll, fixed.dist);
            } else if (type == 2) {
                status = dynamic_header();
                if (status == OK) status = symbols(ll, dist);
            } else {
                return BAD_BLOCK_TYPE;
            }
            if (status != OK) return status;
            if (overran()) return BAD_DATA;  // the stream ended before its last block did
            if (final) return OK;
        }
    }
};

}  // namespace

int32_t deflate_compress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t n) {
    uint64_t cap = out && *size > 0 ? uint64_t(*size) : 0;
    Work* w = static_cast<Work*>(std::calloc(1, sizeof(Work)));
    if (!w) fatal_error(FATAL_NO_MEMORY);
    for (int s = 0; s < 288; s++) w->fix_len[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    for (int s = 0; s < 32; s++) w->fix_len[F_DIST + s] = 5;
    build_codes(w->fix_len + F_LL, 288, w->fix_code + F_LL);
    build_codes(w->fix_len + F_DIST, 32, w->fix_code + F_DIST);

    BitWriter bw{out, cap};
    Compressor c{*w, bw, in};
    const CodeMaps& maps = code_maps();
    unsigned hash_bits = 8;
    while (hash_bits < 15 && (1u << hash_bits) < n) hash_bits++;
    const uint32_t mask = (1u << hash_bits) - 1;
    uint32_t h = n >= 3 ? (uint32_t(in[0]) << 5) ^ in[1] : 0;

    uint32_t* head = w->head;
    uint32_t* chain = w->chain;
    uint32_t* freq = w->freq;
    uint32_t nsym = 0;
    uint64_t block_start = 0, covered = 0;
    uint32_t prev_length = 2, prev_distance = 0, skip = 0;
    bool pending = false;
    for (uint32_t p = 1; p <= n; p++) {
        uint32_t candidate = 0;
        if (p + 2 <= n) {
            h = ((h << 5) ^ in[p + 1]) & mask;
            candidate = head[h];
            head[h] = p;
            chain[p & (WINDOW - 1)] = candidate;
        }
        if (skip) {
            skip--;
            continue;
        }
        uint32_t length = 2, distance = 0;
        if (candidate && p - candidate <= MAX_DISTANCE && prev_length < LAZY_LIMIT) {
            length = longest_match(in, chain, p, candidate, prev_length, std::min(n - p + 1, MAX_MATCH), &distance);
            if (length == 3 && distance > FAR_LENGTH_3) length = 2;
        }
        if (prev_length >= 3 && length <= prev_length) {
            w->symbols[nsym++] = prev_distance << 8 | (prev_length - 3);
            freq[257 + maps.length_code[prev_length - 3]]++;
            freq[F_DIST + c.dist_code(prev_distance)]++;
            covered = uint64_t(p) - 2 + prev_length;
            skip = prev_length - 2;
            prev_length = 2;
            pending = false;
        } else {
            if (pending) {
                w->symbols[nsym++] = in[p - 2];
                freq[in[p - 2]]++;
                covered = p - 1;
            }
            pending = true;
            prev_length = length;
            prev_distance = distance;
        }
        if (nsym == BLOCK_SYMBOLS) {
            c.emit_block(nsym, block_start, covered, false);
            block_start = covered;
            nsym = 0;
        }
    }
    if (pending) {
        w->symbols[nsym++] = in[n - 1];
        freq[in[n - 1]]++;
        covered = n;
    }
    c.emit_block(nsym, block_start, covered, true);
    bw.align();
    std::free(w);
    return finish_size(size, bw.pos, cap);
}

int32_t inflate_decompress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t n) {
    uint64_t cap = out && *size > 0 ? uint64_t(*size) : 0;
    auto* s = static_cast<Inflater*>(std::malloc(sizeof(Inflater)));
    if (!s) fatal_error(FATAL_NO_MEMORY);
    s->start = s->in = in;
    s->end = in + n;
    s->bits = 0;
    s->count = 0;
    s->overrun = 0;
    s->out = out;
    s->cap = cap;
    s->pos = 0;
    int32_t status = s->run();
    uint64_t produced = s->pos;
    std::free(s);
    if (status != OK) {
        *size = int32_t(std::min<uint64_t>(produced, MAX_OUTPUT));
        return status;
    }
    return finish_size(size, produced, cap);
}

// zlib ------------------------------------------------------------------------------------

int32_t zlib_compress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t n) {
    int32_t cap = out ? *size : 0;
    if (cap < 6) {
        *size = int32_t(std::min<uint64_t>(uint64_t(n) + 6, MAX_OUTPUT));
        return BAD_DATA;
    }
    out[0] = 0x78;
    out[1] = 0x01;
    int32_t produced = cap - 2;
    int32_t status = deflate_compress(out + 2, &produced, in, n);
    if (status != OK) {
        *size = produced > INT32_MAX - 6 ? INT32_MAX : produced + 6;
        return status;
    }
    *size = produced + 6;
    if (produced + 6 > cap) return TOO_SMALL;
    uint32_t adler = checksum::adler32(in, n);
    for (int i = 0; i < 4; i++) out[2 + produced + i] = uint8_t(adler >> (24 - 8 * i));
    return OK;
}

int32_t zlib_decompress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t n) {
    if (n < 6) return BAD_DATA;
    uint32_t cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 15) != 8 || (cmf & 0x80) || (flg & 0x20)) return BAD_DATA;
    int32_t status = inflate_decompress(out, size, in + 2, n - 6);
    if (status != OK) return status;
    if (checksum::adler32(out, uint32_t(*size)) != load_be32(in + n - 4)) return BAD_DATA;
    return OK;
}

// gzip ------------------------------------------------------------------------------------

namespace {
constexpr uint8_t FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16;
inline bool is_gzip(const uint8_t* in, uint32_t n) {
    return n > 2 && in[0] == 0x1F && in[1] == 0x8B && in[2] == 0x08;
}
}  // namespace

int32_t gzip_compress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t n) {
    int32_t cap = out ? *size : 0;
    if (is_gzip(in, n)) {
        *size = int32_t(n);
        if (cap < int32_t(n)) return TOO_SMALL;
        std::memcpy(out, in, n);
        return OK;
    }
    if (cap < 18) {
        *size = int32_t(std::min<uint64_t>(uint64_t(n) + 18, MAX_OUTPUT));
        return BAD_DATA;
    }
    const uint8_t header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};
    std::memcpy(out, header, 10);
    int32_t produced = cap - 10;
    int32_t status = deflate_compress(out + 10, &produced, in, n);
    if (status != OK) {
        *size = produced > INT32_MAX - 18 ? INT32_MAX : produced + 18;
        return status;
    }
    *size = produced + 18;
    if (produced + 18 > cap) return TOO_SMALL;
    uint32_t crc = checksum::crc32(in, n);
    for (int i = 0; i < 4; i++) {
        out[10 + produced + i] = uint8_t(crc >> (8 * i));
        out[14 + produced + i] = uint8_t(n >> (8 * i));
    }
    return OK;
}

int32_t gzip_decompress(uint8_t* out, int32_t* size, const uint8_t* in, uint32_t n) {
    int32_t cap = out ? *size : 0;
    if (n < 18 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || (in[3] & 0xE0)) return BAD_DATA;
    uint8_t flags = in[3];
    uint32_t at = 10;
    if (flags & FEXTRA) {
        uint32_t xlen = uint32_t(in[10]) | uint32_t(in[11]) << 8;
        if (xlen > n - 12) return BAD_DATA;
        at += 2 + xlen;
    }
    for (uint8_t field : {FNAME, FCOMMENT}) {
        if (!(flags & field)) continue;
        while (at < n && in[at] != 0) at++;
        if (at >= n) return BAD_DATA;
        at++;
    }
    if (flags & FHCRC) {
        if (at >= n || n - at <= 2) return BAD_DATA;
        uint32_t stated = uint32_t(in[at]) | uint32_t(in[at + 1]) << 8;
        if (stated != (checksum::crc32(in, at) & 0xFFFF)) return BAD_DATA;
        at += 2;
    }
    if (at > n - 8) return BAD_DATA;
    uint32_t data_length = n - 8 - at;
    uint32_t isize = load_le32(in + n - 4);
    // The stated size is not trusted to reserve memory by.
    if (isize > uint32_t(INT32_MAX) || isize > max_expansion(data_length)) return BAD_DATA;
    if (int32_t(isize) > cap) {
        *size = int32_t(isize);
        return TOO_SMALL;
    }
    int32_t produced = cap;
    int32_t status = inflate_decompress(out, &produced, in + at, data_length);
    if (status != OK) {
        *size = produced;
        return status;
    }
    if (uint32_t(produced) != isize) return BAD_DATA;
    if (checksum::crc32(out, isize) != load_le32(in + n - 8)) return BAD_DATA;
    *size = int32_t(isize);
    return OK;
}

// Method words ----------------------------------------------------------------------------

namespace {
int32_t method_symbols[METHOD_COUNT];
}

void init_compression_words() {
    method_symbols[ZLIB] = symbol::make("zlib");
    method_symbols[DEFLATE] = symbol::make("deflate");
    method_symbols[GZIP] = symbol::make("gzip");
}

int method_of(int32_t sym) {
    int32_t canon = symbol::resolve(sym);
    for (int m = 0; m < METHOD_COUNT; m++)
        if (method_symbols[m] && symbol::resolve(method_symbols[m]) == canon) return m;
    return -1;
}

int32_t compress(int method, uint8_t* out, int32_t* size, const uint8_t* in, uint32_t n) {
    switch (method) {
    case ZLIB: return zlib_compress(out, size, in, n);
    case GZIP: return gzip_compress(out, size, in, n);
    default: return deflate_compress(out, size, in, n);
    }
}

int32_t decompress(int method, uint8_t* out, int32_t* size, const uint8_t* in, uint32_t n) {
    switch (method) {
    case ZLIB: return zlib_decompress(out, size, in, n);
    case GZIP: return gzip_decompress(out, size, in, n);
    default: return inflate_decompress(out, size, in, n);
    }
}

}  // namespace vyx::deflate
