// The series actions string! implements itself rather than taking them from
// series!: the writers append, insert and change (which widen the target when
// a wider character arrives and never narrow it), find and select, trim, swap,
// and the set-operation worker for strings. The other text types take them
// from string!; binary! takes find, select and swap.
//
// Writers first describe the value's text (a character, a run of characters
// in some other buffer, or characters held aside: a tag with its brackets, a
// formed value, a value sharing the target's buffer), check the final size
// once, grow or widen the target once, move the characters behind the write
// position in one block move and copy the text in; /dup repeats it by doubling.
#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/case_map.h"
#include "runtime/cells.h"
#include "runtime/cycle_stack.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx::string {

using series::unit_shift;

namespace {

inline SeriesBuffer* buf(const Cell* s) { return node_buffer(s->data2); }
inline uint32_t chars_in(SeriesBuffer* b) { return (b->tail - b->offset) >> unit_shift(b->unit()); }
// The unit a character claims when it is written: unit 1 holds ASCII only.
inline uint32_t char_unit(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x10000 ? 2 : 4; }

inline bool is_text_value(int t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL || t == TYPE_REF;
}

// What a writer writes: `count` characters of `unit` bytes, read either from a
// string-like value's buffer (re-read after any allocation) or from `held`.
struct Text {
    bool is_char = false;
    uint32_t cp = 0;
    bool direct = false;  // read from src's buffer at src's index
    Cell src{};
    std::vector<uint8_t> held;
    uint32_t unit = 1;
    uint32_t count = 0;

    const uint8_t* chars() const {
        if (direct) return series::element_at(buf(&src), src.data1);
        return held.data();
    }
};

void hold_chars(Text& t, SeriesBuffer* b, uint32_t from, uint32_t n) {
    t.unit = b->unit();
    t.count = n;
    const uint8_t* p = series::element_at(b, from);
    t.held.assign(p, p + (size_t(n) << unit_shift(t.unit)));
}

// Forms a value onto the tail of `target` and returns how many characters it
// added. Blocks, parens and hashes are formed element by element without
// separators. `elements` limits the count of elements formed (a block without
// /only in append), `chars` the characters written (cut back when passed).
uint32_t form_onto(Cell* target, Cell* value, int64_t elements, int64_t chars) {
    uint32_t start = chars_in(buf(target));
    auto formed = [&]() { return chars_in(buf(target)) - start; };
    auto form_one = [&](Cell* v) {
        auto f = reinterpret_cast<act::Form>(get_handler(type_of(v), A_FORM));
        if (!f) raise_error(err::internal_not_done);
        f(v, target, NO_LIMIT);
        if (chars >= 0 && formed() > chars) cut_tail(buf(target), start + uint32_t(chars));
    };
    int vt = type_of(value);
    if (vt == TYPE_BLOCK || vt == TYPE_PAREN || vt == TYPE_HASH) {
        uint32_t n = series::length_from_head(value);
        int64_t done = 0;
        for (uint32_t k = value->data1; k < n; k++) {
            if (elements >= 0 && done >= elements) break;
            if (chars >= 0 && formed() >= chars) break;
            // The element is copied out: forming may move the block's buffer.
            Cell* element = stack::push(reinterpret_cast<Cell*>(series::element_at(buf(value), k)));
            form_one(element);
            stack::top = element;
            n = series::length_from_head(value);
            done++;
        }
    } else {
        form_one(value);
    }
    return formed();
}

enum class Mode { APPEND, INSERT, CHANGE };

// Describes the value's text. A formed value is formed onto the target's tail;
// it stays there (its characters also held, unless `hold_formed` is false:
// an append written once needs nothing more) and `formed_at` says where.
Text describe(Cell* target, Cell* value, int part, bool only, Mode mode, int64_t* formed_at, bool hold_formed = true) {
    Text t;
    int vt = type_of(value);
    *formed_at = -1;
    int64_t limit = mode == Mode::CHANGE || part < 0 ? -1 : part;
    if (vt == TYPE_CHAR) {
        t.is_char = true;
        t.cp = value->data2;
        t.unit = char_unit(t.cp);
        t.count = 1;
        return t;
    }
    if (is_text_value(vt)) {
        uint32_t n = series::rs_length(value);
        if (limit >= 0 && limit < n) n = uint32_t(limit);
        if (value->data2 == target->data2) {
            hold_chars(t, buf(value), std::min(value->data1, series::length_from_head(value)), n);
        } else {
            t.direct = true;
            t.src = *value;
            t.unit = buf(value)->unit();
            t.count = n;
        }
        return t;
    }
    if (vt == TYPE_TAG) {
        SeriesBuffer* b = buf(value);
        uint32_t n = series::rs_length(value);
        uint32_t u = b->unit();
        std::vector<uint8_t> text(size_t(n + 2) << unit_shift(u));
        put_char(text.data(), u, '<');
        std::memcpy(text.data() + u, series::element_at(b, value->data1), size_t(n) << unit_shift(u));
        put_char(text.data() + ((n + 1) << unit_shift(u)), u, '>');
        uint32_t total = n + 2;
        if (limit >= 0 && limit < total) total = uint32_t(limit);
        text.resize(size_t(total) << unit_shift(u));
        t.held = std::move(text);
        t.unit = u;
        t.count = total;
        return t;
    }
    // Anything else is written as its formed text.
    uint32_t at = chars_in(buf(target));
    int64_t elements = -1, chars = -1;
    bool listed = vt == TYPE_BLOCK || vt == TYPE_PAREN || vt == TYPE_HASH;
    if (mode == Mode::APPEND) {
        if (listed && !only) elements = limit;
        else if (only) chars = limit;
    } else if (mode == Mode::INSERT) {
        chars = limit;
    }
    uint32_t n = form_onto(target, value, elements, chars);
    *formed_at = at;
    if (hold_formed) {
        hold_chars(t, buf(target), at, n);
    } else {
        t.unit = buf(target)->unit();
        t.count = n;
    }
    return t;
}

// Characters after the write: checked for 32-bit overflow before anything
// moves (the formed text of a formed value excepted).
uint32_t checked_total(uint32_t before, uint32_t count, uint32_t dup, uint32_t replaced, uint32_t unit) {
    int64_t total = int64_t(before) + int64_t(count) * dup - replaced;
    if (int64_t(count) * dup > INT32_MAX || total > INT32_MAX || (total << unit_shift(unit)) > INT32_MAX)
        raise_error(err::internal_no_memory);
    return uint32_t(total);
}

// Writes `t` (dup times) at character `at` of the series, replacing `replaced`
// characters there; answers nothing, the buffer is re-read by the caller.
void write_text(Cell* s, uint32_t at, uint32_t replaced, Text& t, uint32_t dup, bool doubling) {
    SeriesBuffer* b = buf(s);
    uint32_t n = chars_in(b);
    uint32_t unit = std::max(b->unit(), t.unit);
    uint32_t total = checked_total(n, t.count, dup, replaced, unit);
    uint32_t added = t.count * dup;
    if (unit > b->unit()) b = widen_to(b, unit);
    uint32_t shift = unit_shift(unit);
    uint64_t need = uint64_t(b->offset) + (uint64_t(total) << shift);
    if (need > b->size) {
        uint64_t bytes = uint64_t(total) << shift;
        if (doubling && bytes < uint64_t(b->size) * 2) bytes = uint64_t(b->size) * 2;
        b = grow_series(b, int64_t(bytes));
    }
    uint8_t* base = series::element_at(b, 0);
    uint32_t rest = n - at - replaced;
    if (rest && added != replaced)
        std::memmove(base + (size_t(at + added) << shift), base + (size_t(at + replaced) << shift), size_t(rest) << shift);
    uint8_t* dst = base + (size_t(at) << shift);
    if (t.count) {
        if (t.is_char) {
            put_char(dst, unit, t.cp);
        } else {
            const uint8_t* from = t.chars();
            if (t.unit == unit) {
                std::memcpy(dst, from, size_t(t.count) << shift);
            } else {
                uint32_t su = unit_shift(t.unit);
                for (uint32_t i = 0; i < t.count; i++) put_char(dst + (i << shift), unit, get_char(from + (i << su), t.unit));
            }
        }
        if (dup > 1) fill_by_doubling(dst, t.count << shift, dup);
    }
    b->tail = b->offset + (total << shift);
}

void answer(Cell series_cell) { *stack::arguments = series_cell; }

void append_worker(Cell* s, Cell* value, int part, bool only, int dup, bool notify) {
    Cell sc = *s;
    uint32_t n = chars_in(buf(&sc));
    bool owned = notify && series::notify(&sc, series::Change::APPEND, false, value, int32_t(n), 0);
    int64_t formed_at;
    Text t = describe(&sc, value, part, only, Mode::APPEND, &formed_at, dup > 1);
    if (t.count == 0) {
        answer(sc);
        return;
    }
    if (formed_at >= 0) {
        // The formed text already stands at the tail: only its repeats remain.
        if (dup > 1) {
            cut_tail(buf(&sc), uint32_t(formed_at));
            write_text(&sc, uint32_t(formed_at), 0, t, uint32_t(dup), true);
        }
    } else {
        write_text(&sc, n, 0, t, uint32_t(dup), true);
    }
    if (owned) series::notify(&sc, series::Change::APPEND, true, value, int32_t(n), int32_t(t.count * uint32_t(dup)));
    sc.data1 = 0;
    answer(sc);
}

void append(Cell* s, Cell* value, int part, bool only, int dup) { append_worker(s, value, part, only, dup, true); }

void insert(Cell* s, Cell* value, int part, bool only, int dup) {
    Cell sc = *s;
    uint32_t n = chars_in(buf(&sc));
    if (sc.data1 > n) sc.data1 = n;
    uint32_t at = sc.data1;
    bool owned = series::notify(&sc, series::Change::INSERT, false, value, int32_t(at), 0);
    int64_t formed_at;
    Text t = describe(&sc, value, part, only, Mode::INSERT, &formed_at);
    if (formed_at >= 0) cut_tail(buf(&sc), uint32_t(formed_at));
    if (t.count) write_text(&sc, at, 0, t, uint32_t(dup), at == n);
    uint32_t added = t.count * uint32_t(dup);
    if (owned) series::notify(&sc, series::Change::INSERT, true, value, int32_t(at), int32_t(added));
    sc.data1 = std::min(at + added, chars_in(buf(&sc)));
    answer(sc);
}

void change(Cell* s, Cell* value, int part, bool only, int dup) {
    Cell sc = *s;
    uint32_t n = chars_in(buf(&sc));
    if (sc.data1 > n) sc.data1 = n;
    uint32_t at = sc.data1, rest = n - at;
    int vt = type_of(value);
    int64_t announced = part >= 0 ? part : is_any_block(vt) ? series::rs_length(value) : 1;
    announced = std::min<int64_t>(announced * dup, rest);
    bool owned = series::notify(&sc, series::Change::CHANGE, false, value, int32_t(at), int32_t(announced));
    int64_t formed_at;
    Text t = describe(&sc, value, -1, only, Mode::CHANGE, &formed_at);
    if (formed_at >= 0) cut_tail(buf(&sc), uint32_t(formed_at));
    uint64_t added = uint64_t(t.count) * uint32_t(dup);
    uint32_t replaced = at == n ? 0 : part >= 0 ? std::min<uint32_t>(uint32_t(part), rest)
                                                : uint32_t(std::min<uint64_t>(added, rest));
    write_text(&sc, at, replaced, t, uint32_t(dup), at == n);
    if (owned) series::notify(&sc, series::Change::CHANGE, true, value, int32_t(at), int32_t(added));
    sc.data1 = uint32_t(std::min<uint64_t>(at + added, chars_in(buf(&sc))));
    answer(sc);
}

// ---------------------------------------------------------------- find and select

struct Needle {
    enum { ONE, BITSET, TEXT } kind = ONE;
    uint32_t cp = 0;
    const Cell* bitset = nullptr;
    std::vector<uint32_t> text;  // code points, folded when the search folds
};

void text_of_utf8(std::vector<uint32_t>& out, std::string_view utf8) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
    const uint8_t* end = p + utf8.size();
    out.reserve(out.size() + utf8.size());
    while (p < end) {
        int32_t cp;
        p = unicode::fast_decode_utf8_char(p, end, cp);
        out.push_back(uint32_t(cp));
    }
}

// Each byte of UTF-8 text as one element, for searches in a binary!.
void text_of_bytes(std::vector<uint32_t>& out, std::string_view utf8) {
    out.reserve(out.size() + utf8.size());
    for (char c : utf8) out.push_back(uint8_t(c));
}

void text_of_series(std::vector<uint32_t>& out, const Cell* v) {
    SeriesBuffer* b = buf(v);
    uint32_t n = series::length_from_head(v), u = b->unit();
    if (v->data1 < n) out.reserve(out.size() + (n - v->data1));
    for (uint32_t k = v->data1; k < n; k++) out.push_back(get_char(series::element_at(b, k), u));
}

Needle needle_for(Cell* s, Cell* value, bool fold) {
    Needle nd;
    int st = type_of(s), vt = type_of(value);
    bool bytes = st == TYPE_BINARY;
    switch (vt) {
    case TYPE_CHAR:
        nd.cp = fold ? fold_upper(value->data2) : value->data2;
        return nd;
    case TYPE_BITSET:
        nd.kind = Needle::BITSET;
        nd.bitset = value;
        return nd;
    case TYPE_INTEGER:
        if (bytes) {
            nd.cp = value->data2;
            return nd;
        }
        break;
    case TYPE_BINARY:
        if (!bytes) raise_error(err::script_invalid_arg, value);
        nd.kind = Needle::TEXT;
        text_of_series(nd.text, value);
        return nd;
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_REFINEMENT:
    case TYPE_ISSUE:
        if (vt == TYPE_WORD) {
            nd.kind = Needle::TEXT;
            std::string_view name = symbol::name_view(word::symbol_of(value));
            if (bytes) text_of_bytes(nd.text, name);
            else text_of_utf8(nd.text, name);
        }
        break;
    default:
        break;
    }
    if (nd.kind != Needle::TEXT) {
        nd.kind = Needle::TEXT;
        if (is_text_value(vt)) {
            if (bytes) text_of_bytes(nd.text, to_utf8(value));  // a text in bytes is its UTF-8
            else text_of_series(nd.text, value);
        } else {
            Cell* scratch = push(16);
            form_onto(scratch, value, -1, -1);
            if (bytes) text_of_bytes(nd.text, to_utf8(scratch));
            else text_of_series(nd.text, scratch);
            stack::top = scratch;
        }
    }
    if (fold)
        for (uint32_t& c : nd.text) c = fold_upper_fast(c);
    return nd;
}

// Forward search of a byte-wide series, by memchr and memmem: the index of the
// first match in [from, end), -1 when none, or SLOW_PATH when the needle does
// not suit (a character with more than two byte spellings under folding).
constexpr int64_t SLOW_PATH = -2;

// The bytes that fold to cp (cp itself without folding): at most two fit.
int byte_spellings(uint32_t cp, bool fold, uint8_t out[2]) {
    if (!fold) {
        if (cp > 0xFF) return 0;
        out[0] = uint8_t(cp);
        return 1;
    }
    // The bytes that fold to each character, worked out once, for every
    // character a byte folds to.
    struct Spellings {
        int8_t count;  // -1: more than two
        uint8_t bytes[2];
    };
    static const std::vector<Spellings> table = [] {
        uint32_t top = 0;
        for (uint32_t b = 0; b < 256; b++) top = std::max(top, fold_upper(b));
        std::vector<Spellings> t(top + 1, Spellings{0, {0, 0}});
        for (uint32_t b = 0; b < 256; b++) {
            Spellings& e = t[fold_upper(b)];
            if (e.count == 2 || e.count < 0) e.count = -1;
            else e.bytes[e.count++] = uint8_t(b);
        }
        return t;
    }();
    if (cp >= table.size()) return 0;
    const Spellings& e = table[cp];
    if (e.count > 0) {
        out[0] = e.bytes[0];
        out[1] = e.bytes[1];
    }
    return e.count;
}

const uint8_t* first_of(const uint8_t* p, size_t span, const uint8_t* bytes, int n) {
    const uint8_t* best = nullptr;
    for (int i = 0; i < n; i++) {
        const void* q = std::memchr(p, bytes[i], best ? size_t(best - p) : span);
        if (q) best = static_cast<const uint8_t*>(q);
    }
    return best;
}

int64_t find_bytes(const uint8_t* base, int64_t from, int64_t end, const Needle& nd, bool fold) {
    uint32_t first = nd.kind == Needle::TEXT ? nd.text[0] : nd.cp;
    uint8_t spell[2];
    int n = byte_spellings(first, fold, spell);
    if (n < 0) return SLOW_PATH;
    if (n == 0) return -1;
    if (nd.kind != Needle::TEXT) {
        const uint8_t* q = first_of(base + from, size_t(end - from), spell, n);
        return q ? q - base : -1;
    }
    size_t len = nd.text.size();
    if (!fold) {
        // A short needle's bytes stay on the machine stack.
        uint8_t near[64];
        std::vector<uint8_t> far(len > sizeof near ? len : 0);
        uint8_t* bytes = len > sizeof near ? far.data() : near;
        for (size_t i = 0; i < len; i++) {
            if (nd.text[i] > 0xFF) return -1;
            bytes[i] = uint8_t(nd.text[i]);
        }
        const void* q = memmem(base + from, size_t(end - from), bytes, len);
        return q ? static_cast<const uint8_t*>(q) - base : -1;
    }
    for (int64_t k = from; k + int64_t(len) <= end;) {
        const uint8_t* q = first_of(base + k, size_t(end - k), spell, n);
        if (!q) return -1;
        k = q - base;
        if (k + int64_t(len) > end) return -1;
        size_t i = 1;
        while (i < len && fold_upper_fast(base[k + int64_t(i)]) == nd.text[i]) i++;
        if (i == len) return k;
        k++;
    }
    return -1;
}

// The search behind find and select: the character index of the match and
// the length matched, or -1.
struct Found {
    int64_t at;
    uint32_t length;
};

const Found NOT_FOUND{-1, 0};

Found search(Cell* s, Cell* value, Cell* part, bool case_, bool same, bool any, Cell* with, Cell* skip, bool last,
             bool reverse, bool match) {
    SeriesBuffer* b = buf(s);
    uint32_t n = chars_in(b);
    if (n == 0) return NOT_FOUND;
    uint32_t index = s->data1;
    if (index >= n && !reverse) return NOT_FOUND;
    if (index > n) index = n;
    if (any || with) raise_error(err::internal_not_done);
    int64_t step = 1;
    if (skip) {
        step = int32_t(skip->data2);
        if (step < 1) raise_error(err::script_out_of_range, skip);
    }
    int64_t count = -1;  // the /part count
    if (part) {
        if (type_of(part) == TYPE_INTEGER) {
            count = int32_t(part->data2);
        } else if (type_of(part) == type_of(s) && part->data2 == s->data2) {
            count = int64_t(std::min(part->data1, n)) - index;
        } else {
            Cell w = series::named_word("part");
            raise_error(err::script_invalid_refine_arg, &w, part);
        }
        if (count < 1) return NOT_FOUND;
    }
    int st = type_of(s), vt = type_of(value);
    bool fold = is_any_string(st) && !case_ && !same && vt != TYPE_BITSET && vt != TYPE_FLOAT;
    Needle nd = needle_for(s, value, fold);
    uint32_t len = nd.kind == Needle::TEXT ? uint32_t(nd.text.size()) : 1;
    if (len == 0) return NOT_FOUND;
    b = buf(s);  // forming a needle may have moved the buffer
    uint32_t unit = b->unit();
    const uint8_t* base = series::element_at(b, 0);
    auto at = [&](int64_t k) {
        uint32_t c = get_char(base + (size_t(k) << unit_shift(unit)), unit);
        return fold ? fold_upper_fast(c) : c;
    };
    auto one = [&](int64_t k) {
        if (nd.kind == Needle::BITSET) return bitset::test_bit(nd.bitset, get_char(base + (size_t(k) << unit_shift(unit)), unit));
        return at(k) == nd.cp;
    };
    // A text starting at k (bounds checked by the caller).
    auto text_at = [&](int64_t k) {
        for (uint32_t i = 0; i < len; i++)
            if (at(k + i) != nd.text[i]) return false;
        return true;
    };
    series::FindBounds bounds;
    if (!series::find_bounds(index, n, count, last, reverse, match, bounds)) return NOT_FOUND;
    if (!bounds.backward) {
        int64_t end = bounds.high;
        if (step == 1 && unit == 1 && !match && nd.kind != Needle::BITSET && end > index) {
            int64_t k = find_bytes(base, index, end, nd, fold);
            if (k != SLOW_PATH) return k < 0 ? NOT_FOUND : Found{k, len};
        }
        for (int64_t k = index; k < end; k += step) {
            if (nd.kind == Needle::TEXT) {
                if (k + len > end) break;
                if (text_at(k)) return {k, len};
            } else if (one(k)) {
                return {k, uint32_t(step)};
            }
            if (match) break;
        }
        return NOT_FOUND;
    }
    int64_t low = bounds.low;
    for (int64_t k = bounds.high - 1; k >= low; k -= step) {
        if (nd.kind == Needle::TEXT) {
            int64_t from = k - len + 1;
            if (from < low) break;
            if (text_at(from)) return {from, len};
        } else if (one(k)) {
            return {k, uint32_t(step)};
        }
        if (match) break;
    }
    return NOT_FOUND;
}

Cell found_cell;

const Cell* find(Cell* s, Cell* value, Cell* part, bool, bool case_, bool same, bool any, Cell* with, Cell* skip,
                 bool last, bool reverse, bool tail, bool match) {
    Found f = search(s, value, part, case_, same, any, with, skip, last, reverse, match);
    if (f.at < 0) return &NONE_CELL;
    found_cell = *s;
    found_cell.data1 = uint32_t(f.at + (tail ? f.length : 0));
    return &found_cell;
}

const Cell* select(Cell* s, Cell* value, Cell* part, bool, bool case_, bool same, bool any, Cell* with, Cell* skip,
                   bool last, bool reverse, bool, bool) {
    Found f = search(s, value, part, case_, same, any, with, skip, last, reverse, false);
    if (f.at < 0) return &NONE_CELL;
    // The element after the whole matched text, as find/tail would answer it.
    int64_t after = f.at + (type_of(value) == TYPE_CHAR || type_of(value) == TYPE_BITSET ? 1 : f.length);
    if (type_of(value) == TYPE_INTEGER && type_of(s) == TYPE_BINARY) after = f.at + 1;
    if (after >= chars_in(buf(s))) return &NONE_CELL;
    series::element_value(s, uint32_t(after), &found_cell);
    return &found_cell;
}

// ---------------------------------------------------------------- trim

bool is_space(uint32_t c) {
    switch (c) {
    case ' ': case '\t': case 0x85: case 0xA0: case 0x1680: case 0x180E: case 0x2028: case 0x2029: case 0x202F:
    case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}
inline bool is_blank(uint32_t c) { return is_space(c) || c == '\n' || c == '\r'; }

void trim(Cell* s, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    Cell sc = *s;
    if (auto_) raise_error(err::internal_not_done);
    // The characters to drop come as one char or as the text of a string or binary.
    if (with && type_of(with) != TYPE_CHAR && type_of(with) != TYPE_BINARY && !is_any_string(type_of(with)))
        raise_error(err::script_invalid_arg, with);
    SeriesBuffer* b = buf(&sc);
    uint32_t n = chars_in(b);
    if (sc.data1 > n) sc.data1 = n;
    uint32_t from = sc.data1;
    bool owned = series::notify(&sc, series::Change::TRIM, false, nullptr, int32_t(from), int32_t(n - from));
    std::vector<uint32_t> text;
    text_of_series(text, &sc);
    std::vector<uint32_t> out;
    out.reserve(text.size());
    if (all || with) {
        std::unordered_set<uint32_t> drop;
        if (with) {
            if (type_of(with) == TYPE_CHAR) {
                drop.insert(with->data2);
            } else {
                std::vector<uint32_t> chars;
                text_of_series(chars, with);
                drop.insert(chars.begin(), chars.end());
            }
        }
        for (uint32_t c : text)
            if (with ? !drop.count(c) : !is_blank(c)) out.push_back(c);
    } else if (lines) {
        auto white = [](uint32_t c) { return (c >= 1 && c <= 32) || is_space(c); };
        bool pending = false;
        for (uint32_t c : text) {
            if (white(c)) {
                pending = !out.empty();
                continue;
            }
            if (pending) out.push_back(' ');
            pending = false;
            out.push_back(c);
        }
    } else {
        size_t lo = 0, hi = text.size();
        if (head || !tail)
            while (lo < hi && is_blank(text[lo])) lo++;
        bool line_at_end = false;
        if (tail || !head)
            while (hi > lo && is_blank(text[hi - 1])) {
                line_at_end |= text[hi - 1] == '\n';
                hi--;
            }
        if (head || tail) {
            out.assign(text.begin() + long(lo), text.begin() + long(hi));
        } else {
            // Indentation after a line feed and blanks before one go too.
            for (size_t k = lo; k < hi; k++) {
                uint32_t c = text[k];
                if (c == '\n') {
                    while (!out.empty() && is_space(out.back())) out.pop_back();
                    out.push_back(c);
                    while (k + 1 < hi && is_space(text[k + 1])) k++;
                    continue;
                }
                out.push_back(c);
            }
            if (line_at_end) out.push_back('\n');
        }
    }
    // Written back in place: trimming never needs a wider unit.
    b = buf(&sc);
    uint32_t unit = b->unit();
    uint8_t* dst = series::element_at(b, from);
    for (size_t i = 0; i < out.size(); i++) put_char(dst + (i << unit_shift(unit)), unit, out[i]);
    b->tail = b->offset + uint32_t((from + out.size()) << unit_shift(unit));
    if (owned) series::notify(&sc, series::Change::TRIM, true, nullptr, int32_t(from), int32_t(out.size()));
    answer(sc);
}

// ---------------------------------------------------------------- swap

void swap(Cell* a, Cell* b) {
    Cell x = *a, y = *b;
    int yt = type_of(&y);
    if (!is_any_string(yt) && yt != TYPE_BINARY) raise_error(err::script_invalid_arg, &y);
    if (!series::is_rs_tail(&x) && !series::is_rs_tail(&y) && (x.data2 != y.data2 || x.data1 != y.data1)) {
        bool owned = series::notify(&x, series::Change::SWAP, false, &y, int32_t(x.data1), 1);
        uint32_t cx = char_at(&x, x.data1), cy = char_at(&y, y.data1);
        if (type_of(&x) == TYPE_BINARY || yt == TYPE_BINARY) {
            // Bytes stay bytes: a character swapped into binary keeps its low byte.
            if (type_of(&x) == TYPE_BINARY) cy &= 0xFF;
            if (yt == TYPE_BINARY) cx &= 0xFF;
        }
        poke_char(buf(&x), x.data1, cy);
        poke_char(buf(&y), y.data1, cx);
        if (owned) series::notify(&x, series::Change::SWAP, true, &y, int32_t(x.data1), 1);
    }
    answer(x);
}

}  // namespace

// ---------------------------------------------------------------- set operations

const Cell* set_operation(int op, Cell* series1, Cell* series2, bool case_, Cell* skip) {
    uint32_t size = 1;
    if (skip) {
        int32_t k = type_of(skip) == TYPE_INTEGER ? int32_t(skip->data2) : 0;
        if (k < 1) {
            Cell w = series::named_word("skip");
            raise_error(err::script_invalid_refine_arg, &w, skip);
        }
        size = uint32_t(k);
    }
    std::vector<uint32_t> a, b;
    text_of_series(a, series1);
    if (series2) text_of_series(b, series2);
    auto key = [&](uint32_t c) { return case_ ? c : fold_upper_fast(c); };
    auto firsts = [&](const std::vector<uint32_t>& text) {
        std::unordered_set<uint32_t> set;
        for (size_t k = 0; k < text.size(); k += size) set.insert(key(text[k]));
        return set;
    };
    std::vector<uint32_t> out;
    std::unordered_set<uint32_t> seen;
    auto pass = [&](const std::vector<uint32_t>& text, const std::unordered_set<uint32_t>* other, bool keep_if_in) {
        for (size_t k = 0; k < text.size(); k += size) {
            uint32_t c = key(text[k]);
            if (other && (other->count(c) != 0) != keep_if_in) continue;
            if (!seen.insert(c).second) continue;
            out.insert(out.end(), text.begin() + long(k), text.begin() + long(std::min(text.size(), k + size)));
        }
    };
    if (!series::run_set_passes(op, a, b, pass, firsts)) raise_error(err::internal_not_done);
    uint32_t unit = 1;
    for (uint32_t c : out) unit = std::max(unit, unit_for(c));
    Cell* result = stack::push_slot();
    result->header = TYPE_UNSET;
    make_at(result, uint32_t(out.size() ? out.size() : 1), unit);
    SeriesBuffer* rb = buf(result);
    for (size_t i = 0; i < out.size(); i++) put_char(rb->data() + (i << unit_shift(unit)), unit, out[i]);
    rb->tail = uint32_t(out.size() << unit_shift(unit));
    set_cell_type(result, type_of(series1));
    return result;
}

void register_series_actions(Registration& r) {
    r.on<A_APPEND>(append)
        .on<A_INSERT>(insert)
        .on<A_CHANGE>(change)
        .on<A_FIND>(find)
        .on<A_SELECT>(select)
        .on<A_TRIM>(trim)
        .on<A_SWAP>(swap);
}

}  // namespace vyx::string

namespace vyx {

Cell* change_case(Cell* value, int direction, const Cell* part) {
    if (type_of(value) == TYPE_CHAR) {
        value->data2 = case_fold_char(value->data2, direction);
        return value;
    }
    Node node = value->data2;
    uint32_t n = unicode::chars_from_index(value);
    uint32_t index = value->data1;
    if (index > node_buffer(node)->length()) index = node_buffer(node)->length();
    if (part) {
        int64_t count;
        if (type_of(part) == TYPE_INTEGER) {
            count = int32_t(part->data2);
        } else if (is_any_string(type_of(part)) && part->data2 == node) {
            count = int64_t(part->data1) - int64_t(index);
        } else {
            Cell word{TYPE_WORD, 0, uint32_t(symbol::make("part")), uint32_t(-1)};
            raise_error(err::script_invalid_refine_arg, &word, part);
        }
        if (count < 0) count = 0;
        if (count < n) n = uint32_t(count);
    }
    for (uint32_t i = index; i < index + n; i++) {
        SeriesBuffer* b = node_buffer(node);  // re-read: a poke may have widened it
        uint32_t c = string::char_at(b, b->offset / b->unit() + i);
        uint32_t m = case_fold_char(c, direction);
        if (m != c) unicode::poke_char(node, i, m);
    }
    return value;
}

}  // namespace vyx
