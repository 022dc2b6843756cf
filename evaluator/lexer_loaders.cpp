// The lexer's loaders: one per value token kind. Each validates its token,
// appends the value when asked, and raises an invalid error of its datatype
// through lexer_raise_error on any violation.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point2d.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/lexer_internal.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace vyx::lexer {

namespace {

inline bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
inline int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
inline bool is_blank(uint8_t c) { return c == ' ' || c == '\t'; }

// ---------------------------------------------------------------- text

// Decoded characters of the token being loaded. Only used inside one loader
// call, which never scans again, so one buffer serves every scan.
std::u32string decoded;

// Decodes UTF-8 (with caret escapes when asked) into `decoded`; on failure
// returns the position of the offending character. `unit` is raised by
// ^(...) escapes of more than 2 or 4 hexadecimal digits.
const uint8_t* decode_text(const uint8_t* p, const uint8_t* end, bool escapes, uint32_t& unit) {
    decoded.clear();
    while (p < end) {
        uint8_t b = *p;
        if (b < 0x80 && !(escapes && b == '^')) {
            decoded += char32_t(b);
            p++;
            continue;
        }
        uint32_t cp;
        const uint8_t* next;
        if (b == '^') {
            int digits = 0;
            next = decode_char_escape(p + 1, end, cp, digits);
            if (digits > 4) unit = 4;
            else if (digits > 2 && unit < 2) unit = 2;
        } else {
            next = decode_utf8(p, end, cp);
        }
        if (!next) return p;
        decoded += char32_t(cp);
        p = next;
    }
    return nullptr;
}

// A series of `type` holding `decoded` in characters of `unit` bytes (raised
// when a character needs more).
Cell text_value(int type, uint32_t unit) {
    for (char32_t c : decoded) {
        if (c > 0xFFFF) unit = 4;
        else if (c > 0xFF && unit < 2) unit = 2;
    }
    uint32_t n = uint32_t(decoded.size());
    Cell v{};
    string::make_at(&v, n, unit);
    SeriesBuffer* b = node_buffer(v.data2);
    uint8_t* at = b->data();
    switch (unit) {
    case 1: for (uint32_t i = 0; i < n; i++) at[i] = uint8_t(decoded[i]); break;
    case 2: for (uint32_t i = 0; i < n; i++) reinterpret_cast<uint16_t*>(at)[i] = uint16_t(decoded[i]); break;
    default: for (uint32_t i = 0; i < n; i++) reinterpret_cast<uint32_t*>(at)[i] = uint32_t(decoded[i]); break;
    }
    b->tail = b->offset + n * unit;
    v.header = uint32_t(type);
    return v;
}

// A series of `type` holding plain ASCII bytes.
Cell ascii_value(int type, const uint8_t* p, const uint8_t* end) {
    uint32_t n = uint32_t(end - p);
    Cell v{};
    string::make_at(&v, n, 1);
    SeriesBuffer* b = node_buffer(v.data2);
    if (n) std::memcpy(b->data(), p, n);
    b->tail = b->offset + n;
    v.header = uint32_t(type);
    return v;
}

// Loads the text [p, end) as a series of `type`.
void load_text(State& s, const uint8_t* p, const uint8_t* end, uint32_t flags, bool escapes, int type,
               bool load, const uint8_t* token) {
    bool plain = !(flags & (flag::LEAD_2_3 | flag::LEAD_4)) && !(escapes && (flags & flag::CARET));
    if (plain) {
        for (const uint8_t* q = p; q < end; q++)
            if (*q >= 0x80) {
                plain = false;
                break;
            }
    }
    if (plain) {
        if (load) emit(s, ascii_value(type, p, end));
        return;
    }
    uint32_t unit = unit_from_flags(flags);
    if (decode_text(p, end, escapes, unit)) lexer_raise_error(s, token, end, type);
    if (load) emit(s, text_value(type, unit));
}

// The url decoding of file and url names: % and two hexadecimal digits
// become that byte; bytes that form UTF-8 characters become those characters.
void percent_decode() {
    std::string bytes;
    bool changed = false;
    for (size_t i = 0; i < decoded.size(); i++) {
        char32_t c = decoded[i];
        if (c == '%' && i + 2 < decoded.size() && decoded[i + 1] < 0x80 && decoded[i + 2] < 0x80 &&
            hex_value(uint8_t(decoded[i + 1])) >= 0 && hex_value(uint8_t(decoded[i + 2])) >= 0) {
            bytes += char(hex_value(uint8_t(decoded[i + 1])) * 16 + hex_value(uint8_t(decoded[i + 2])));
            i += 2;
            changed = true;
            continue;
        }
        // Characters pass through as UTF-8 so they rejoin the decoded bytes.
        unicode::append_utf8(bytes, uint32_t(c));
    }
    if (!changed) return;
    decoded.clear();
    auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    auto* end = p + bytes.size();
    while (p < end) {
        uint32_t cp;
        const uint8_t* next = *p < 0x80 ? nullptr : decode_utf8(p, end, cp);
        if (next) {
            decoded += char32_t(cp);
            p = next;
        } else {
            decoded += char32_t(*p++);  // a byte that is no UTF-8 character stands for itself
        }
    }
}

void load_url_text(State& s, const uint8_t* p, const uint8_t* end, uint32_t flags, bool escapes, int type,
                   bool load, const uint8_t* token) {
    bool has_percent = std::memchr(p, '%', size_t(end - p)) != nullptr;
    if (!has_percent) {
        load_text(s, p, end, flags, escapes, type, load, token);
        return;
    }
    uint32_t unit = unit_from_flags(flags);
    if (decode_text(p, end, escapes, unit)) lexer_raise_error(s, token, end, type);
    percent_decode();
    if (load) emit(s, text_value(type, unit));
}

// ---------------------------------------------------------------- words

void emit_word(State& s, int type, const uint8_t* name, const uint8_t* end) {
    int32_t sym = symbol::make(std::string_view(reinterpret_cast<const char*>(name), size_t(end - name)));
    // Unbound: in the global context, looked up on first use (index -1).
    emit(s, word::make_cell(type, context::global, sym, -1));
}

void load_refinement(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    ptrdiff_t n = end - start;
    int type = TYPE_REFINEMENT;
    const uint8_t* name = start + 1;
    const uint8_t* stop = end;
    if (n == 1) {
        type = TYPE_WORD;
        name = start;
    } else if (n == 2) {
        if (*start == '\'') type = TYPE_LIT_WORD;
        else if (*start == ':') type = TYPE_GET_WORD;
        else if (end[-1] == ':') {
            type = TYPE_SET_WORD;
            name = start;
            stop = end - 1;
        } else if (*start != '/') lexer_raise_error(s, start, end, TYPE_REFINEMENT);
    } else if (*start != '/') {
        lexer_raise_error(s, start, end, TYPE_REFINEMENT);
    }
    for (const uint8_t* q = name; q < stop; q++) {
        if (*q >= 0x80) {
            uint32_t cp;
            const uint8_t* next = decode_utf8(q, stop, cp);
            if (!next) lexer_raise_error(s, start, end, TYPE_REFINEMENT);
            q = next - 1;
        }
    }
    s.type = type;
    if (load) emit_word(s, type, name, stop);
}

// ---------------------------------------------------------------- strings

void load_file(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.type = TYPE_FILE;
    if (end - start >= 2 && start[1] == '"') {
        // Quoted: the automaton stopped on the closing quote, which must be there.
        if (end >= s.input_end || *end != '"') lexer_raise_error(s, start, end, TYPE_FILE);
        s.pos = end + 1;
        load_url_text(s, start + 2, end, flags, true, TYPE_FILE, load, start);
        return;
    }
    s.pos = end;
    load_url_text(s, start + 1, end, flags, false, TYPE_FILE, load, start);
}

void load_tag(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (*start != '<') lexer_raise_error(s, start, end, TYPE_TAG);
    s.pos = end + 1;
    s.type = TYPE_TAG;
    load_text(s, start + 1, end, flags, false, TYPE_TAG, load, start);
}

void load_url(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (*start == ':') lexer_raise_error(s, start, end, TYPE_GET_WORD);
    if (*start == '\'') lexer_raise_error(s, start, end, TYPE_LIT_WORD);
    s.pos = end;
    s.type = TYPE_URL;
    load_url_text(s, start, end, flags, false, TYPE_URL, load, start);
}

void load_email(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    s.type = TYPE_EMAIL;
    load_text(s, start, end, flags, false, TYPE_EMAIL, load, start);
}

void load_ref(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    s.type = TYPE_REF;
    load_text(s, start + 1, end, flags, false, TYPE_REF, load, start);
}

void load_raw_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    // %%{ ... }%%: as many % after the closing } as before the opening {.
    const uint8_t* p = start;
    size_t count = 0;
    while (p < end && *p == '%') {
        p++;
        count++;
    }
    const uint8_t* body = p + 1;  // after {
    auto closes_at = [&](const uint8_t* q) {
        if (q >= s.input_end || *q != '}' || size_t(s.input_end - q - 1) < count) return false;
        for (size_t i = 1; i <= count; i++)
            if (q[i] != '%') return false;
        return true;
    };
    // The token ends after the first } and % run; search on when that run is short.
    const uint8_t* close = nullptr;
    const uint8_t* q = end;
    while (q > body && q[-1] == '%') q--;
    if (q > body && q[-1] == '}' && size_t(end - q) == count) close = q - 1;
    for (const uint8_t* r = body; !close && r < s.input_end; r++)
        if (closes_at(r)) close = r;
    if (!close) lexer_raise_error(s, start, end, TYPE_STRING);
    s.pos = close + 1 + count;
    if (!load && s.tracer) {
        // Only scanning: the raw string is announced like a braced one.
        if (!trace(s, EV_OPEN, TYPE_STRING, start, body, K_RAW_STRING)) throw QuietStop{false};
        if (!trace(s, EV_CLOSE, TYPE_STRING, start, s.pos, K_RAW_STRING)) throw QuietStop{false};
    }
    s.type = TYPE_STRING;
    uint32_t raw_flags = flags;
    for (const uint8_t* r = body; r < close; r++)
        if (*r >= 0x80) raw_flags |= (*r >= 0xF0 ? flag::LEAD_4 : flag::LEAD_2_3);
    // Lines inside the text past the token end are counted here.
    for (const uint8_t* r = end; r < s.pos; r++) s.line += *r == '\n';
    load_text(s, body, close, raw_flags, false, TYPE_STRING, load, start);
}

// ---------------------------------------------------------------- chars and binaries

void load_char(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    // #"x": the automaton stopped on the closing quote.
    const uint8_t* p = start + 2;
    if (end - start < 3 || start[1] != '"' || end >= s.input_end || *end != '"') lexer_raise_error(s, start, end, TYPE_CHAR);
    uint32_t cp;
    const uint8_t* next;
    if (*p == '^') {
        int digits = 0;
        next = decode_char_escape(p + 1, end, cp, digits);
    } else if (*p < 0x80) {
        cp = *p;
        next = p + 1;
    } else {
        next = decode_utf8(p, end, cp);
    }
    if (!next || next != end || cp > 0x10FFFF) lexer_raise_error(s, start, end + 1, TYPE_CHAR);
    s.pos = end + 1;
    s.type = TYPE_CHAR;
    if (load) emit(s, Cell{TYPE_CHAR, 0, cp, 0});
}

// Skips blanks and ; comments of a binary's content; returns false at a
// character that is neither.
bool skip_binary_blank(const uint8_t*& p, const uint8_t* end) {
    uint8_t c = *p;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        p++;
        return true;
    }
    if (c == ';') {
        while (p < end && *p != '\n') p++;
        return true;
    }
    return false;
}

int base64_value(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes the content; `out` may be null (validation). Returns the bytes
// written, or sets `bad` to the offending character.
uint32_t decode_binary(int base, const uint8_t* p, const uint8_t* end, uint8_t* out, const uint8_t*& bad) {
    uint32_t n = 0;
    bad = nullptr;
    if (base == 16) {
        int high = -1;
        const uint8_t* high_at = nullptr;
        while (p < end) {
            if (skip_binary_blank(p, end)) continue;
            int v = hex_value(*p);
            if (v < 0) return bad = p, 0;
            if (high < 0) {
                high = v;
                high_at = p;
            } else {
                if (out) out[n] = uint8_t(high * 16 + v);
                n++;
                high = -1;
            }
            p++;
        }
        if (high >= 0) bad = high_at;
        return n;
    }
    if (base == 2) {
        int bits = 0, value = 0;
        const uint8_t* group = nullptr;
        while (p < end) {
            if (skip_binary_blank(p, end)) continue;
            if (*p != '0' && *p != '1') return bad = p, 0;
            if (bits == 0) group = p;
            value = value * 2 + (*p - '0');
            if (++bits == 8) {
                if (out) out[n] = uint8_t(value);
                n++;
                bits = value = 0;
            }
            p++;
        }
        if (bits) bad = group;
        return n;
    }
    // base 64
    uint32_t acc = 0;
    int count = 0, pad = 0;
    const uint8_t* group = nullptr;
    while (p < end) {
        uint8_t c = *p;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ';') {
            skip_binary_blank(p, end);
            continue;
        }
        if (pad) {
            // After = only more = to complete the group, then nothing.
            if (c != '=' || count + pad >= 4) return bad = p, 0;
            pad++;
            p++;
            continue;
        }
        if (c == '=') {
            if (count < 2) return bad = p, 0;
            pad = 1;
            p++;
            continue;
        }
        int v = base64_value(c);
        if (v < 0) return bad = p, 0;
        if (count == 0) group = p;
        acc = (acc << 6) | uint32_t(v);
        if (++count == 4) {
            if (out) {
                out[n] = uint8_t(acc >> 16);
                out[n + 1] = uint8_t(acc >> 8);
                out[n + 2] = uint8_t(acc);
            }
            n += 3;
            acc = 0;
            count = 0;
        }
        p++;
    }
    if (pad) {
        if (count + pad != 4) return bad = group ? group : end, 0;
        if (count == 2) {
            if (out) out[n] = uint8_t(acc >> 4);
            n += 1;
        } else {
            if (out) {
                out[n] = uint8_t(acc >> 10);
                out[n + 1] = uint8_t(acc >> 2);
            }
            n += 2;
        }
    } else if (count) {
        bad = group;
    }
    return n;
}

void load_binary(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    int base = 16;
    const uint8_t* p = start;
    if (is_digit(*p)) {
        base = 0;
        for (; p < end && is_digit(*p); p++) base = base > 1000 ? base : base * 10 + (*p - '0');
    }
    if ((base != 2 && base != 16 && base != 64) || p + 1 >= end || p[0] != '#' || p[1] != '{' ||
        end >= s.input_end || *end != '}')
        lexer_raise_error(s, start, end, TYPE_BINARY);
    const uint8_t* content = p + 2;
    const uint8_t* bad = nullptr;
    uint32_t length = uint32_t(end - content);
    decode_binary(base, content, end, nullptr, bad);
    if (bad) lexer_raise_error(s, bad, end, TYPE_BINARY);
    s.pos = end + 1;
    s.type = TYPE_BINARY;
    if (!load) return;
    uint32_t capacity = base == 16 ? length / 2 : base == 64 ? (length + 3) * 3 / 4 : length / 8;
    Cell v{};
    binary::make_at(&v, capacity);
    SeriesBuffer* b = node_buffer(v.data2);
    uint32_t n = decode_binary(base, content, end, b->data(), bad);
    b->tail = b->offset + n;
    emit(s, v);
}

// ---------------------------------------------------------------- numbers

// A decimal integer as written: an optional sign, then digits that single
// ' separators may split.
struct DecimalInteger {
    bool negative = false;
    int64_t value = 0;  // of the first 11 digits: enough to tell it does not fit
    int digits = 0;

    bool fits_int32() const { return digits <= 10 && value <= (negative ? 2147483648LL : 2147483647LL); }
    int32_t as_int32() const { return int32_t(negative ? -value : value); }
};

// False on a character that is no digit or on two separators in a row.
bool read_decimal_integer(const uint8_t* p, const uint8_t* end, DecimalInteger& n) {
    if (p < end && (*p == '+' || *p == '-')) n.negative = *p++ == '-';
    bool after_separator = false;
    for (; p < end; p++) {
        if (*p == '\'') {
            if (after_separator) return false;
            after_separator = true;
            continue;
        }
        if (!is_digit(*p)) return false;
        after_separator = false;
        if (++n.digits <= 11) n.value = n.value * 10 + (*p - '0');
    }
    return true;
}

void load_integer_token(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    if (end - start == 1 && is_digit(*start)) {
        if (load) emit(s, Cell{TYPE_INTEGER, 0, uint32_t(*start - '0'), 0});
        return;
    }
    DecimalInteger n;
    if (!read_decimal_integer(start, end, n) || n.digits == 0) lexer_raise_error(s, start, end, TYPE_INTEGER);
    if (!n.fits_int32()) {
        s.type = TYPE_FLOAT;
        load_float(s, start, end, flags, load);
        return;
    }
    if (load) emit(s, Cell{TYPE_INTEGER, 0, uint32_t(n.as_int32()), 0});
}

constexpr size_t MAX_FLOAT_TEXT = 312;

// Converts a checked decimal text (separators dropped); false when the
// conversion leaves characters unread.
bool convert_decimal(const uint8_t* start, const uint8_t* end, int extra_exponent, double& value) {
    char text[MAX_FLOAT_TEXT + 1];
    size_t n = 0;
    for (const uint8_t* p = start; p < end; p++)
        if (*p != '\'') text[n++] = char(*p);
    int unread = 0;
    value = decimal_to_double(text, text + n, extra_exponent, &unread);
    return unread == 0;
}

void load_decimal(State& s, const uint8_t* start, const uint8_t* end, bool load, int extra, int type) {
    double value = 0;
    if (size_t(end - start) > MAX_FLOAT_TEXT || !float_syntax_ok(start, end) ||
        !convert_decimal(start, end, extra, value))
        lexer_raise_error(s, start, end, TYPE_FLOAT);
    if (!load) return;
    Cell v{};
    if (type == TYPE_PERCENT) percent::make_at(&v, value);
    else float_::make_at(&v, value);
    emit(s, v);
}

void load_percent(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end < s.input_end ? end + 1 : end;
    s.type = TYPE_PERCENT;
    load_decimal(s, start, end, load, -2, TYPE_PERCENT);
}

// Reads "1.#INF", "-1.#INF" or "1.#NaN" (any letter case); false otherwise.
bool read_special_float(const uint8_t* p, const uint8_t* end, double& value) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') return false;
    char name[4] = {char(p[3] & ~0x20), char(p[4] & ~0x20), char(p[5] & ~0x20), 0};
    if (std::strcmp(name, "NAN") == 0) value = std::numeric_limits<double>::quiet_NaN();
    else if (std::strcmp(name, "INF") == 0) value = negative ? -HUGE_VAL : HUGE_VAL;
    else return false;
    return true;
}

void load_float_special_token(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    double value;
    if (!read_special_float(start, end, value)) lexer_raise_error(s, start, end, TYPE_FLOAT);
    Cell v{};
    if (load) emit(s, *float_::make_at(&v, value));
}

void load_hex_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    ptrdiff_t digits = end - start - 1;  // the token ends with h
    bool letter_first = !is_digit(*start);
    for (const uint8_t* p = start; p < end - 1; p++)
        if (hex_value(*p) < 0) lexer_raise_error(s, start, end, TYPE_INTEGER);
    if (digits < 2 || digits > 8) lexer_raise_error(s, start, end, letter_first && digits < 2 ? TYPE_WORD : TYPE_INTEGER);
    uint32_t value = 0;
    for (const uint8_t* p = start; p < end - 1; p++) value = value * 16 + uint32_t(hex_value(*p));
    s.type = TYPE_INTEGER;
    if (load) emit(s, Cell{TYPE_INTEGER, 0, value, 0});
}

void load_tuple(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    uint8_t bytes[tuple::MAX_LENGTH];
    int count = 0;
    const uint8_t* p = start;
    while (true) {
        uint32_t part = 0;
        const uint8_t* digits = p;
        for (; p < end && is_digit(*p); p++) {
            part = part * 10 + uint32_t(*p - '0');
            if (part > 255) lexer_raise_error(s, start, end, TYPE_TUPLE);
        }
        if (p == digits || count == tuple::MAX_LENGTH) lexer_raise_error(s, start, end, TYPE_TUPLE);
        bytes[count++] = uint8_t(part);
        if (p == end) break;
        if (*p != '.') lexer_raise_error(s, start, end, TYPE_TUPLE);
        p++;
    }
    if (count < 3) lexer_raise_error(s, start, end, TYPE_TUPLE);
    Cell v{};
    if (load) emit(s, *tuple::make_at(&v, bytes, count));
}

// A part of a pair, read like a decimal integer; false when it is empty, is
// no integer or does not fit 32 bits.
bool read_pair_part(const uint8_t* p, const uint8_t* end, int32_t& out) {
    DecimalInteger n;
    if (!read_decimal_integer(p, end, n) || n.digits == 0 || !n.fits_int32()) return false;
    out = n.as_int32();
    return true;
}

void load_pair(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    const uint8_t* x_end = start + 1;
    while (x_end < end && *x_end != 'x' && *x_end != 'X') x_end++;
    int32_t x = 0, y = 0;
    if ((flags & flag::DOT) && std::memchr(start, '.', size_t(end - start))) lexer_raise_error(s, start, end, TYPE_PAIR);
    if (x_end >= end || !read_pair_part(start, x_end, x) || !read_pair_part(x_end + 1, end, y))
        lexer_raise_error(s, start, end, TYPE_PAIR);
    Cell v{};
    if (load) emit(s, *pair::make_at(&v, x, y));
}

void load_point_impl(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    // The token runs from ( to the ) where the automaton stopped.
    s.pos = end < s.input_end ? end + 1 : end;
    s.type = TYPE_POINT2D;
    const uint8_t* close = end;
    const uint8_t* p = start + 1;
    float v[3] = {};
    int n = 0;
    int kind = TYPE_POINT2D;
    if (close >= s.input_end || *close != ')') lexer_raise_error(s, start, end, TYPE_POINT2D);
    while (true) {
        while (p < close && is_blank(*p)) p++;
        const uint8_t* q = p;
        while (q < close && *q != ',' && !is_blank(*q)) q++;
        if (q == p) lexer_raise_error(s, start, close + 1, kind);
        double d;
        bool special = std::memchr(p, '#', size_t(q - p)) != nullptr;
        if (special ? !read_special_float(p, q, d)
                    : (size_t(q - p) > MAX_FLOAT_TEXT || !float_syntax_ok(p, q) || !convert_decimal(p, q, 0, d)))
            lexer_raise_error(s, p, close + 1, TYPE_FLOAT);
        v[n++] = float(d);
        p = q;
        while (p < close && is_blank(*p)) p++;
        if (p == close) break;
        if (*p != ',' || n == 3) lexer_raise_error(s, start, close + 1, kind);
        if (n == 2) kind = TYPE_POINT3D;
        p++;
    }
    if (n < 2) lexer_raise_error(s, start, close + 1, kind);
    s.type = n == 3 ? TYPE_POINT3D : TYPE_POINT2D;
    if (!load) return;
    Cell c{};
    if (n == 2) point2d::make_at(&c, v[0], v[1]);
    else point3d::make_at(&c, v[0], v[1], v[2]);
    emit(s, c);
}

// ---------------------------------------------------------------- time

// Optional -, digits with ' skipped anywhere; stops at the first other byte.
const uint8_t* read_integer(const uint8_t* p, const uint8_t* end, int32_t& value, int& error) {
    const uint8_t* start = p;
    bool negative = false;
    error = 0;
    if (p < end && *p == '-') {
        negative = true;
        p++;
    }
    int64_t v = 0;
    bool overflow = false;
    for (; p < end && (is_digit(*p) || *p == '\''); p++) {
        if (*p == '\'') continue;
        v = v * 10 + (*p - '0');
        if (v > 2147483648LL) overflow = true, v = 2147483648LL;
    }
    if (negative) v = -v;
    if (overflow || v > 2147483647LL ||
        (v == -2147483648LL && std::string_view(reinterpret_cast<const char*>(start), size_t(p - start)) != "-2147483648"))
        error = -5;
    value = int32_t(v);
    return p;
}

// At most `max` digits; -2 when at the end, -1 when no digit or not exactly
// `required` (when above 0).
const uint8_t* read_digits(const uint8_t* p, const uint8_t* end, int required, int max, int32_t& value,
                           int& error) {
    error = 0;
    if (p >= end) {
        error = -2;
        return p;
    }
    int n = 0;
    int32_t v = 0;
    for (; p < end && n < max && is_digit(*p); p++, n++) v = v * 10 + (*p - '0');
    value = v;
    if (n == 0 || (required > 0 && n != required)) error = -1;
    return p;
}

// The longest run of digits and dots, as seconds; `error` is the count of
// characters the conversion left unread.
const uint8_t* read_seconds(const uint8_t* p, const uint8_t* end, double& seconds, int& error) {
    const uint8_t* q = p;
    while (q < end && (is_digit(*q) || *q == '.')) q++;
    seconds = 0;
    error = 0;
    if (q > p) seconds = decimal_to_double(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(q), 0, &error);
    return q;
}

void load_time(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    const uint8_t* p = start;
    bool negative = *p == '-';
    if (*p == '+') p++;
    int32_t hours = 0, minutes = 0;
    int error;
    p = read_integer(p, end, hours, error);
    if (error || p >= end || *p != ':') lexer_raise_error(s, start, end, TYPE_TIME);
    const uint8_t* minutes_at = ++p;
    p = read_integer(p, end, minutes, error);
    if (error || minutes < 0) lexer_raise_error(s, start, end, TYPE_TIME);
    double seconds = 0;
    double minutes_value = minutes;
    if (p < end) {
        uint8_t sep = *p++;
        if (p == end && sep == ':') lexer_raise_error(s, start, end, TYPE_TIME);
        const uint8_t* from = p;
        if (sep == '.') {
            minutes_value = std::fabs(double(hours));
            hours = 0;
            from = minutes_at;
        } else if (sep != ':') {
            lexer_raise_error(s, start, end, TYPE_TIME);
        }
        int unread = 0;
        seconds = decimal_to_double(reinterpret_cast<const char*>(from), reinterpret_cast<const char*>(end), 0, &unread);
        if (unread || seconds < 0 || from == end) lexer_raise_error(s, start, end, TYPE_TIME);
    }
    double total = std::fabs(double(hours)) * 3600.0 + minutes_value * 60.0 + seconds;
    if (negative) total = -total;
    Cell v{};
    if (load) emit(s, *time::make_at(total, &v));
}

// ---------------------------------------------------------------- money

void load_money(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    const uint8_t* p = start;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const uint8_t* dollar = static_cast<const uint8_t*>(std::memchr(p, '$', size_t(end - p)));
    if (!dollar || (dollar != p && dollar - p != 3)) lexer_raise_error(s, start, end, TYPE_MONEY);
    std::string_view code(reinterpret_cast<const char*>(p), size_t(dollar - p));
    p = dollar + 1;
    if (p >= end || !is_digit(*p)) lexer_raise_error(s, start, end, TYPE_MONEY);
    while (p < end && (*p == '0' || *p == '\'')) {
        if (*p == '\'' && (p[-1] == '\'' || p + 1 == end)) lexer_raise_error(s, start, end, TYPE_MONEY);
        p++;
    }
    const uint8_t* significant = p;
    const uint8_t* mark = nullptr;
    int integer_digits = 0, fraction_digits = 0;
    for (const uint8_t* q = p; q < end; q++) {
        uint8_t c = *q;
        if (c == '\'') {
            if (mark || q[-1] == '\'' || q + 1 == end) lexer_raise_error(s, start, end, TYPE_MONEY);
        } else if (c == '.' || c == ',') {
            if (mark || q + 1 >= end || !is_digit(q[1])) lexer_raise_error(s, start, end, TYPE_MONEY);
            mark = q;
        } else if (is_digit(c)) {
            (mark ? fraction_digits : integer_digits)++;
        } else {
            lexer_raise_error(s, start, end, TYPE_MONEY);
        }
    }
    if (integer_digits > money::INTEGER_DIGITS || fraction_digits > money::FRACTION_DIGITS)
        lexer_raise_error(s, start, end, TYPE_MONEY);
    Cell v{TYPE_UNSET, 0, 0, 0};
    if (!money::from_string(&v, negative, code, reinterpret_cast<const char*>(significant),
                            reinterpret_cast<const char*>(mark), reinterpret_cast<const char*>(end)))
        lexer_raise_error(s, start, end, TYPE_MONEY);
    if (load) emit(s, v);
}

// ---------------------------------------------------------------- dates

const char* const MONTH_NAMES[12] = {"january", "february", "march",     "april",   "may",      "june",
                                     "july",    "august",   "september", "october", "november", "december"};

int month_from_name(const uint8_t* p, const uint8_t* end) {
    size_t n = size_t(end - p);
    if (n < 3 || n > 9) return 0;
    for (int m = 0; m < 12; m++) {
        const char* name = MONTH_NAMES[m];
        if (std::strlen(name) < n) continue;
        size_t i = 0;
        for (; i < n; i++) {
            uint8_t c = p[i];
            if (c >= 'A' && c <= 'Z') c = uint8_t(c + 32);
            if (c != uint8_t(name[i])) break;
        }
        if (i == n) return m + 1;
    }
    return 0;
}

struct DateParts {
    int32_t year = 0, month = 0, day = 0;
    double time = 0;
    int32_t zone_hours = 0, zone_minutes = 0;
    bool zone_negative = false;
    bool has_time = false;
    bool has_zone = false;
};

bool time_in_range(const DateParts& d, int32_t hours, int32_t minutes, double seconds) {
    return hours >= 0 && hours <= 23 && minutes >= 0 && minutes <= 59 && seconds >= 0 && seconds < 60 &&
           d.zone_hours >= -15 && d.zone_hours <= 15 && d.zone_minutes >= 0 && d.zone_minutes <= 59;
}

// The zone at p after a time: Z, or a sign with hours and minutes (compact:
// two digits each and no colon; else up to two digits, an optional colon and
// optional minutes). False on anything else.
bool read_zone(const uint8_t*& p, const uint8_t* end, DateParts& d, bool compact) {
    if (*p == 'Z') {
        p++;
        return true;
    }
    if (*p != '+' && *p != '-') return false;
    d.has_zone = true;
    d.zone_negative = *p == '-';
    const int width = compact ? 2 : 0;
    int error;
    int32_t zh = 0, zm = 0;
    p = read_digits(p + 1, end, width, 2, zh, error);
    if (error) return false;
    if (compact || p < end) {
        if (!compact && *p == ':') p++;
        p = read_digits(p, end, width, 2, zm, error);
        if (error) return false;
    }
    d.zone_hours = d.zone_negative ? -zh : zh;
    d.zone_minutes = zm;
    return true;
}

// Step 8 of the date rules: a time after / or T. Returns false on a violation.
bool read_date_time(const uint8_t*& p, const uint8_t* end, DateParts& d, int32_t& hours, int32_t& minutes,
                    double& seconds) {
    int error;
    d.has_time = true;
    p = read_digits(p, end, 0, 2, hours, error);
    if (error || p >= end || *p != ':') return false;
    p = read_digits(p + 1, end, 0, 2, minutes, error);
    if (error) return false;
    seconds = 0;
    if (p < end && *p == ':') {
        p = read_seconds(p + 1, end, seconds, error);
        if (error) return false;
    }
    if (p < end && !read_zone(p, end, d, false)) return false;
    d.time = hours * 3600.0 + minutes * 60.0 + seconds;
    return true;
}

int days_in_month(int32_t year, int32_t month) {
    static const int DAYS[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && !date::is_leap_year(year)) return 28;
    return DAYS[month - 1];
}

void load_date(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    s.type = TYPE_DATE;
    auto invalid = [&]() { lexer_raise_error(s, start, end, TYPE_DATE); };
    DateParts d;
    int error;
    const uint8_t* p = start;
    int32_t hours = 0, minutes = 0;
    double seconds = 0;
    bool year_negative = false;
    if (*p == '-') {
        year_negative = true;
        p++;
    }
    const uint8_t* year_at = p;
    p = read_digits(p, end, 0, 4, d.year, error);
    if (error) invalid();
    int year_length = int(p - year_at);
    if (year_negative) d.year = -d.year;
    if (p >= end) invalid();
    int week = 0, weekday = 0, yearday = 0;
    enum { CALENDAR, WEEK, ORDINAL, COMPACT } form = CALENDAR;
    if (is_digit(*p)) {
        // Compact ISO form: yyyymmddThhmm[ss][Z|+hhmm]
        if (year_length != 4) invalid();
        form = COMPACT;
        p = read_digits(p, end, 2, 2, d.month, error);
        if (error || p >= end) invalid();
        p = read_digits(p, end, 2, 2, d.day, error);
        if (error || p >= end || *p != 'T') invalid();
        p++;
        d.has_time = true;
        p = read_digits(p, end, 2, 2, hours, error);
        if (error || p >= end) invalid();
        p = read_digits(p, end, 2, 2, minutes, error);
        if (error || p >= end) invalid();
        if (*p == 'Z') {
            p++;
        } else {
            p = read_seconds(p, end, seconds, error);
            if (error) invalid();
            if (p < end && !read_zone(p, end, d, true)) invalid();
        }
        d.time = hours * 3600.0 + minutes * 60.0 + seconds;
    } else if (*p == '-' && p + 1 < end && p[1] == 'W' && year_length == 4) {
        form = WEEK;
        p = read_digits(p + 2, end, 2, 2, week, error);
        if (error) invalid();
        if (p < end && *p == '-') {
            p++;
            if (p < end && is_digit(*p)) weekday = *p++ - '0';
        }
        if (p < end && *p == 'T') {
            p++;
            if (!read_date_time(p, end, d, hours, minutes, seconds)) invalid();
        }
    } else if (*p == '-' && end - p >= 4 && is_digit(p[1]) && is_digit(p[2]) && is_digit(p[3]) &&
               (end - p == 4 || !is_digit(p[4]))) {
        form = ORDINAL;
        p = read_digits(p + 1, end, 3, 3, yearday, error);
        if (error || yearday == 0) invalid();
        if (p < end && *p == 'T') {
            p++;
            if (!read_date_time(p, end, d, hours, minutes, seconds)) invalid();
        }
    } else if (*p == '-' || *p == '/') {
        uint8_t sep = *p++;
        if (p < end && is_digit(*p)) {
            p = read_digits(p, end, 0, 2, d.month, error);
            if (error) invalid();
        } else {
            const uint8_t* name_end = p;
            while (name_end < end && *name_end != sep) name_end++;
            d.month = month_from_name(p, name_end);
            if (!d.month) invalid();
            p = name_end;
        }
        if (p >= end || *p != sep) invalid();
        p++;
        // The last number: the day, unless the first number is.
        bool last_negative = false;
        if (p < end && *p == '-') {
            last_negative = true;
            p++;
        }
        const uint8_t* last_at = p;
        int32_t last = 0;
        p = read_digits(p, end, 0, 4, last, error);
        if (error) invalid();
        int last_length = int(p - last_at);
        if (last_negative) last = -last;
        d.day = last;
        if (last < 0 || last > 31 || d.year < 100) {
            std::swap(d.day, d.year);
            std::swap(year_length, last_length);
        }
        if (d.year >= 0 && d.year <= 99 && year_length <= 2) d.year += d.year < 50 ? 2000 : 1900;
        if (p < end && (*p == '/' || *p == 'T')) {
            p++;
            if (!read_date_time(p, end, d, hours, minutes, seconds)) invalid();
        }
    } else {
        invalid();
    }
    if (p != end) invalid();
    // Every form gets the range checks of the calendar forms; week and
    // ordinal dates also their own bounds.
    if (d.year < -9999 || d.year > 9999) invalid();
    if (d.has_time && !time_in_range(d, hours, minutes, seconds)) invalid();
    if (form == WEEK) {
        if (week < 1 || week > date::iso_weeks_in_year(d.year) || weekday > 7) invalid();
    } else if (form == ORDINAL) {
        if (yearday > (date::is_leap_year(d.year) ? 366 : 365)) invalid();
    } else {
        if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > days_in_month(d.year, d.month)) invalid();
    }
    if (!load) return;
    Cell v{};
    if (form == WEEK || form == ORDINAL) {
        date::make_from_parts(&v, d.year, 1, 1, d.time, d.zone_hours, d.zone_minutes, d.has_time);
        if (form == ORDINAL) date::set_yearday(&v, yearday);
        else {
            if (week || weekday) date::set_isoweek(&v, week);
            if (weekday) date::set_weekday(&v, weekday);
        }
    } else {
        date::make_from_parts(&v, d.year, d.month, d.day, d.time, d.zone_hours, d.zone_minutes, d.has_time);
    }
    if (d.zone_negative && d.zone_hours == 0 && d.has_time) {
        // -00:30 keeps its sign: the zone word stores the sign apart from the hours.
        uint32_t zone = date::ZONE_SIGN | uint32_t(d.zone_minutes / 15);
        v.data1 = (v.data1 & ~date::ZONE_MASK) | zone;
        set_cell_float(&v, d.time - date::zone_seconds(zone));
    }
    emit(s, v);
}

}  // namespace

// ---------------------------------------------------------------- shared

const uint8_t* decode_utf8(const uint8_t* p, const uint8_t* end, uint32_t& cp) {
    uint8_t b = *p;
    if (b < 0x80) {
        cp = b;
        return p + 1;
    }
    int n;
    uint32_t min;
    if (b >= 0xC2 && b <= 0xDF) n = 1, cp = b & 0x1F, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF) n = 2, cp = b & 0x0F, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4) n = 3, cp = b & 0x07, min = 0x10000;
    else return nullptr;
    if (end - p <= n) return nullptr;
    for (int i = 1; i <= n; i++) {
        if ((p[i] & 0xC0) != 0x80) return nullptr;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return nullptr;
    return p + n + 1;
}

namespace {
struct EscapeName {
    const char* name;
    uint32_t length;
    uint32_t cp;
};
const EscapeName ESCAPE_NAMES[7] = {{"null", 4, 0},  {"back", 4, 8}, {"tab", 3, 9},  {"line", 4, 10},
                                    {"page", 4, 12}, {"esc", 3, 27}, {"del", 3, 127}};
}  // namespace

const uint8_t* decode_char_escape(const uint8_t* p, const uint8_t* end, uint32_t& cp, int& digits) {
    digits = 0;
    if (p >= end) return nullptr;
    uint8_t c = *p;
    if (c == '(') {
        const uint8_t* q = p + 1;
        // A name: (line), (TAB) ...
        for (const EscapeName& e : ESCAPE_NAMES) {
            if (uint32_t(end - q) <= e.length) continue;
            uint32_t i = 0;
            for (; i < e.length; i++) {
                uint8_t x = q[i];
                if (x >= 'A' && x <= 'Z') x = uint8_t(x + 32);
                if (x != uint8_t(e.name[i])) break;
            }
            if (i == e.length && q[i] == ')') {
                cp = e.cp;
                return q + i + 1;
            }
        }
        uint32_t value = 0;
        int n = 0;
        while (q < end && *q != ')') {
            int v = hex_value(*q);
            if (v < 0 || ++n > 6) return nullptr;
            value = value * 16 + uint32_t(v);
            q++;
        }
        if (q >= end || n == 0) return nullptr;
        if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return nullptr;
        digits = n;
        cp = value;
        return q + 1;
    }
    switch (c) {
    case '"': cp = '"'; break;
    case '-': cp = 9; break;
    case '/': cp = 10; break;
    case '@': cp = 0; break;
    case '^': cp = '^'; break;
    case '{': cp = '{'; break;
    case '}': cp = '}'; break;
    case '~': cp = 127; break;
    default:
        if (c >= 'a' && c <= 'z') cp = uint32_t(c - 96);
        else if (c >= 65 && c <= 95) cp = uint32_t(c - 64);
        else if (c < 0x80) cp = c;
        else return decode_utf8(p, end, cp);
    }
    return p + 1;
}

bool float_syntax_ok(const uint8_t* p, const uint8_t* end) {
    // Columns: other, sign, digit, e/E, dot, '. Rows as in the design notes.
    static constexpr uint8_t TABLE[9][7] = {
        {10, 0, 1, 10, 4, 10, 10}, {10, 10, 1, 6, 5, 2, 9},    {10, 10, 1, 10, 10, 10, 9},
        {10, 10, 3, 6, 10, 4, 9},  {10, 10, 3, 10, 10, 10, 9}, {10, 10, 3, 10, 10, 10, 9},
        {10, 7, 8, 10, 10, 10, 10}, {10, 10, 8, 10, 10, 10, 10}, {10, 10, 8, 10, 10, 10, 9},
    };
    int state = 0;
    for (; p < end; p++) {
        uint8_t c = *p;
        int cls = (c == '+' || c == '-') ? 1 : is_digit(c) ? 2 : (c == 'e' || c == 'E') ? 3 : c == '.' ? 4 : c == '\'' ? 5 : 0;
        state = TABLE[state][cls];
        if (state >= 9) return state == 9;
    }
    return TABLE[state][6] == 9;
}

void load_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    int type = s.type_hint >= 0 ? s.type_hint : s.type;
    const uint8_t* stop = end;
    if (flags & (flag::LEAD_2_3 | flag::LEAD_4)) {
        // A word ends at the first Unicode space.
        for (const uint8_t* q = start; q < end;) {
            if (*q < 0x80) {
                q++;
                continue;
            }
            uint32_t cp;
            const uint8_t* next = decode_utf8(q, end, cp);
            if (!next) lexer_raise_error(s, start, end, type == TYPE_ISSUE ? TYPE_ISSUE : TYPE_WORD);
            if (is_unicode_space(cp)) {
                stop = q;
                break;
            }
            q = next;
        }
    }
    s.pos = stop;
    const uint8_t* name = start;
    if (type == TYPE_ISSUE) {
        if (*name == '#') name++;
        if (name >= stop) lexer_raise_error(s, start, stop, TYPE_ISSUE);
    } else {
        int kind = TYPE_WORD;
        if (*name == ':') {
            kind = TYPE_GET_WORD;
            name++;
            if (stop > name && stop[-1] == ':') stop--;
        } else if (*name == '\'') {
            kind = TYPE_LIT_WORD;
            name++;
            if (stop > name && stop[-1] == ':') lexer_raise_error(s, start, end, TYPE_LIT_WORD);
        } else if (stop > name + 1 && stop[-1] == ':') {
            kind = TYPE_SET_WORD;
            stop--;
        }
        if (name >= stop) lexer_raise_error(s, start, end, kind);
        if ((flags & flag::COLON) && std::memchr(name, ':', size_t(stop - name))) lexer_raise_error(s, start, end, TYPE_WORD);
        type = s.type_hint >= 0 ? s.type_hint : kind;
    }
    s.type = type;
    if (load) emit_word(s, type, name, stop);
}

void load_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    // "...": the automaton stopped on the closing quote.
    s.pos = end + 1;
    load_text(s, start + 1, end, flags, true, s.type ? s.type : TYPE_STRING, load, start);
}

void load_braced_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    // {...}: from the outer brace to the } that closed it.
    s.type = TYPE_STRING;
    load_text(s, start + 1, end, flags, true, TYPE_STRING, load, start);
    s.pos = end + 1;
}

void load_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    load_integer_token(s, start, end, flags, load);
}

void load_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.pos = end;
    s.type = TYPE_FLOAT;
    load_decimal(s, start, end, load, 0, TYPE_FLOAT);
}

void load_point(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    load_point_impl(s, start, end, flags, load);
}

namespace {
// Indexed by final state - 66, as the kinds are numbered.
constexpr Loader LOADERS[STATE_COUNT - FIRST_FINAL] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr,             // end .. comma
    load_string,         // string
    load_word,           // word
    load_word,           // issue
    load_integer,        // integer
    load_refinement,     // refinement
    load_char,           // char
    load_file,           // file
    load_binary,         // binary
    load_percent,        // percent
    load_float,          // float
    load_float_special_token,  // float-special
    load_tuple,          // tuple
    load_date,           // date
    load_pair,           // pair
    load_point,          // point
    load_time,           // time
    load_money,          // money
    load_tag,            // tag
    load_url,            // url
    load_email,          // email
    load_hex_integer,            // hex
    load_raw_string,     // raw-string
    load_ref,            // ref
};
static_assert(K_STRING - FIRST_FINAL == 13 && K_REF - FIRST_FINAL == 35);
}  // namespace

Loader loader_of(int kind) {
    return kind >= FIRST_FINAL && kind < STATE_COUNT ? LOADERS[kind - FIRST_FINAL] : nullptr;
}

}  // namespace vyx::lexer
