#include "datatypes/binary.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/bitset.h"
#include "datatypes/image.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/types.h"
#include "datatypes/word.h"
#include "runtime/cycle_stack.h"
#include "runtime/stack.h"
#include "runtime/base_codecs.h"
#include "runtime/cells.h"
#include "runtime/memory.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx::binary {

using Bytes = std::vector<uint8_t>;
using series::Change;

namespace {

const Cell BINARY_TYPE{TYPE_DATATYPE, TYPE_BINARY, 0, 0};

inline SeriesBuffer* buf(const Cell* c) { return node_buffer(c->data2); }

// Clamps a head beyond the tail and answers it.
uint32_t clamp_head(Cell* s) {
    SeriesBuffer* b = buf(s);
    uint32_t n = b->tail - b->offset;
    if (s->data1 > n) s->data1 = n;
    return s->data1;
}

inline uint32_t capacity_of(SeriesBuffer* b) { return b->size - b->offset; }

[[noreturn]] void raise_no_memory() { raise_error(err::internal_no_memory); }

// The formed text of any value, as UTF-8.
void formed_utf8(const Cell* value, Bytes& out) {
    Cell held = *value;
    auto f = reinterpret_cast<act::Form>(get_handler(type_of(&held), A_FORM));
    if (!f) raise_error(err::internal_not_done);
    Cell* top = stack::top;
    Cell* text = string::push(16);
    f(&held, text, NO_LIMIT);
    Cell t = *text;
    text_utf8(&t, -1, out);
    stack::top = top;
}

void cut_to(Bytes& out, size_t from, int64_t limit) {
    if (limit >= 0 && out.size() - from > uint64_t(limit)) out.resize(from + size_t(limit));
}

void collect_into(const Cell* value, int32_t limit, bool only, bool any, Bytes& out) {
    size_t from = out.size();
    int t = type_of(value);
    switch (t) {
    case TYPE_CHAR: {
        uint8_t tmp[4];
        int n = unicode::write_utf8_char(value->data2, tmp);
        out.insert(out.end(), tmp, tmp + n);
        break;
    }
    case TYPE_INTEGER: {
        int32_t v = int32_t(value->data2);
        if (v < -128 || v > 255) raise_error(err::script_invalid_arg, value);
        out.push_back(uint8_t(v));
        break;
    }
    case TYPE_BINARY: {
        Cell b = *value;
        uint32_t n = rs_length(&b);
        if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
        const uint8_t* p = rs_head(&b);
        out.insert(out.end(), p, p + n);
        break;
    }
    case TYPE_TUPLE:
        for (int i = 0; i < tuple::length(value); i++) out.push_back(tuple::byte_at(value, i));
        break;
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
        Cell blk = *value;
        // A block inside itself would be collected without end.
        auto guard = CycleGuard::refusing(blk.data2);
        uint32_t total = series::length_from_head(&blk);
        uint32_t first = std::min(blk.data1, total);
        uint32_t count = total - first;
        if (!only) {
            // The limit counts elements, each taken whole.
            if (limit >= 0 && uint32_t(limit) < count) count = uint32_t(limit);
            for (uint32_t i = 0; i < count; i++) {
                Cell item = *reinterpret_cast<Cell*>(series::element_at(buf(&blk), first + i));
                collect_into(&item, -1, false, any, out);
            }
        } else {
            // The limit is a byte budget the elements share.
            int64_t left = limit >= 0 ? limit : INT64_MAX;
            for (uint32_t i = 0; i < count && left > 0; i++) {
                Cell item = *reinterpret_cast<Cell*>(series::element_at(buf(&blk), first + i));
                size_t at = out.size();
                collect_into(&item, -1, true, any, out);
                cut_to(out, at, left);
                left -= int64_t(out.size() - at);
            }
        }
        return;
    }
    default:
        if (is_any_string(t)) {
            text_utf8(value, limit, out);
            return;
        }
        if (!any) raise_error(err::script_bad_to_arg, &BINARY_TYPE, value);
        formed_utf8(value, out);
        break;
    }
    cut_to(out, from, limit);
}

// Doubles the first n bytes at p until `total` are filled.
void fill_by_doubling(uint8_t* p, size_t n, size_t total) {
    size_t done = n;
    while (done < total) {
        size_t k = std::min(done, total - done);
        std::memcpy(p + done, p, k);
        done += k;
    }
}

// Room for `size` bytes of content: the buffer grows to twice its capacity,
// or to the size when twice is not enough (exactly when `exact`).
SeriesBuffer* ensure_capacity(Cell* s, uint64_t size, bool exact) {
    SeriesBuffer* b = buf(s);
    if (size > 0x7FFFFFFF) raise_no_memory();
    if (size <= capacity_of(b)) return b;
    uint64_t want = exact ? size : std::max<uint64_t>(uint64_t(capacity_of(b)) * 2, size);
    if (want > 0x7FFFFFFF) want = size;
    return grow_series(b, int64_t(want));
}

}  // namespace

// ---------------------------------------------------------------- byte level

Cell* make_at(Cell* target, uint32_t capacity) {
    Node n = new_byte_series(capacity);
    target->header = (target->header & ~TYPE_MASK) | TYPE_BINARY;
    target->data1 = 0;
    target->data2 = n;
    target->data3 = 0;
    return target;
}

Cell* push(uint32_t capacity) {
    Cell* slot = stack::push_slot();
    *slot = Cell{TYPE_UNSET, 0, 0, 0};
    return make_at(slot, capacity);
}

Cell* make_from(Cell* target, const uint8_t* bytes, uint32_t n) {
    Cell v{TYPE_UNSET, 0, 0, 0};
    make_at(&v, n);
    SeriesBuffer* b = buf(&v);
    if (n) std::memcpy(b->head(), bytes, n);
    b->tail = b->offset + n;
    *target = v;
    return target;
}

Cell* load(const uint8_t* bytes, uint32_t n) {
    Cell* slot = stack::push_slot();
    *slot = Cell{TYPE_UNSET, 0, 0, 0};
    return make_from(slot, bytes, n);
}

Cell* load_in(const uint8_t* bytes, uint32_t n, Cell* block) {
    Cell* kept = load(bytes, n);
    Cell* c = append_cell(block);
    *c = *kept;
    stack::top = kept;
    return c;
}

uint32_t rs_length(const Cell* bin) { return series::rs_length(bin); }

uint8_t* rs_head(Cell* bin) {
    clamp_head(bin);
    return series::element_at(buf(bin), bin->data1);
}

uint8_t get_byte(const Cell* bin, uint32_t index) { return buf(bin)->head()[index]; }

uint8_t* rs_append(Cell* bin, const uint8_t* bytes, uint32_t n) {
    SeriesBuffer* b = buf(bin);
    uint64_t need = uint64_t(b->tail - b->offset) + n;
    b = ensure_capacity(bin, need, false);
    uint8_t* at = b->tail_ptr();
    if (bytes) std::memcpy(at, bytes, n);
    else std::memset(at, 0, n);
    b->tail += n;
    return at;
}

uint8_t* rs_insert(Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n) {
    uint32_t at = clamp_head(bin) + offset;
    SeriesBuffer* b = buf(bin);
    uint32_t len = b->tail - b->offset;
    if (at > len) at = len;
    b = ensure_capacity(bin, uint64_t(len) + n, false);
    uint8_t* p = b->head() + at;
    std::memmove(p + n, p, len - at);
    if (bytes) std::memcpy(p, bytes, n);
    b->tail += n;
    return p;
}

void from_integer(int32_t value, Cell* bin) {
    uint32_t v = uint32_t(value);
    uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    rs_append(bin, bytes, 4);
}

Cell* from_hex(const Cell* issue, Cell* target) {
    Cell held = *issue;
    std::string name = symbol::name(word::symbol_of(&held));
    Bytes out;
    if (!base_codecs::decode_16_bytes(reinterpret_cast<const uint8_t*>(name.data()), name.size(), out))
        raise_error(err::script_invalid_data, &held);
    return make_from(target, out.data(), uint32_t(out.size()));
}

void text_utf8(const Cell* str, int32_t limit, Bytes& out) {
    Cell s = *str;
    SeriesBuffer* b = buf(&s);
    uint32_t unit = b->unit();
    uint32_t n = series::rs_length(&s);
    if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
    const uint8_t* p = series::element_at(b, s.data1);
    if (unit == 1) {
        size_t at = out.size();
        out.resize(at + n * 2);
        uint8_t* w = out.data() + at;
        for (uint32_t i = 0; i < n; i++) {
            uint8_t c = p[i];
            if (c < 0x80) {
                *w++ = c;
            } else {
                *w++ = uint8_t(0xC0 | (c >> 6));
                *w++ = uint8_t(0x80 | (c & 0x3F));
            }
        }
        out.resize(size_t(w - out.data()));
        return;
    }
    uint8_t tmp[4];
    for (uint32_t i = 0; i < n; i++) {
        int k = unicode::write_utf8_char(string::get_char(p + size_t(i) * unit, unit), tmp);
        out.insert(out.end(), tmp, tmp + k);
    }
}

// ---------------------------------------------------------------- comparison

namespace {

bool equality_op(int op) {
    return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
}

int compare_bytes(const uint8_t* a, uint32_t la, const uint8_t* b, uint32_t lb, int op, bool match) {
    uint32_t n;
    if (match) {
        if (lb == 0) return (op == COMP_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND) ? 0 : 1;
        if (la < lb) return 1;
        n = lb;
    } else {
        if (la != lb && equality_op(op)) return 1;
        if (la == 0 && lb == 0) return 0;
        n = std::min(la, lb);
    }
    int r = n ? std::memcmp(a, b, n) : 0;
    if (r) return r < 0 ? -1 : 1;
    if (match) return 0;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

}  // namespace

int equal(const Cell* bin, const Cell* other, int op, bool match) {
    int t = type_of(other);
    if (t != TYPE_BINARY && !is_any_string(t)) return NOT_COMPARABLE;
    if (t == TYPE_BINARY && bin->data2 == other->data2 && bin->data1 == other->data1) {
        if (op == COMP_SAME || equality_op(op)) return 0;
    } else if (op == COMP_SAME) {
        return -1;
    }
    Cell a = *bin;
    uint32_t la = rs_length(&a);
    if (t == TYPE_BINARY) {
        Cell b = *other;
        uint32_t lb = rs_length(&b);
        return compare_bytes(rs_head(&a), la, rs_head(&b), lb, op, match);
    }
    Bytes text;
    text_utf8(other, -1, text);
    return compare_bytes(rs_head(&a), la, text.data(), uint32_t(text.size()), op, match);
}

int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_BINARY) return NOT_COMPARABLE;
    return equal(a, b, op, false);
}

uint8_t get_byte_arg(const Cell* value) {
    int t = type_of(value);
    if (t != TYPE_INTEGER && t != TYPE_CHAR) raise_error(err::script_invalid_arg, value);
    if (value->data2 > 0xFF) raise_error(err::script_out_of_range, value);
    return uint8_t(value->data2);
}

// ---------------------------------------------------------------- text

int mold(Cell* value, Cell* buffer, bool only, bool, bool flat, int part, int indent) {
    static const char HEX[] = "0123456789ABCDEF";
    Cell v = *value;
    uint32_t n = rs_length(&v);
    bool lines = n > 30 && !flat;
    std::string inner(size_t(indent + 1) * 4, ' ');
    std::string outer(size_t(indent) * 4, ' ');
    std::string text;
    int left = part;
    auto add = [&](const char* s, size_t k) {
        text.append(s, k);
        left -= int(k);
    };
    if (!only) add("#{", 2);
    if (lines) {
        add("\n", 1);
        add(inner.data(), inner.size());
    }
    const uint8_t* p = rs_head(&v);
    for (uint32_t i = 0; i < n; i++) {
        if (part < NO_LIMIT && left <= 0) break;
        char d[2] = {HEX[p[i] >> 4], HEX[p[i] & 15]};
        add(d, 2);
        if (lines && (i + 1) % 32 == 0 && i + 1 < n) {
            add("\n", 1);
            add(inner.data(), inner.size());
        }
    }
    if (!(part < NO_LIMIT && left <= 0)) {
        if (lines) {
            add("\n", 1);
            add(outer.data(), outer.size());
        }
        if (!only) add("}", 1);
    }
    string::concatenate_literal(buffer, text, NO_LIMIT);
    return left;
}

int form(Cell* value, Cell* buffer, int part) { return mold(value, buffer, false, false, false, part, 0); }

// ---------------------------------------------------------------- make, to

namespace {

Cell* new_result(const Bytes& bytes) { return load(bytes.data(), uint32_t(bytes.size())); }

void put_be(Bytes& out, uint64_t v, int n) {
    for (int i = n - 1; i >= 0; i--) out.push_back(uint8_t(v >> (8 * i)));
}

const Cell* to(Cell*, Cell* spec, int) {
    int t = type_of(spec);
    Bytes out;
    switch (t) {
    case TYPE_CHAR: case TYPE_BINARY: case TYPE_TUPLE: case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
        collect_into(spec, -1, false, false, out);
        break;
    case TYPE_INTEGER:
        put_be(out, spec->data2, 4);
        break;
    case TYPE_FLOAT: case TYPE_PERCENT: {
        uint64_t bits;
        double d = cell_float(spec);
        std::memcpy(&bits, &d, 8);
        put_be(out, bits, 8);
        break;
    }
    case TYPE_ISSUE: {
        Cell* slot = stack::push_slot();
        *slot = Cell{TYPE_UNSET, 0, 0, 0};
        return from_hex(spec, slot);
    }
    case TYPE_IMAGE:
        return image::extract_channels(spec, image::CHANNEL_ARGB);
    case TYPE_BITSET: {
        SeriesBuffer* b = buf(spec);
        out.assign(b->head(), b->tail_ptr());
        break;
    }
    default:
        if (is_any_string(t)) {
            text_utf8(spec, -1, out);
            break;
        }
        raise_error(err::script_bad_to_arg, &BINARY_TYPE, spec);
    }
    return new_result(out);
}

const Cell* make(Cell* proto, Cell* spec, int type) {
    int t = type_of(spec);
    if (t == TYPE_MONEY) raise_error(err::script_bad_make_arg, &BINARY_TYPE, spec);
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
        return push(uint32_t(capacity));
    }
    return to(proto, spec, type);
}

// ---------------------------------------------------------------- bitwise

void bitwise(int op) {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    if (type_of(b) != TYPE_BINARY) raise_error(err::script_invalid_arg, b);
    uint32_t la = rs_length(a), lb = rs_length(b);
    uint32_t l = std::max(la, lb), s = std::min(la, lb);
    Cell* r = push(l);
    const uint8_t* pa = rs_head(a);
    const uint8_t* pb = rs_head(b);
    SeriesBuffer* rb = buf(r);
    uint8_t* out = rb->head();
    for (uint32_t i = 0; i < s; i++) {
        switch (op) {
        case OP_AND: out[i] = pa[i] & pb[i]; break;
        case OP_OR: out[i] = pa[i] | pb[i]; break;
        default: out[i] = pa[i] ^ pb[i]; break;
        }
    }
    const uint8_t* longer = la > lb ? pa : pb;
    if (op == OP_AND) std::memset(out + s, 0, l - s);
    else std::memcpy(out + s, longer + s, l - s);
    rb->tail = rb->offset + l;
    stack::set_last(r);
    stack::keep_result_only();
}

void and_t() { bitwise(OP_AND); }
void or_t() { bitwise(OP_OR); }
void xor_t() { bitwise(OP_XOR); }

const Cell* complement(Cell* value) {
    uint32_t n = rs_length(value);
    uint8_t* p = rs_head(value);
    for (uint32_t i = 0; i < n; i++) p[i] = uint8_t(~p[i]);
    return value;
}

// ---------------------------------------------------------------- writers

void write_bytes(Cell* s, Cell* value, int part, bool only, int dup, bool append_mode) {
    clamp_head(s);
    bool owned = series::notify(s, append_mode ? Change::APPEND : Change::INSERT, false, value, int32_t(s->data1), 0);
    Bytes bytes;
    collect_into(value, part, only, false, bytes);
    uint64_t n = bytes.size();
    if (n == 0) return;
    uint64_t total = n * uint64_t(dup);
    SeriesBuffer* b = buf(s);
    uint32_t len = b->tail - b->offset;
    if (s->data1 > len) s->data1 = len;
    uint64_t size = len + total;
    if (total > 0x7FFFFFFF || size > 0x7FFFFFFF) raise_no_memory();
    b = ensure_capacity(s, size, false);
    uint32_t at = (append_mode || s->data1 >= len) ? len : s->data1;
    uint8_t* p = b->head() + at;
    if (at < len) std::memmove(p + total, p, len - at);
    std::memcpy(p, bytes.data(), n);
    fill_by_doubling(p, n, total);
    b->tail += uint32_t(total);
    if (owned) series::notify(s, append_mode ? Change::APPEND : Change::INSERT, true, value, int32_t(at), int32_t(total));
    s->data1 = append_mode ? 0 : at + uint32_t(total);
}

void append(Cell* s, Cell* value, int part, bool only, int dup) { write_bytes(s, value, part, only, dup, true); }
void insert(Cell* s, Cell* value, int part, bool only, int dup) { write_bytes(s, value, part, only, dup, false); }

void change(Cell* s, Cell* value, int part, bool only, int dup) {
    uint32_t head = clamp_head(s);
    SeriesBuffer* b = buf(s);
    uint32_t len = b->tail - b->offset;
    uint32_t avail = len - head;
    if (part >= 0 && uint32_t(part) > avail) part = int(avail);
    Bytes bytes;
    collect_into(value, -1, only, true, bytes);
    uint64_t n = bytes.size();
    uint64_t total = n * uint64_t(dup);
    uint32_t removed = part >= 0 ? uint32_t(part) : uint32_t(std::min<uint64_t>(total, avail));
    bool owned = series::notify(s, Change::CHANGE, false, value, int32_t(head), int32_t(removed));
    uint64_t size = uint64_t(len) + total - removed;
    if (total > 0x7FFFFFFF || size > 0x7FFFFFFF) raise_no_memory();
    // Short buffers double, as append's do, so changes at the tail stay linear.
    b = ensure_capacity(s, size, false);
    uint8_t* p = b->head() + head;
    if (total != removed) std::memmove(p + total, p + removed, len - head - removed);
    if (n) {
        std::memcpy(p, bytes.data(), n);
        fill_by_doubling(p, n, total);
    }
    b->tail = b->offset + uint32_t(size);
    if (owned) series::notify(s, Change::CHANGE, true, value, int32_t(head), int32_t(total));
    s->data1 = head + uint32_t(total);
}

// ---------------------------------------------------------------- trim

void trim(Cell* s, bool head_side, bool tail_side, bool auto_, bool lines, bool all, Cell* with) {
    if (auto_ || lines) raise_error(err::internal_not_done);
    uint32_t h = clamp_head(s);
    bool owned = series::notify(s, Change::TRIM, false, nullptr, int32_t(h), int32_t(rs_length(s)));
    SeriesBuffer* b = buf(s);
    uint32_t len = b->tail - b->offset;
    uint8_t* p = b->head() + h;
    uint32_t n = len - h;
    uint32_t kept;
    if (all || with) {
        bool drop[256] = {};
        if (with) {
            Bytes set;
            if (type_of(with) == TYPE_INTEGER) set.push_back(get_byte_arg(with));
            else collect_into(with, -1, false, false, set);
            for (uint8_t c : set) drop[c] = true;
            b = buf(s);
            p = b->head() + h;
        } else {
            drop[0] = true;
        }
        kept = 0;
        for (uint32_t i = 0; i < n; i++)
            if (!drop[p[i]]) p[kept++] = p[i];
    } else {
        bool both = head_side == tail_side;
        uint32_t from = 0, to = n;
        if (both || head_side)
            while (from < to && p[from] == 0) from++;
        if (both || tail_side)
            while (to > from && p[to - 1] == 0) to--;
        kept = to - from;
        std::memmove(p, p + from, kept);
    }
    b->tail = b->offset + h + kept;
    if (owned) series::notify(s, Change::TRIM, true, nullptr, int32_t(h), int32_t(kept));
}

// ---------------------------------------------------------------- sort

const Cell* sort(Cell* s, bool, Cell* skip, Cell* compare_arg, Cell* part, bool all, bool reverse, bool) {
    uint32_t len = series::length_from_head(s);
    uint32_t start = clamp_head(s);
    int64_t count = len - start;
    if (part) {
        int64_t c = series::part_count(s, part);
        if (c < 0) {
            int64_t back = std::min<int64_t>(-c, start);
            start -= uint32_t(back);
            count = back;
        } else if (c < count) {
            count = c;
        }
    }
    if (count == 0) return s;
    int64_t size = 1;
    Cell skip_word = series::named_word("skip");
    if (skip) {
        size = type_of(skip) == TYPE_INTEGER ? int32_t(skip->data2) : 0;
        if (size < 1 || count % size != 0 || count < size) raise_error(err::script_invalid_refine_arg, &skip_word, skip);
    }
    if (all && !skip) raise_error(err::script_bad_refines);
    int64_t field = 0;
    bool whole = all;
    if (compare_arg) {
        int ct = type_of(compare_arg);
        if (ct == TYPE_INTEGER) {
            if (!skip || all) raise_error(err::script_bad_refines);
            field = int32_t(compare_arg->data2);
            if (field < 1 || field > size) raise_error(err::script_out_of_range, compare_arg);
            field--;
            whole = false;
        } else if (ct == TYPE_FUNCTION) {
            // Calling back into the language needs the interpreter's calling protocol.
            raise_error(err::internal_not_done);
        } else {
            Cell w = series::named_word("compare");
            raise_error(err::script_invalid_refine_arg, &w, compare_arg);
        }
    }
    bool owned = series::notify(s, Change::SORT, false, nullptr, int32_t(start), int32_t(count));
    uint8_t* p = buf(s)->head() + start;
    if (size == 1) {
        // Bytes sort by counting.
        uint32_t counts[256] = {};
        for (int64_t i = 0; i < count; i++) counts[p[i]]++;
        uint8_t* w = p;
        for (int v = 0; v < 256; v++) {
            int b = reverse ? 255 - v : v;
            std::memset(w, b, counts[b]);
            w += counts[b];
        }
    } else {
        uint32_t records = uint32_t(count / size);
        Bytes copy(p, p + count);
        std::vector<uint32_t> order(records);
        for (uint32_t i = 0; i < records; i++) order[i] = i;
        auto less = [&](uint32_t x, uint32_t y) {
            const uint8_t* rx = copy.data() + size_t(x) * size_t(size);
            const uint8_t* ry = copy.data() + size_t(y) * size_t(size);
            int r = whole ? std::memcmp(rx, ry, size_t(size)) : int(rx[field]) - int(ry[field]);
            return reverse ? r > 0 : r < 0;
        };
        std::stable_sort(order.begin(), order.end(), less);
        for (uint32_t i = 0; i < records; i++)
            std::memcpy(p + size_t(i) * size_t(size), copy.data() + size_t(order[i]) * size_t(size), size_t(size));
    }
    if (owned) series::notify(s, Change::SORT, true, nullptr, int32_t(start), int32_t(count));
    s->data1 = start == s->data1 ? s->data1 : start;
    return s;
}

}  // namespace

namespace {

// The bytes from the value's position on.
uint32_t hash_cell(const Cell* cell, bool) {
    SeriesBuffer* b = node_buffer(cell->data2);
    uint32_t start = b->offset + cell->data1;
    uint32_t length = b->tail > start ? b->tail - start : 0;
    return hash_bytes(b->data() + start, length);
}

}  // namespace

void register_type() {
    Registration(TYPE_BINARY, TYPE_STRING, "binary!")
        .marker(collector::mark_flat_series, true)
        .hasher(hash_cell)
        .on<A_MAKE>(make)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .on<A_AND_T>(and_t)
        .on<A_OR_T>(or_t)
        .on<A_XOR_T>(xor_t)
        .on<A_COMPLEMENT>(complement)
        .on<A_APPEND>(append)
        .on<A_INSERT>(insert)
        .on<A_CHANGE>(change)
        .on<A_TRIM>(trim)
        .on<A_SORT>(sort)
        .inherit({A_RANDOM, A_REFLECT, A_EVAL_PATH, A_AT, A_BACK, A_CLEAR, A_COPY, A_FIND, A_HEAD, A_HEAD_Q,
                  A_INDEX_Q, A_LENGTH_Q, A_MOVE, A_NEXT, A_PICK, A_POKE, A_REMOVE, A_REVERSE, A_SELECT, A_SKIP,
                  A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE, A_MODIFY})
        .commit();
}

}  // namespace vyx::binary
