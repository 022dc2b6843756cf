#include "runtime/unicode.h"

#include <algorithm>
#include <cstring>

#include "runtime/fatal.h"
#include "runtime/raise.h"

namespace vyx::unicode {

namespace {

// Character class of each byte, then transitions indexed by state + class.
// States are multiples of 12: 0 accept, 12 reject. Accepts exactly
// well-formed UTF-8.
constexpr uint8_t utf8_dfa[256 + 108] = {
    // 0x00-0x7F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x80-0x8F, 0x90-0x9F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    // 0xA0-0xBF
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    // 0xC0-0xC1, 0xC2-0xDF
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    // 0xE0, 0xE1-0xEC, 0xED, 0xEE-0xEF, 0xF0, 0xF1-0xF3, 0xF4, 0xF5-0xFF
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // transitions
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,   // 0: start
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 12: reject
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12,     // 24: one continuation left
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,  // 36: two left
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,  // 48: after E0 (A0-BF)
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,  // 60: after ED (80-9F)
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 72: after F0 (90-BF)
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 84: after F1-F3
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 96: after F4 (80-8F)
};
constexpr uint32_t ACCEPT = 0;
constexpr uint32_t REJECT = 12;

[[noreturn]] void raise_invalid_utf8(const uint8_t* p, uint32_t available) {
    // Copied first: making the binary allocates, and the input may live in a series.
    uint8_t bytes[4];
    uint32_t n = std::min<uint32_t>(available, 4);
    std::memcpy(bytes, p, n);
    Cell bin;
    make_binary_at(&bin, bytes, n);
    raise_error(err::access_invalid_utf8, &bin);
}

[[noreturn]] void raise_invalid_char(uint32_t cp) {
    Cell n{TYPE_INTEGER, 0, cp, 0};
    raise_error(err::script_invalid_char, &n);
}

inline uint32_t get_char(const uint8_t* p, uint32_t unit) {
    switch (unit) {
    case 1: return *p;
    case 2: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    case 4: { uint32_t v; std::memcpy(&v, p, 4); return v; }
    default: fatal_error(FATAL_NO_SWITCH);
    }
}

inline void put_char(uint8_t* p, uint32_t unit, uint32_t cp) {
    switch (unit) {
    case 1: *p = uint8_t(cp); break;
    case 2: { uint16_t v = uint16_t(cp); std::memcpy(p, &v, 2); break; }
    case 4: std::memcpy(p, &cp, 4); break;
    default: fatal_error(FATAL_NO_SWITCH);
    }
}

inline uint32_t unit_for(uint32_t cp) { return cp < 0x100 ? 1 : cp < 0x10000 ? 2 : 4; }

inline uint32_t unit_shift(uint32_t unit) { return unit >> 1; }  // 1->0, 2->1, 4->2

// Converts the whole content (data start to tail) to a wider unit, from the
// last character to the first so that source and target may overlap.
SeriesBuffer* widen(Node node, uint32_t from, uint32_t to) {
    SeriesBuffer* b = node_buffer(node);
    if (b->unit() != from) fatal_error(FATAL_NO_SWITCH);
    uint32_t factor = to / from;
    uint64_t need = uint64_t(b->tail) * factor + to;
    if (need > b->size) b = grow_series(b, int64_t(need));
    uint32_t n = b->tail / from;
    uint8_t* d = b->data();
    if (from == 1 && to == 2) {
        auto* out = reinterpret_cast<uint16_t*>(d);
        for (uint32_t i = n; i-- > 0;) out[i] = d[i];
    } else if (from == 1 && to == 4) {
        auto* out = reinterpret_cast<uint32_t*>(d);
        for (uint32_t i = n; i-- > 0;) out[i] = d[i];
    } else {
        auto* in = reinterpret_cast<uint16_t*>(d);
        auto* out = reinterpret_cast<uint32_t*>(d);
        for (uint32_t i = n; i-- > 0;) out[i] = in[i];
    }
    b->offset *= factor;
    b->tail *= factor;
    b->flags = (b->flags & ~series_flag::UNIT_MASK) | to;
    return b;
}

// Makes room for `extra` more bytes at the tail.
inline SeriesBuffer* ensure_room(Node node, uint64_t extra) {
    SeriesBuffer* b = node_buffer(node);
    if (uint64_t(b->tail) + extra > b->size) {
        uint64_t want = std::max<uint64_t>(uint64_t(b->tail) + extra, uint64_t(b->size) + b->size / 4);
        b = grow_series(b, int64_t(want));
    }
    return b;
}

}  // namespace

// ------------------------------------------------------------ decoding UTF-8

const uint8_t* fast_decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t& cp) {
    if (p >= end) {
        cp = -1;
        return p;
    }
    uint32_t byte = *p++;
    uint32_t cls = utf8_dfa[byte];
    uint32_t c = (0xFFu >> cls) & byte;
    uint32_t state = utf8_dfa[256 + cls];
    while (state != ACCEPT && state != REJECT) {
        if (p >= end) {
            cp = -1;
            return p;
        }
        byte = *p++;
        c = (c << 6) | (byte & 0x3F);
        state = utf8_dfa[256 + state + utf8_dfa[byte]];
    }
    cp = state == ACCEPT ? int32_t(c) : -1;
    return p;
}

uint32_t count_utf8_chars(const uint8_t* start, const uint8_t* end) {
    uint32_t n = 0;
    int32_t cp;
    while (start < end) {
        while (end - start >= 8) {
            uint64_t w;
            std::memcpy(&w, start, 8);
            if (w & 0x8080808080808080ull) break;
            start += 8;
            n += 8;
        }
        if (start >= end) break;
        if (*start < 0x80) {
            start++;
        } else {
            start = fast_decode_utf8_char(start, end, cp);
        }
        n++;
    }
    return n;
}

const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n) {
    int32_t cp;
    while (n-- > 0 && p < end) p = fast_decode_utf8_char(p, end, cp);
    return p;
}

int utf8_lead_length(uint8_t byte) {
    if ((byte & 0xF0) == 0xF0) return 4;
    if ((byte & 0xE0) == 0xE0) return 3;
    if ((byte & 0xC0) == 0xC0) return 2;
    return 0;
}

int32_t read_utf8_char_checked(const uint8_t* p, uint32_t& available) {
    if (available == 0) return -1;
    uint32_t byte = p[0];
    if (byte < 0x80) {
        available = 1;
        return int32_t(byte);
    }
    uint32_t cls = utf8_dfa[byte];
    uint32_t c = (0xFFu >> cls) & byte;
    uint32_t state = utf8_dfa[256 + cls];
    uint32_t i = 1;
    while (state != ACCEPT && state != REJECT) {
        if (i >= available) return -1;  // valid so far, cut off by the end
        byte = p[i++];
        c = (c << 6) | (byte & 0x3F);
        state = utf8_dfa[256 + state + utf8_dfa[byte]];
    }
    if (state == REJECT) raise_invalid_utf8(p, available);
    available = i;
    return int32_t(c);
}

namespace {

enum class RunEnd { Done, Widen, Incomplete };

// Stores characters of one unit until the input ends or a character needs a
// wider unit (left in `cp`, with `p` after it). The buffer has room for every
// byte left as one character of this unit.
template <typename T>
RunEnd load_run(const uint8_t*& p, const uint8_t* end, uint8_t*& out_bytes, bool crlf, uint32_t& cp) {
    T* out = reinterpret_cast<T*>(out_bytes);
    RunEnd result = RunEnd::Done;
    while (p < end) {
        if (!crlf && *p < 0x80) {
            // ASCII runs, eight bytes at a time.
            while (end - p >= 8) {
                uint64_t w;
                std::memcpy(&w, p, 8);
                if (w & 0x8080808080808080ull) break;
                if constexpr (sizeof(T) == 1) {
                    std::memcpy(out, p, 8);
                } else {
                    for (int i = 0; i < 8; i++) out[i] = T(p[i]);
                }
                out += 8;
                p += 8;
            }
            while (p < end && *p < 0x80) *out++ = T(*p++);
            if (p >= end) break;
        }
        uint32_t c;
        if (*p < 0x80) {
            c = *p++;
            if (c == '\r' && crlf) {
                if (p < end && *p == '\n') continue;
                c = '\n';
            }
        } else if (*p >= 0xC2 && *p <= 0xDF && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
            c = (uint32_t(p[0] & 0x1F) << 6) | (p[1] & 0x3F);
            p += 2;
            if (sizeof(T) == 1 && c > 0xFF) {
                cp = c;
                result = RunEnd::Widen;
                break;
            }
        } else if ((*p & 0xF0) == 0xE0 && end - p >= 3 && (p[2] & 0xC0) == 0x80 &&
                   (*p == 0xE0 ? (p[1] >= 0xA0 && p[1] <= 0xBF)
                    : *p == 0xED ? (p[1] >= 0x80 && p[1] <= 0x9F)
                                 : (p[1] & 0xC0) == 0x80)) {
            c = (uint32_t(p[0] & 0x0F) << 12) | (uint32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
            p += 3;
            if (sizeof(T) == 1) {
                cp = c;
                result = RunEnd::Widen;
                break;
            }
        } else {
            uint32_t avail = uint32_t(end - p);
            int32_t d = read_utf8_char_checked(p, avail);
            if (d < 0) {
                result = RunEnd::Incomplete;
                break;
            }
            p += avail;
            c = uint32_t(d);
            if (c > (sizeof(T) == 1 ? 0xFFu : sizeof(T) == 2 ? 0xFFFFu : 0x10FFFFu)) {
                cp = c;
                result = RunEnd::Widen;
                break;
            }
        }
        *out++ = T(c);
    }
    out_bytes = reinterpret_cast<uint8_t*>(out);
    return result;
}

}  // namespace

Node load_utf8_string(const uint8_t* bytes, uint32_t count, Node target, int32_t* unconsumed, bool crlf) {
    Node node = target;
    if (!node) {
        node = new_char_series(std::max<uint32_t>(count, 1), 1);
    } else {
        ensure_room(node, uint64_t(count) * node_buffer(node)->unit());
    }
    if (unconsumed) *unconsumed = 0;
    const uint8_t* p = bytes;
    const uint8_t* end = bytes + count;
    if (count >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;

    SeriesBuffer* b = node_buffer(node);
    uint8_t* out = b->data() + b->tail;
    for (;;) {
        uint32_t cp = 0;
        RunEnd r;
        // Where the data started before the run: once a raise has moved the
        // buffer, `b` may not be read at all.
        uint8_t* const base = b->data();
        try {
            switch (b->unit()) {
            case 1: r = load_run<uint8_t>(p, end, out, crlf, cp); break;
            case 2: r = load_run<uint16_t>(p, end, out, crlf, cp); break;
            case 4: r = load_run<uint32_t>(p, end, out, crlf, cp); break;
            default: fatal_error(FATAL_NO_SWITCH);
            }
        } catch (...) {
            // What was loaded so far stays in a target the caller holds. Raising
            // may have allocated and moved buffers: keep the offset, not `b`.
            if (target) {
                uint32_t loaded = uint32_t(out - base);  // offsets only: no access through b
                node_buffer(node)->tail = loaded;
            }
            throw;
        }
        b->tail = uint32_t(out - b->data());
        if (r == RunEnd::Done) break;
        if (r == RunEnd::Incomplete) {
            if (!unconsumed) raise_invalid_utf8(p, uint32_t(end - p));
            *unconsumed = int32_t(end - p);
            break;
        }
        // Widen, make room for the rest at the new unit, store the character.
        widen_for(node, cp);
        b = ensure_room(node, uint64_t(end - p + 1) * node_buffer(node)->unit());
        uint32_t unit = b->unit();
        put_char(b->data() + b->tail, unit, cp);
        b->tail += unit;
        out = b->data() + b->tail;
    }
    return node;
}

std::string repair_utf8(const uint8_t* bytes, size_t count) {
    std::string out;
    out.reserve(count);
    const uint8_t* p = bytes;
    const uint8_t* end = bytes + count;
    while (p < end) {
        uint32_t available = uint32_t(std::min<size_t>(size_t(end - p), 4));
        int32_t cp = -1;
        if (*p < 0x80) {
            cp = *p;
            available = 1;
        } else {
            // Strict decoding without raising: a lead byte that starts no valid sequence is one bad byte.
            const uint8_t* next = fast_decode_utf8_char(p, end, cp);
            uint32_t used = uint32_t(next - p);
            if (cp >= 0 && (cp < 0x80 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF ||
                            (used == 3 && cp < 0x800) || (used == 4 && cp < 0x10000)))
                cp = -1;
            available = cp < 0 ? 1 : used;
        }
        if (cp < 0) out += "\xEF\xBF\xBD";
        else out.append(reinterpret_cast<const char*>(p), available);
        p += available;
    }
    return out;
}

Node load_utf8_into_value(const uint8_t* bytes, uint32_t count, const Cell* value, int32_t* unconsumed) {
    return load_utf8_string(bytes, count, value->data2, unconsumed, false);
}

Node load_utf8_new(const uint8_t* bytes, uint32_t count) { return load_utf8_string(bytes, count, 0, nullptr, false); }

// ------------------------------------------------------------ encoding UTF-8

int utf8_length_of(uint32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp < 0x110000) return 4;
    raise_invalid_char(cp);
}

namespace {

// The UTF-8 bytes of cp; from 0x10000 on always four (callers check the range).
int encode_utf8(uint32_t cp, uint8_t* out) {
    if (cp < 0x80) {
        out[0] = uint8_t(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = uint8_t(0xC0 | (cp >> 6));
        out[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = uint8_t(0xE0 | (cp >> 12));
        out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = uint8_t(0xF0 | (cp >> 18));
    out[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    out[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    out[3] = uint8_t(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace

int write_utf8_char(uint32_t cp, uint8_t* out) {
    if (cp >= 0x110000) raise_invalid_char(cp);
    return encode_utf8(cp, out);
}

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
        return;
    }
    uint8_t bytes[4];
    out.append(reinterpret_cast<const char*>(bytes), size_t(encode_utf8(cp, bytes)));
}

int write_utf8_char_bounded(uint32_t cp, uint8_t* out, uint32_t room) {
    int n = utf8_length_of(cp);
    if (uint32_t(n) > room) return 0;
    return write_utf8_char(cp, out);
}

uint32_t chars_from_index(const Cell* value) {
    SeriesBuffer* b = node_buffer(value->data2);
    uint32_t len = b->length();
    return value->data1 < len ? len - value->data1 : 0;
}

namespace {

template <typename T>
uint8_t* encode_wide(const T* src, uint32_t n, uint8_t* o, bool crlf) {
    for (uint32_t i = 0; i < n; i++) {
        uint32_t c = src[i];
        if (c < 0x80) {
            if (c == '\n' && crlf) *o++ = '\r';
            *o++ = uint8_t(c);
        } else {
            o += write_utf8_char(c, o);
        }
    }
    return o;
}

// Encodes `n` characters from `src`; returns the bytes written.
uint32_t encode_run(const uint8_t* src, uint32_t n, uint32_t unit, uint8_t* out, bool crlf) {
    uint8_t* o = out;
    if (unit == 1) {
        for (uint32_t i = 0; i < n; i++) {
            if (!crlf) {
                // ASCII runs, eight bytes at a time.
                while (n - i >= 8) {
                    uint64_t w;
                    std::memcpy(&w, src + i, 8);
                    if (w & 0x8080808080808080ull) break;
                    std::memcpy(o, src + i, 8);
                    o += 8;
                    i += 8;
                }
                if (i >= n) break;
            }
            uint32_t c = src[i];
            if (c < 0x80) {
                if (c == '\n' && crlf) *o++ = '\r';
                *o++ = uint8_t(c);
            } else {
                *o++ = uint8_t(0xC0 | (c >> 6));
                *o++ = uint8_t(0x80 | (c & 0x3F));
            }
        }
    } else if (unit == 2) {
        o = encode_wide(reinterpret_cast<const uint16_t*>(src), n, o, crlf);
    } else {
        o = encode_wide(reinterpret_cast<const uint32_t*>(src), n, o, crlf);
    }
    return uint32_t(o - out);
}

}  // namespace

uint8_t* reserve_output(Cell* value, uint32_t size) {
    Node scratch = value->data3;
    if (scratch) {
        SeriesBuffer* s = node_buffer(scratch);
        if (s->size < size) s = grow_series_buffer(s, size);
        return s->data();
    }
    scratch = new_byte_series(size);
    value->data3 = scratch;
    return node_buffer(scratch)->data();
}

uint8_t* string_to_utf8(Cell* value, int32_t& limit_then_bytes, bool crlf) {
    uint32_t n = chars_from_index(value);
    if (limit_then_bytes >= 0 && uint32_t(limit_then_bytes) < n) n = uint32_t(limit_then_bytes);
    uint32_t unit = node_buffer(value->data2)->unit();
    static constexpr uint32_t bound[5] = {0, 2, 3, 0, 4};
    if (unit != 1 && unit != 2 && unit != 4) fatal_error(FATAL_NO_SWITCH);
    uint64_t size = (uint64_t(n) + 1) * bound[unit];
    if (size > 0xFFFFFFF0u) raise_error(err::internal_no_memory);
    uint8_t* out = reserve_output(value, uint32_t(size));
    SeriesBuffer* b = node_buffer(value->data2);  // re-read: reserving may allocate
    const uint8_t* src = b->head() + (uint64_t(value->data1) << unit_shift(unit));
    uint32_t bytes = encode_run(src, n, unit, out, crlf);
    out[bytes] = 0;
    limit_then_bytes = int32_t(bytes);
    return out;
}

uint8_t* to_utf8_buffer(Cell* value, uint32_t& bytes) {
    int32_t v = -1;
    uint8_t* out = string_to_utf8(value, v, false);
    bytes = uint32_t(v);
    return out;
}

uint8_t* to_utf8_buffer_limited(Cell* value, int32_t& limit_then_bytes, bool crlf) {
    return string_to_utf8(value, limit_then_bytes, crlf);
}

uint32_t encode_utf8_into(const Cell* value, uint8_t* dest, int32_t limit, bool nul) {
    uint32_t n = chars_from_index(value);
    if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
    SeriesBuffer* b = node_buffer(value->data2);
    uint32_t unit = b->unit();
    const uint8_t* src = b->head() + (uint64_t(value->data1) << unit_shift(unit));
    uint32_t bytes = encode_run(src, n, unit, dest, false);
    if (nul) dest[bytes] = 0;
    return bytes;
}

uint32_t encode_utf8_into_bounded(const Cell* value, uint8_t* dest, uint32_t room, int32_t limit, bool nul) {
    if (nul) {
        if (room == 0) return 0;
        room--;  // keep a byte for the NUL
    }
    uint32_t n = chars_from_index(value);
    if (limit > 0 && uint32_t(limit) < n) n = uint32_t(limit);
    SeriesBuffer* b = node_buffer(value->data2);
    uint32_t unit = b->unit();
    const uint8_t* src = b->head() + (uint64_t(value->data1) << unit_shift(unit));
    uint32_t used = 0;
    for (uint32_t i = 0; i < n; i++) {
        int w = write_utf8_char_bounded(get_char(src + uint64_t(i) * unit, unit), dest + used, room - used);
        if (w == 0) break;
        used += uint32_t(w);
    }
    if (nul) dest[used] = 0;
    return used;
}

// ------------------------------------------------------------ UTF-16LE

namespace {
inline uint32_t unit16_at(const uint8_t* units, uint32_t i) { return uint32_t(units[2 * i]) | uint32_t(units[2 * i + 1]) << 8; }
}  // namespace

uint32_t utf16_unit_needed(const uint8_t* units, uint32_t count) {
    uint32_t unit = 1;
    for (uint32_t i = 0; i < count; i++) {
        uint8_t high = units[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high) unit = 2;
    }
    return unit;
}

Node load_utf16_string(const uint8_t* units, uint32_t count, const Cell* target, bool cr) {
    uint32_t unit = utf16_unit_needed(units, count);
    Node node;
    if (target) {
        node = target->data2;
        SeriesBuffer* b = node_buffer(node);
        if (b->unit() < unit) {
            if (b->unit() == 1) b = unit == 2 ? widen_latin1_to_ucs2(node) : widen_latin1_to_ucs4(node);
            else b = widen_ucs2_to_ucs4(node);
        }
        unit = b->unit();
        ensure_room(node, uint64_t(count) * unit);
    } else {
        node = new_char_series(std::max<uint32_t>(count, 1), unit);
    }
    SeriesBuffer* b = node_buffer(node);
    uint8_t* out = b->data() + b->tail;
    uint8_t* start = out;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t u = unit16_at(units, i);
        if (u == 13 && cr) continue;
        uint32_t cp = u;
        if (unit == 4 && u >= 0xD800 && u <= 0xDBFF) {
            uint32_t low = i + 1 < count ? unit16_at(units, i + 1) : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                b->tail += uint32_t(out - start);  // what was loaded so far stays
                raise_invalid_char(u);
            }
            cp = (((u & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
            i++;
        }
        put_char(out, unit, cp);
        out += unit;
    }
    b->tail += uint32_t(out - start);
    return node;
}

uint64_t utf16_size_of_buffer(const uint8_t* start, uint32_t count, uint32_t unit) {
    uint64_t extra = 0;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = get_char(start + uint64_t(i) * unit, unit);
        if (c == '\n' || c >= 0x10000) extra += 2;
    }
    return extra;
}

int write_utf16_char(uint32_t cp, uint16_t* out) {
    if (cp < 0x10000) {
        out[0] = uint16_t(cp);
        return 1;
    }
    if (cp < 0x110000) {
        out[0] = uint16_t(0xD800 | ((cp - 0x10000) >> 10));
        out[1] = uint16_t(0xDC00 | ((cp - 0x10000) & 0x3FF));
        return 2;
    }
    return 0;
}

uint16_t* to_utf16_buffer(Cell* value, int32_t& limit_then_units, bool crlf) {
    uint32_t n = chars_from_index(value);
    if (limit_then_units >= 0 && uint32_t(limit_then_units) < n) n = uint32_t(limit_then_units);
    SeriesBuffer* b = node_buffer(value->data2);
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) fatal_error(FATAL_NO_SWITCH);
    uint64_t size = uint64_t(n) * 2 + 2 +
                    utf16_size_of_buffer(b->head() + (uint64_t(value->data1) << unit_shift(unit)), n, unit);
    if (size > 0xFFFFFFF0u) raise_error(err::internal_no_memory);
    auto* out = reinterpret_cast<uint16_t*>(reserve_output(value, uint32_t(size)));
    b = node_buffer(value->data2);
    const uint8_t* src = b->head() + (uint64_t(value->data1) << unit_shift(unit));
    uint32_t w = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t c = get_char(src + uint64_t(i) * unit, unit);
        if (c == '\n' && crlf) out[w++] = 13;
        int k = write_utf16_char(c, out + w);
        if (k == 0) return nullptr;
        w += uint32_t(k);
    }
    out[w] = 0;
    limit_then_units = int32_t(w);
    return out;
}

// ------------------------------------------------------------ widening

SeriesBuffer* widen_latin1_to_ucs2(Node node) { return widen(node, 1, 2); }
SeriesBuffer* widen_latin1_to_ucs4(Node node) { return widen(node, 1, 4); }
SeriesBuffer* widen_ucs2_to_ucs4(Node node) { return widen(node, 2, 4); }

SeriesBuffer* widen_for(Node node, uint32_t cp) {
    SeriesBuffer* b = node_buffer(node);
    uint32_t have = b->unit();
    uint32_t need = unit_for(cp);
    if (need <= have) return b;
    return widen(node, have, need);
}

void poke_char(Node node, uint32_t index, uint32_t cp) {
    SeriesBuffer* b = widen_for(node, cp);
    uint32_t unit = b->unit();
    put_char(b->head() + uint64_t(index) * unit, unit, cp);
}

void append_char(Node node, uint32_t cp) {
    SeriesBuffer* b = widen_for(node, cp);
    uint32_t unit = b->unit();
    b = ensure_room(node, unit);
    put_char(b->data() + b->tail, unit, cp);
    b->tail += unit;
}

Cell* make_binary_at(Cell* target, const uint8_t* bytes, uint32_t count) {
    Node n = new_byte_series(count);
    SeriesBuffer* b = node_buffer(n);
    if (count) std::memcpy(b->data() + b->tail, bytes, count);
    b->tail += count;
    *target = Cell{TYPE_BINARY, 0, n, 0};
    return target;
}

}  // namespace vyx::unicode
