#include "datatypes/string.h"

#include <array>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/sorting.h"
#include "runtime/stack.h"
#include "runtime/case_map.h"
#include "runtime/bytes.h"
#include "runtime/murmur3.h"
#include "runtime/cells.h"
#include "runtime/cycle_stack.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx::string {

using series::unit_shift;

Cell* make_at(Cell* target, uint32_t capacity, uint32_t unit) {
    Node n = new_char_series(capacity, unit);
    *target = Cell{TYPE_STRING, 0, n, 0};
    return target;
}

Cell* rs_make_at(Cell* target, uint32_t capacity) { return make_at(target, capacity ? capacity : 1, 1); }

Cell* push(uint32_t capacity) {
    Cell* slot = stack::push_slot();
    slot->header = TYPE_UNSET;
    return make_at(slot, capacity);
}

uint32_t char_at(const Cell* str, uint32_t k) {
    SeriesBuffer* b = node_buffer(str->data2);
    return get_char(series::element_at(b, k), b->unit());
}

int32_t position_at(const Cell* str, uint32_t cp) {
    SeriesBuffer* b = node_buffer(str->data2);
    uint32_t unit = b->unit();
    uint32_t n = series::length_from_head(str);
    for (uint32_t k = str->data1; k < n; k++)
        if (get_char(series::element_at(b, k), unit) == cp) return int32_t(k - str->data1);
    return -1;
}

void clear(Cell* str) {
    SeriesBuffer* b = node_buffer(str->data2);
    b->flags = (b->flags & ~series_flag::UNIT_MASK) | 1;
    b->tail = b->offset = 0;
    str->data1 = 0;
}

// ---------------------------------------------------------------- widening

SeriesBuffer* widen_to(SeriesBuffer* b, uint32_t unit) {
    uint32_t old = b->unit();
    if (unit <= old) return b;
    uint32_t os = unit_shift(old), ns = unit_shift(unit);
    uint32_t first = b->offset >> os;
    uint32_t n = (b->tail - b->offset) >> os;
    uint64_t need = (uint64_t(first) + n) << ns;
    if (need > b->size) {
        // Keep the capacity in characters, so widening does not cost a second growth.
        uint64_t cap = (uint64_t(b->size) >> os) << ns;
        b = grow_series(b, int64_t(std::max(cap, need)));
        first = 0;
    }
    uint8_t* d = b->data();
    // From the end: each character lands at or after its old place, over
    // characters already converted.
    for (uint32_t i = n; i-- > 0;) put_char(d + ((uint64_t(first) + i) << ns), unit, get_char(d + ((first + i) << os), old));
    b->flags = (b->flags & ~series_flag::UNIT_MASK) | unit;
    b->offset = first << ns;
    b->tail = (first + n) << ns;
    return b;
}

namespace {

// Room for `extra` more bytes at the tail, doubling the needed size.
inline SeriesBuffer* ensure_tail_room(SeriesBuffer* b, uint32_t extra) {
    uint64_t need = uint64_t(b->tail) + extra;
    if (need > b->size) b = grow_series(b, int64_t(need - b->offset) * 2);
    return b;
}

inline uint32_t length_of(SeriesBuffer* b) { return (b->tail - b->offset) >> unit_shift(b->unit()); }

}  // namespace

SeriesBuffer* append_char(SeriesBuffer* b, uint32_t cp) {
    uint32_t unit = b->unit();
    if (cp > 0x7F) {
        uint32_t want = cp > 0xFFFF ? 4 : 2;
        if (want > unit) {
            b = widen_to(b, want);
            unit = want;
        }
    }
    if (b->tail + unit > b->size) b = ensure_tail_room(b, unit);
    put_char(b->tail_ptr(), unit, cp);
    b->tail += unit;
    return b;
}

SeriesBuffer* overwrite_char(SeriesBuffer* b, uint32_t index, uint32_t cp) {
    b = widen_to(b, unit_for(cp));
    uint32_t unit = b->unit();
    if (index >= length_of(b)) {
        b = ensure_tail_room(b, unit);
        put_char(b->tail_ptr(), unit, cp);
        b->tail += unit;
        return b;
    }
    put_char(series::element_at(b, index), unit, cp);
    return b;
}

SeriesBuffer* insert_char(SeriesBuffer* b, uint32_t index, uint32_t cp) {
    b = widen_to(b, unit_for(cp));
    uint32_t unit = b->unit();
    b = ensure_tail_room(b, unit);
    uint32_t n = length_of(b);
    if (index > n) index = n;
    uint8_t* at = series::element_at(b, index);
    std::memmove(at + unit, at, size_t(n - index) * unit);
    put_char(at, unit, cp);
    b->tail += unit;
    return b;
}

SeriesBuffer* poke_char(SeriesBuffer* b, uint32_t index, uint32_t cp) {
    b = widen_to(b, unit_for(cp));
    put_char(series::element_at(b, index), b->unit(), cp);
    return b;
}

void remove_part(Cell* str, uint32_t index, uint32_t n) {
    SeriesBuffer* b = node_buffer(str->data2);
    uint32_t len = length_of(b);
    if (index >= len) return;
    if (n > len - index) n = len - index;
    uint32_t shift = unit_shift(b->unit());
    uint8_t* at = series::element_at(b, index);
    std::memmove(at, at + (n << shift), size_t(len - index - n) << shift);
    b->tail -= n << shift;
}

void cut_tail(SeriesBuffer* b, uint32_t n) {
    uint64_t at = b->offset + (uint64_t(n) << unit_shift(b->unit()));
    if (at <= b->size && at < b->tail) b->tail = uint32_t(at);
}

// ---------------------------------------------------------------- concatenation

namespace {

// A symbol! operand reads as its name's string from index 0.
Cell string_view_of(const Cell* src) {
    if (type_of(src) == TYPE_SYMBOL) {
        if (!src->data2) raise_error(err::internal_not_done);
        return Cell{TYPE_STRING, 0, src->data2, 0};
    }
    return *src;
}

}  // namespace

void concatenate(Cell* dst, const Cell* src_cell, int32_t part, uint32_t offset, bool keep, bool insert) {
    Cell src = string_view_of(src_cell);
    Node dn = dst->data2, sn = src.data2;
    uint32_t du = node_buffer(dn)->unit(), su = node_buffer(sn)->unit();
    if (du < su) {
        widen_to(node_buffer(dn), su);
        du = su;
    } else if (su < du && !keep) {
        widen_to(node_buffer(sn), du);
        su = du;
    }
    uint32_t count = series::rs_length(&src);
    if (part >= 0 && uint32_t(part) < count) count = uint32_t(part);
    if (count == 0) return;
    uint32_t shift = unit_shift(du);
    SeriesBuffer* db = ensure_tail_room(node_buffer(dn), count << shift);
    uint32_t dlen = length_of(db);
    if (!insert || offset > dlen) offset = dlen;
    SeriesBuffer* sb = node_buffer(sn);  // re-read: the growth may have moved it (same buffer)
    // A source inside the destination would be shifted by the gap: take it first.
    std::vector<uint8_t> held;
    const uint8_t* from = series::element_at(sb, src.data1);
    if (sn == dn) {
        held.assign(from, from + (size_t(count) << unit_shift(su)));
        from = held.data();
    }
    uint8_t* at = series::element_at(db, offset);
    if (offset < dlen) std::memmove(at + (count << shift), at, size_t(dlen - offset) << shift);
    if (su == du) {
        std::memcpy(at, from, size_t(count) << shift);
    } else {
        for (uint32_t i = 0; i < count; i++) put_char(at + (i << shift), du, get_char(from + (i << unit_shift(su)), su));
    }
    db->tail += count << shift;
}

int concatenate_literal(Cell* str, std::string_view ascii, int part) {
    size_t n = ascii.size();
    if (part < 0) part = 0;
    if (n > size_t(part)) n = size_t(part);
    if (n) {
        SeriesBuffer* b = node_buffer(str->data2);
        uint32_t unit = b->unit();
        // The common case of text writers: narrow text with room left.
        if (unit == 1 && b->tail + n <= b->size) {
            std::memcpy(b->tail_ptr(), ascii.data(), n);
            b->tail += uint32_t(n);
            return part - int(ascii.size());
        }
        uint8_t* at = reserve_tail_bytes(b, uint32_t(n * unit));
        if (unit == 1) {
            std::memcpy(at, ascii.data(), n);
        } else {
            for (size_t i = 0; i < n; i++) put_char(at + i * unit, unit, uint8_t(ascii[i]));
        }
    }
    return part - int(ascii.size());
}

// ---------------------------------------------------------------- loading

Cell* make_from_bytes(Cell* cell, const uint8_t* bytes, uint32_t length, int encoding) {
    Node node;
    if (encoding == 0) {
        node = unicode::load_utf8_string(bytes, length, 0, nullptr, false);
    } else if (encoding == -1) {
        node = unicode::load_utf16_string(bytes, length / 2, nullptr, false);
    } else {
        // A caller's fault that nothing can recover from; it must not look
        // like success to whoever started the process.
        std::fputs("*** Loading Error: input encoding unsupported\n", stdout);
        std::fflush(stdout);
        std::exit(1);
    }
    *cell = Cell{TYPE_STRING, 0, node, 0};
    return cell;
}

Cell* load(const uint8_t* bytes, uint32_t length, int encoding, Cell* target) {
    return make_from_bytes(target, bytes, length, encoding);
}

Cell* load_in(const uint8_t* bytes, uint32_t length, int encoding, Cell* block) {
    Cell s;
    make_from_bytes(&s, bytes, length, encoding);
    // Kept on the stack while the block grows.
    Cell* kept = stack::push(&s);
    Cell* c = append_cell(block);
    *c = *kept;
    stack::top = kept;
    return c;
}

Cell* load_push(const uint8_t* bytes, uint32_t length, int encoding) {
    Cell* slot = stack::push_slot();
    slot->header = TYPE_UNSET;
    return make_from_bytes(slot, bytes, length, encoding);
}

// ---------------------------------------------------------------- matching

bool is_match_ascii(const Cell* str, const char* bytes) {
    size_t n = std::strlen(bytes);
    if (series::rs_length(str) < n) return false;
    for (size_t i = 0; i < n; i++)
        if (char_at(str, uint32_t(str->data1 + i)) != uint8_t(bytes[i])) return false;
    return true;
}

bool is_match_tag(const Cell* str, const Cell* tag) {
    uint32_t len = series::rs_length(str);
    uint32_t tlen = series::rs_length(tag);
    if (len < tlen + 2) return false;
    return char_at(str, str->data1) == '<' && char_at(str, str->data1 + tlen + 1) == '>';
}

bool is_match_value(const Cell* str, const Cell* value, int case_flag) {
    int t = type_of(value);
    int op = case_flag == 2 ? COMP_STRICT_EQUAL : COMP_EQUAL;
    if (t == TYPE_CHAR) {
        if (series::is_rs_tail(str)) return false;
        uint32_t c = char_at(str, str->data1);
        if (case_flag == 2) return c == value->data2;
        return fold_upper(c) == fold_upper(value->data2);
    }
    if (t == TYPE_TAG) {
        if (!is_match_tag(str, value)) return false;
        Cell inner = *str;
        inner.data1++;
        return compare_values(&inner, value, op, true) == 0;
    }
    if (is_any_string(t)) return compare_values(str, value, op, true) == 0;
    return false;
}

void move_chars(Cell* src, Cell* dst, uint32_t n) {
    uint32_t at = dst->data1;
    for (uint32_t i = 0; i < n; i++) insert_char(node_buffer(dst->data2), at + i, char_at(src, src->data1 + i));
    remove_part(src, src->data1, n);
}

// ---------------------------------------------------------------- comparison

uint32_t fold_upper(uint32_t cp) { return case_fold_char(cp, CASE_UPPER); }

int compare_values(const Cell* a_cell, const Cell* b_cell, int op, bool match) {
    Cell a = string_view_of(a_cell), b = string_view_of(b_cell);
    bool same = a.data2 == b.data2 && a.data1 == b.data1;
    if (op == COMP_SAME) return same ? 0 : -1;
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (equality && same) return 0;
    uint32_t len1 = series::rs_length(&a), len2 = series::rs_length(&b);
    uint32_t n;
    if (match) {
        if (len2 == 0) return op == COMP_FIND ? 1 : 0;
        if (len2 > len1) return 1;
        n = len2;
    } else {
        if (len1 != len2 && equality) return 1;
        if (len1 == 0 && len2 == 0) return 0;
        if (len2 == 0) return 1;
        if (len1 == 0) return -1;
        n = std::min(len1, len2);
    }
    bool fold = op != COMP_STRICT_EQUAL && op != COMP_CASE_SORT;
    SeriesBuffer* ab = node_buffer(a.data2);
    SeriesBuffer* bb = node_buffer(b.data2);
    uint32_t au = ab->unit(), bu = bb->unit();
    const uint8_t* pa = series::element_at(ab, a.data1);
    const uint8_t* pb = series::element_at(bb, b.data1);
    uint32_t c1 = 0, c2 = 0;
    uint32_t i = 0;
    // Bytes against bytes: the run of equal ones is stepped over at once.
    if (au == 1 && bu == 1)
        while (i < n && pa[i] == pb[i]) i++;
    for (; i < n; i++) {
        c1 = get_char(pa + i * au, au);
        c2 = get_char(pb + i * bu, bu);
        // Characters that are the same need no folding.
        if (c1 != c2 && fold) {
            c1 = fold_upper_fast(c1);
            c2 = fold_upper_fast(c2);
        }
        if (c1 != c2) break;
    }
    if (c1 == c2 && !match) {
        c1 = len1;
        c2 = len2;
    }
    return c1 < c2 ? -1 : c1 > c2 ? 1 : 0;
}

namespace {

// Unit-1 text eight bytes at a time, for the hashed lookups' keys (loaded in
// little-endian order, whatever the host's): the high bit of every byte.
constexpr uint64_t HIGH_BITS = 0x8080808080808080ull;

// The last 0-3 bytes of unit-1 text as one word, the first lowest.
inline uint32_t load_tail(const uint8_t* p, uint32_t r) {
    uint32_t w = 0;
    switch (r) {
    case 3: w = uint32_t(p[2]) << 16; [[fallthrough]];
    case 2: w |= uint32_t(p[1]) << 8; [[fallthrough]];
    case 1: w |= p[0];
    }
    return w;
}

// Eight ASCII bytes with a-z made A-Z, as fold_upper_fast makes them.
inline uint64_t ascii_upper8(uint64_t x) {
    uint64_t from_a = x + 0x1F1F1F1F1F1F1F1Full;  // high bit: byte >= 'a'
    uint64_t past_z = x + 0x0505050505050505ull;  // high bit: byte > 'z'
    return x - (((from_a & ~past_z) & HIGH_BITS) >> 2);
}

// Whether two runs of bytes are equal, character by character folded as
// comparisons fold them.
[[gnu::noinline]] bool equal_folded(const uint8_t* pa, const uint8_t* pb, uint32_t len) {
    for (uint32_t i = 0; i < len; i++) {
        uint32_t c1 = pa[i], c2 = pb[i];
        if (c1 != c2 && fold_upper_fast(c1) != fold_upper_fast(c2)) return false;
    }
    return true;
}

// Whether two runs of bytes are the same: eight at a time, a last run of
// fewer read as words that overlap what came before.
inline bool same_bytes(const uint8_t* pa, const uint8_t* pb, uint32_t len) {
    if (len >= 8) {
        for (uint32_t i = 0; i + 8 < len; i += 8)
            if (load_le64(pa + i) != load_le64(pb + i)) return false;
        return load_le64(pa + len - 8) == load_le64(pb + len - 8);
    }
    if (len >= 4) return ((load_le32(pa) ^ load_le32(pb)) | (load_le32(pa + len - 4) ^ load_le32(pb + len - 4))) == 0;
    if (len == 0) return true;
    return ((pa[0] ^ pb[0]) | (pa[len >> 1] ^ pb[len >> 1]) | (pa[len - 1] ^ pb[len - 1])) == 0;
}

// Whether two runs of bytes are equal, folded as comparisons fold them when
// `fold`: characters are folded only when the bytes differ.
inline bool equal_bytes(const uint8_t* pa, const uint8_t* pb, uint32_t len, bool fold) {
    return same_bytes(pa, pb, len) || (fold && equal_folded(pa, pb, len));
}

}  // namespace

bool equal_key(const Key& key, const Cell* b, int op) {
    const Cell* a = key.cell;
    if (a->data2 == b->data2 && a->data1 == b->data1) return true;
    if (op == COMP_SAME) return false;
    const SeriesBuffer* bb = node_buffer(b->data2);
    if (!key.bytes || bb->unit() != 1) return compare_values(a, b, op, false) == 0;
    uint32_t nb = bb->tail - bb->offset;
    if (key.length != (b->data1 < nb ? nb - b->data1 : 0)) return false;
    return equal_bytes(key.bytes, bb->read_head() + b->data1, key.length, op != COMP_STRICT_EQUAL);
}

bool equal_values(const Cell* a, const Cell* b, int op) { return equal_key(key_of(a), b, op); }

int compare(Cell* a, Cell* b, int op) {
    int ta = type_of(a), tb = type_of(b);
    if (ta != tb && (!is_any_string(tb) || (op != COMP_EQUAL && op != COMP_NOT_EQUAL))) return NOT_COMPARABLE;
    return compare_values(a, b, op, false);
}

// ---------------------------------------------------------------- text writers

namespace {

const char ESCAPES[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

inline int put(Cell* buffer, uint32_t cp, int part) {
    append_char(node_buffer(buffer->data2), cp);
    return part - 1;
}

}  // namespace

int append_escaped_char(Cell* buffer, uint32_t cp, bool all, int part) {
    if (cp == 30 || (cp >= 0x80 && cp <= 0x9F) || (all && cp > 0x7F)) {
        char text[16];
        int n = std::snprintf(text, sizeof text, "^(%X)", cp);
        return concatenate_literal(buffer, std::string_view(text, size_t(n)), part);
    }
    if (cp < 32) {
        char text[2] = {'^', ESCAPES[cp]};
        return concatenate_literal(buffer, std::string_view(text, 2), part);
    }
    switch (cp) {
    case '"': return concatenate_literal(buffer, "^\"", part);
    case '^': return concatenate_literal(buffer, "^^", part);
    case 127: return concatenate_literal(buffer, "^~", part);
    default: return put(buffer, cp, part);
    }
}

int form(Cell* value, Cell* buffer, int part) {
    uint32_t len = series::rs_length(value);
    int32_t limit = part < 0 ? 0 : part;
    concatenate(buffer, value, limit, 0, true, false);
    return part - int(len);
}

namespace {

// Whether a character is molded as it stands: printable, not an escape's
// caret, not a delimiter of the molded form (`"` in quotes, braces in braces).
constexpr bool molded_as_is(uint32_t c, bool all, bool braced) {
    if (c < 32 || c == '^' || c == 127 || (c >= 0x80 && c <= 0x9F) || (all && c > 0x7F)) return false;
    return braced ? c != '{' && c != '}' : c != '"';
}

// molded_as_is for every byte: [braced][all][byte].
constexpr auto AS_IS = [] {
    std::array<std::array<std::array<bool, 256>, 2>, 2> t{};
    for (int b = 0; b < 2; b++)
        for (int a = 0; a < 2; a++)
            for (uint32_t c = 0; c < 256; c++) t[size_t(b)][size_t(a)][c] = molded_as_is(c, a, b);
    return t;
}();

// From character i of the `len` at `first` of narrow text `s`, the run of
// characters molded as they stand, appended at once; answers where it ends.
// `left` counts down as one put per character would.
uint32_t mold_run(Cell* buffer, const Cell& s, uint32_t first, uint32_t i, uint32_t len, bool all, bool braced,
                  int& left) {
    // Read afresh: appending may have moved the text.
    const uint8_t* p = series::element_at(node_buffer(s.data2), first);
    const auto& as_is = AS_IS[braced][all];
    uint32_t j = i;
    while (j < len && as_is[p[j]]) j++;
    if (j > i) {
        Cell run = s;
        run.data1 = first + i;
        concatenate(buffer, &run, int32_t(j - i), 0, true, false);
        left -= int(j - i);
    }
    return j;
}

}  // namespace

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    Cell s = *value;
    uint32_t full = series::rs_length(&s);
    uint32_t len = full;
    if (part < NO_LIMIT && uint32_t(std::max(part, 0)) < len) len = uint32_t(std::max(part, 0));
    uint32_t first = s.data1 > series::length_from_head(&s) ? series::length_from_head(&s) : s.data1;

    uint32_t quotes = 0, lines = 0, opening = 0;
    bool bytes = node_buffer(s.data2)->unit() == 1;
    // Runs are copied at once from narrow text long enough to repay it.
    bool narrow = bytes && len >= 8;
    auto count = [&](uint32_t c) {
        quotes += c == '"';
        lines += c == '\n';
        opening += c == '{';
    };
    if (bytes) {
        const uint8_t* p = series::element_at(node_buffer(s.data2), first);
        for (uint32_t i = 0; i < len; i++) count(p[i]);
    } else {
        for (uint32_t i = 0; i < len; i++) count(char_at(&s, first + i));
    }
    bool braces = lines >= 3 || quotes > 0 || full >= 50;
    int left = part;
    left = concatenate_literal(buffer, braces ? "{" : "\"", left) + 1;
    if (!braces) {
        for (uint32_t i = 0; i < len; i++) {
            if (narrow && (i = mold_run(buffer, s, first, i, len, all, false, left)) >= len) break;
            left = append_escaped_char(buffer, char_at(&s, first + i), all, left);
        }
        concatenate_literal(buffer, "\"", left);
        return left - 2;
    }
    // Which opening braces have their closing brace further on in the range.
    std::vector<bool> matched(opening ? len : 0, false);
    if (opening) {
        std::vector<uint32_t> open;
        for (uint32_t i = 0; i < len; i++) {
            uint32_t c = char_at(&s, first + i);
            if (c == '{') open.push_back(i);
            else if (c == '}' && !open.empty()) {
                matched[open.back()] = true;
                open.pop_back();
            }
        }
    }
    bool balancing = true;
    uint32_t depth = 0;
    for (uint32_t i = 0; i < len; i++) {
        if (narrow && (i = mold_run(buffer, s, first, i, len, all, true, left)) >= len) break;
        uint32_t c = char_at(&s, first + i);
        switch (c) {
        case '"': left = put(buffer, c, left); break;
        case '^': left = concatenate_literal(buffer, "^^", left); break;
        case '{':
            if (balancing && matched[i]) {
                left = put(buffer, c, left);
                depth++;
            } else {
                left = concatenate_literal(buffer, "^{", left);
                balancing = false;
            }
            break;
        case '}':
            if (depth > 0) {
                left = put(buffer, c, left);
                depth--;
            } else {
                left = concatenate_literal(buffer, "^}", left);
            }
            break;
        default: left = append_escaped_char(buffer, c, all, left); break;
        }
    }
    concatenate_literal(buffer, "}", left);
    return left - 2;
}

std::string to_utf8(const Cell* str) {
    SeriesBuffer* b = node_buffer(str->data2);
    std::string out;
    uint32_t unit = b->unit();
    uint32_t first = b->offset / unit + str->data1;
    uint32_t last = b->tail / unit;
    for (uint32_t i = first; i < last; i++) unicode::append_utf8(out, char_at(b, i));
    return out;
}

// ---------------------------------------------------------------- make, to, path

namespace {

Cell datatype_cell(int t) { return Cell{TYPE_DATATYPE, uint32_t(t), 0, 0}; }

int form_any(Cell* value, Cell* buffer, int part) {
    auto f = reinterpret_cast<act::Form>(get_handler(type_of(value), A_FORM));
    if (!f) raise_error(err::internal_not_done);
    return f(value, buffer, part);
}

int mold_any(Cell* value, Cell* buffer) {
    auto m = reinterpret_cast<act::Mold>(get_handler(type_of(value), A_MOLD));
    if (!m) raise_error(err::internal_not_done);
    return m(value, buffer, false, false, false, NO_LIMIT, 0);
}

Cell* new_result(uint32_t capacity) {
    Cell* slot = stack::push_slot();
    slot->header = TYPE_UNSET;
    return rs_make_at(slot, capacity);
}

const Cell* to(Cell*, Cell* spec, int type) {
    int t = type_of(spec);
    Cell* result;
    switch (t) {
    case TYPE_NONE: {
        Cell dt = datatype_cell(type);
        raise_error(err::script_bad_to_arg, &dt, spec);
    }
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
        Cell block = *spec;
        result = new_result(16);
        uint32_t n = series::length_from_head(&block);
        for (uint32_t k = block.data1; k < n; k++) {
            Cell item = reinterpret_cast<Cell*>(series::element_at(series::buffer_of(&block), k))[0];
            form_any(&item, result, NO_LIMIT);
        }
        break;
    }
    case TYPE_REFINEMENT:
        result = new_result(16);
        if (type == TYPE_STRING) form_any(spec, result, NO_LIMIT);
        else mold_any(spec, result);
        break;
    case TYPE_BINARY: {
        Cell bin = *spec;
        result = new_result(series::rs_length(&bin));
        SeriesBuffer* bb = series::buffer_of(&bin);
        uint32_t n = series::rs_length(&bin);
        // The loader reads the bytes in place; nothing else allocates meanwhile.
        std::vector<uint8_t> bytes(series::element_at(bb, bin.data1), series::element_at(bb, bin.data1) + n);
        unicode::load_utf8_into_value(bytes.data(), n, result, nullptr);
        break;
    }
    default:
        if (is_any_string(t)) {
            Cell copy;
            Cell* slot = stack::push_slot();
            slot->header = TYPE_UNSET;
            series::copy(spec, &copy, nullptr, false, nullptr);
            *slot = copy;
            result = slot;
        } else {
            result = new_result(16);
            form_any(spec, result, NO_LIMIT);
        }
        break;
    }
    set_cell_type(result, type);
    clear_new_line_flag(result);
    return result;
}

const Cell* make(Cell* proto, Cell* spec, int type) {
    int t = type_of(spec);
    if (type == TYPE_BINARY && t == TYPE_MONEY) {
        Cell dt = datatype_cell(type);
        raise_error(err::script_bad_make_arg, &dt, spec);
    }
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        int64_t capacity;
        if (t == TYPE_FLOAT) {
            double d = cell_float(spec);
            if (!(d >= -2147483648.0 && d <= 2147483647.0)) raise_error(err::script_out_of_range, spec);
            capacity = int64_t(d);
        } else {
            capacity = int32_t(spec->data2);
        }
        if (capacity < 0) raise_error(err::script_out_of_range, spec);
        Cell* result = new_result(uint32_t(capacity));
        set_cell_type(result, type);
        return result;
    }
    return to(proto, spec, type);
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool case_) {
    int t = type_of(element);
    if (t == TYPE_INTEGER) return series::path_index(parent, element, value);
    Cell p = path ? *path : Cell{TYPE_NONE, 0, 0, 0};
    if (t == TYPE_WORD) raise_error(err::script_invalid_path, &p, element);
    if (value) {
        auto find = reinterpret_cast<act::Find>(get_handler(type_of(parent), A_FIND));
        if (!find) raise_error(err::internal_not_done);
        const Cell* found = find(parent, element, nullptr, false, case_, false, false, nullptr, nullptr, false,
                                 false, false, false);
        if (type_of(found) == TYPE_NONE) raise_error(err::script_bad_path_set, &p, element);
        Cell at = *found;
        return series::poke(&at, 2, value, nullptr);
    }
    auto select = reinterpret_cast<act::Find>(get_handler(type_of(parent), A_SELECT));
    if (!select) raise_error(err::internal_not_done);
    return select(parent, element, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false,
                  false);
}

}  // namespace

namespace {

// A string keeps its characters and its conversion scratch buffer.
void mark_cell(const Cell* c) {
    if (c->data2) collector::mark_node(c->data2);
    if (c->data3) collector::mark_node(c->data3);
}

// One MurmurHash3 (x86, 32-bit) round over a 32-bit block.
inline uint32_t mix_block(uint32_t h1, uint32_t k1) {
    k1 *= 0xCC9E2D51u;
    k1 = (k1 << 15) | (k1 >> 17);
    k1 *= 0x1B873593u;
    h1 ^= k1;
    h1 = (h1 << 13) | (h1 >> 19);
    return h1 * 5 + 0xE6546B64u;
}

// The end of a MurmurHash3 of `length` bytes: the last 0-3 of them, the length,
// the finaliser.
inline uint32_t finish_bytes(uint32_t h1, uint32_t tail, uint32_t length) {
    if (length & 3) {
        tail *= 0xCC9E2D51u;
        tail = (tail << 15) | (tail >> 17);
        h1 ^= tail * 0x1B873593u;
    }
    return hash_pointer(h1 ^ length);
}

// The hash of n characters, folded unless case_sensitive. Strings that
// compare equal ignoring case must hash alike whatever their width, so it
// depends on the folded characters alone: while every one is below 256 it is
// the MurmurHash3 of them as bytes (as a unit-1 string is hashed, see
// hash_key), else that of 32-bit blocks, one per character.
template <typename Char>
uint32_t hash_chars(const Char* chars, uint32_t n, bool case_sensitive) {
    auto folded = [&](uint32_t i) -> uint32_t { return case_sensitive ? chars[i] : fold_upper_fast(chars[i]); };
    bool as_bytes = true;
    for (uint32_t i = 0; i < n && as_bytes; i++) as_bytes = folded(i) < 0x100;
    uint32_t h1 = hash_seed;
    if (!as_bytes) {
        for (uint32_t i = 0; i < n; i++) h1 = mix_block(h1, folded(i));
        return hash_pointer(h1 ^ (n * 4));
    }
    uint32_t block = 0;
    for (uint32_t i = 0; i < n; i++) {
        block |= folded(i) << (8 * (i & 3));
        if ((i & 3) == 3) {
            h1 = mix_block(h1, block);
            block = 0;
        }
    }
    return finish_bytes(h1, block, n);
}

// hash_chars of a wide string's characters from its position on.
[[gnu::noinline]] uint32_t hash_wide(const SeriesBuffer* b, const Cell* cell, bool case_sensitive) {
    uint32_t unit = b->unit();
    uint32_t first = b->offset / unit + cell->data1;
    uint32_t last = b->tail / unit;
    uint32_t n = first < last ? last - first : 0;
    if (unit == 2) return hash_chars(reinterpret_cast<const uint16_t*>(b->read_data()) + first, n, case_sensitive);
    return hash_chars(reinterpret_cast<const uint32_t*>(b->read_data()) + first, n, case_sensitive);
}

// The characters from the value's position on; see hash_chars.
uint32_t hash_cell(const Cell* cell, bool case_sensitive) {
    const SeriesBuffer* b = node_buffer(cell->data2);
    if (b->unit() == 1) return hash_key(key_of(cell), case_sensitive);
    return hash_wide(b, cell, case_sensitive);
}

}  // namespace

// hash_chars of unit-1 text: the bytes as they are with case_sensitive, else
// folded eight at a time while they are ASCII.
uint32_t hash_key(const Key& key, bool case_sensitive) {
    if (!key.bytes) return hash_wide(node_buffer(key.cell->data2), key.cell, case_sensitive);
    const uint8_t* p = key.bytes;
    const uint32_t n = key.length;
    if (case_sensitive) return murmur3_x86_32(p, n, hash_seed);
    uint32_t h1 = hash_seed;
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w = load_le64(p + i);
        if (w & HIGH_BITS) return hash_chars(p, n, false);
        w = ascii_upper8(w);
        h1 = mix_block(mix_block(h1, uint32_t(w)), uint32_t(w >> 32));
    }
    if (n - i >= 4) {
        uint32_t w = load_le32(p + i);
        if (w & uint32_t(HIGH_BITS)) return hash_chars(p, n, false);
        h1 = mix_block(h1, uint32_t(ascii_upper8(w)));
        i += 4;
    }
    uint32_t w = load_tail(p + i, n - i);
    if (w & uint32_t(HIGH_BITS)) return hash_chars(p, n, false);
    return finish_bytes(h1, uint32_t(ascii_upper8(w)), n);
}

// ---------------------------------------------------------------- sort

namespace {

// A string's records: the merge buffer in plain memory, since characters
// keep nothing alive.
class StringRecords final : public sorting::SeriesRecords {
public:
    StringRecords(const sorting::Request& r, uint32_t unit) : SeriesRecords(r, unit), fold_(!r.case_) {}

    void reserve_spare(size_t count) override { spare_.resize(count * width); }

    bool less(size_t x, size_t y) override {
        if (r_.reverse) std::swap(x, y);
        if (r_.function) return call(x, y);
        const uint8_t* a = address(x);
        const uint8_t* b = address(y);
        uint32_t from = r_.whole ? 0 : r_.field, to = r_.whole ? r_.size : r_.field + 1;
        for (uint32_t i = from; i < to; i++) {
            uint32_t c1 = key(get_char(a + i * unit_, unit_)), c2 = key(get_char(b + i * unit_, unit_));
            if (c1 != c2) return c1 < c2;
        }
        return false;
    }

private:
    // Without /case, a unit-1 string folds only A-Z, to lower case; wider
    // strings fold both characters to upper case.
    uint32_t key(uint32_t cp) const {
        if (!fold_) return cp;
        if (unit_ == 1) return cp >= 'A' && cp <= 'Z' ? cp + 32 : cp;
        return fold_upper(cp);
    }

    Cell element(size_t ref) override { return Cell{TYPE_CHAR, 0, get_char(address(ref) + r_.field * unit_, unit_), 0}; }
    void make_scratch(Cell* target) override { make_at(target, r_.size, unit_); }
    uint8_t* spare_at(size_t slot) override { return spare_.data() + slot * width; }

    bool fold_;
    std::vector<uint8_t> spare_;
};

}  // namespace

const Cell* sort(Cell* s, bool case_, Cell* skip, Cell* compare, Cell* part, bool all, bool reverse, bool stable) {
    Cell result = *s;
    sorting::Request r;
    // /stable sorts stably only without /case.
    if (sorting::read_request(r, s, case_, skip, compare, part, all, reverse, stable && !case_, true)) {
        StringRecords store(r, series::buffer_of(s)->unit());
        sorting::run(r, store);
    }
    // A comparator's break, throw or return is on its way: the stack is its.
    if (!stack::thrown) *stack::arguments = result;
    return stack::arguments;
}

void register_type() {
    Registration r(TYPE_STRING, TYPE_SERIES, "string!");
    r.marker(mark_cell, true).hasher(hash_cell);
    r.on<A_MAKE>(make)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_COMPARE>(compare)
        .on<A_SORT>(sort)
        .inherit({A_RANDOM, A_REFLECT, A_AT, A_BACK, A_CLEAR, A_COPY, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_LENGTH_Q,
                  A_MOVE, A_NEXT, A_PICK, A_POKE, A_REMOVE, A_REVERSE, A_SKIP, A_TAIL, A_TAIL_Q, A_MODIFY, A_TAKE});
    register_series_actions(r);
    r.commit();
}

}  // namespace vyx::string

namespace vyx {

bool mold_cycle_marker(const Cell* value, Cell* buffer, int* limit, bool mold) {
    int t = type_of(value);
    Node node = t == TYPE_OBJECT ? value->data1 : value->data2;
    if (!is_cycle_found(node)) return false;
    const char* marker = "...";
    if (mold) {
        switch (t) {
        case TYPE_BLOCK: case TYPE_HASH: marker = "[...]"; break;
        case TYPE_PAREN: marker = "(...)"; break;
        case TYPE_MAP: marker = "#[...]"; break;
        case TYPE_OBJECT: marker = "make object! [...]"; break;
        default: break;
        }
    }
    *limit = string::concatenate_literal(buffer, marker, *limit);
    return true;
}

int mold_indent(Cell* buffer, int levels, int limit) {
    for (int i = 0; i < levels; i++) limit = string::concatenate_literal(buffer, "    ", limit);
    return limit;
}

}  // namespace vyx
