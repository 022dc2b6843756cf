#include "datatypes/bitset.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "datatypes/word.h"
#include "runtime/cycle_stack.h"
#include "runtime/stack.h"
#include "datatypes/ownership.h"
#include "runtime/raise.h"

namespace vyx::bitset {

using series::Change;

namespace {

const Cell BITSET_TYPE{TYPE_DATATYPE, TYPE_BITSET, 0, 0};

enum Op { MEASURE, SET, TEST, CLEAR };
// The error a spec of a refused type raises.
enum ErrorKind { FOR_MAKE, FOR_TO, FOR_ARG };

inline SeriesBuffer* buf(const Cell* bs) { return node_buffer(bs->data2); }
inline uint8_t fill_of(const Cell* bs) { return is_complemented(bs) ? 0xFF : 0x00; }

[[noreturn]] void refuse(const Cell* spec, int kind) {
    switch (kind) {
    case FOR_MAKE: raise_error(err::script_bad_make_arg, &BITSET_TYPE, spec);
    case FOR_TO: raise_error(err::script_bad_to_arg, &BITSET_TYPE, spec);
    default: raise_error(err::script_invalid_arg, spec);
    }
}

// A new bitset of n bytes, all in use and filled, written into target.
Cell* make_bytes(Cell* target, uint32_t n, uint8_t fill) {
    Node node = new_byte_series(n);
    SeriesBuffer* b = node_buffer(node);
    std::memset(b->head(), fill, n);
    b->tail = b->offset + n;
    *target = Cell{TYPE_BITSET, 0, node, 0};
    return target;
}

// Makes the used length cover bit n; new bytes take the complement flag's fill.
void grow(Cell* bs, uint32_t n) {
    uint32_t need = (n >> 3) + 1;
    SeriesBuffer* b = buf(bs);
    uint32_t used = b->tail - b->offset;
    if (used >= need) return;
    uint8_t fill = fill_of(bs);
    if (b->size - b->offset < need) {
        uint64_t want = std::max<uint64_t>(need, uint64_t(b->size - b->offset) * 2);
        if (want > 0x7FFFFFFF) want = need;
        b = grow_series(b, int64_t(want));
    }
    std::memset(b->head() + used, fill, need - used);
    b->tail = b->offset + need;
}

// Sets or clears bits a..b, all inside the used length.
void put_bits(Cell* bs, uint32_t a, uint32_t b, bool on) {
    uint8_t* p = buf(bs)->head();
    while (a <= b && (a & 7)) {
        if (on) p[a >> 3] |= uint8_t(0x80 >> (a & 7));
        else p[a >> 3] &= uint8_t(~(0x80 >> (a & 7)));
        if (a++ == b) return;
    }
    if (a > b) return;
    uint32_t full = (b - a + 1) >> 3;
    std::memset(p + (a >> 3), on ? 0xFF : 0x00, full);
    for (a += full * 8; a <= b; a++) {
        if (on) p[a >> 3] |= uint8_t(0x80 >> (a & 7));
        else p[a >> 3] &= uint8_t(~(0x80 >> (a & 7)));
        if (a == b) break;
    }
}

uint32_t used_bits(const Cell* bs) { return used_bytes(bs) * 8; }

// Applies an operation to bits a..b, deciding per bit: a set on a
// complemented bitset and a clear on a plain one leave the bits beyond the
// used length alone (they already are what the operation makes them).
bool apply(Cell* bs, int op, uint32_t a, uint32_t b) {
    bool complemented = is_complemented(bs);
    switch (op) {
    case TEST: {
        uint32_t used = used_bits(bs);
        for (uint32_t n = a; n <= b && n < used; n++)
            if (!test_bit(bs, n)) return false;
        return b < used || complemented;
    }
    case SET: case CLEAR: {
        bool on = op == SET;
        if (on != complemented) {
            grow(bs, b);
        } else {
            uint32_t used = used_bits(bs);
            if (a >= used) return true;
            b = std::min(b, used - 1);
        }
        put_bits(bs, a, b, on);
        return true;
    }
    default:
        return true;
    }
}

struct Walker {
    Cell* bs;  // null when measuring
    int op;
    int kind;
    int64_t highest = -1;

    bool bit(const Cell* item, int64_t n) {
        if (n < 0) {
            if (op == TEST) return false;
            raise_error(err::script_out_of_range, item);
        }
        return range(uint32_t(n), uint32_t(n));
    }
    bool range(uint32_t a, uint32_t b) {
        if (op == MEASURE) {
            highest = std::max<int64_t>(highest, b);
            return true;
        }
        return apply(bs, op, a, b);
    }
    // The bit number a single item names.
    int64_t number(const Cell* item) {
        switch (type_of(item)) {
        case TYPE_CHAR: return item->data2;
        case TYPE_INTEGER: return int32_t(item->data2);
        default: {
            double d = cell_float(item);
            if (!(d > -2147483649.0 && d < 2147483648.0)) raise_error(err::script_out_of_range, item);
            return int64_t(d);
        }
        }
    }
    bool text(const Cell* str) {
        Cell s = *str;
        uint32_t len = series::length_from_head(&s);
        if (s.data1 >= len) return op != TEST ? true : false;
        // The widest code point first, so that the bitset grows at most once.
        uint32_t top = 0;
        for (uint32_t k = s.data1; k < len; k++) top = std::max(top, string::char_at(&s, k));
        if (op == MEASURE) return range(top, top);
        if ((op == SET) != is_complemented(bs)) grow(bs, top);
        for (uint32_t k = s.data1; k < len; k++) {
            uint32_t c = string::char_at(&s, k);
            if (!apply(bs, op, c, c) && op == TEST) return false;
        }
        return true;
    }
    bool walk(const Cell* spec) {
        int t = type_of(spec);
        switch (t) {
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT:
            return bit(spec, number(spec));
        case TYPE_STRING:
            return text(spec);
        case TYPE_BINARY:
            raise_error(err::internal_not_done);
        case TYPE_BLOCK:
            return block(spec);
        default:
            refuse(spec, kind);
        }
    }
    bool block(const Cell* spec) {
        Cell blk = *spec;
        // A block inside itself would be walked without end.
        auto guard = CycleGuard::refusing(blk.data2);
        int32_t minus = symbol::resolve(symbol::make("-"));
        uint32_t len = series::length_from_head(&blk);
        if (blk.data1 >= len) return op != TEST;
        for (uint32_t k = blk.data1; k < len; k++) {
            Cell item = *reinterpret_cast<Cell*>(series::element_at(buf(&blk), k));
            int t = type_of(&item);
            if ((t == TYPE_CHAR || t == TYPE_INTEGER) && k + 1 < len) {
                Cell next = *reinterpret_cast<Cell*>(series::element_at(buf(&blk), k + 1));
                if (type_of(&next) == TYPE_WORD && symbol::resolve(word::symbol_of(&next)) == minus) {
                    if (k + 2 >= len) raise_error(err::script_past_end);
                    Cell end = *reinterpret_cast<Cell*>(series::element_at(buf(&blk), k + 2));
                    if (type_of(&end) != t) raise_error(err::script_invalid_arg, &end);
                    int64_t a = number(&item), b = number(&end);
                    if (a > b) raise_error(err::script_past_end);
                    if (a < 0) {
                        if (op != TEST) raise_error(err::script_out_of_range, &item);
                        return false;
                    }
                    if (!range(uint32_t(a), uint32_t(b)) && op == TEST) return false;
                    k += 2;
                    continue;
                }
            }
            if (!walk(&item) && op == TEST) return false;
        }
        return true;
    }
};

// Sets, tests or clears what a spec names (error kind FOR_ARG for refusals).
bool process(Cell* bs, const Cell* spec, int op) {
    Walker w{bs, op, FOR_ARG};
    return w.walk(spec);
}

bool is_not_word(const Cell* c) {
    return type_of(c) == TYPE_WORD && symbol::resolve(word::symbol_of(c)) == symbol::resolve(symbol::make("not"));
}

Cell* new_slot() {
    Cell* slot = stack::push_slot();
    *slot = Cell{TYPE_UNSET, 0, 0, 0};
    return slot;
}

// A copy with its flags (the owned flag stays with the original).
Cell* copy_into(const Cell* bs, Cell* target) {
    Cell src = *bs;
    uint32_t n = used_bytes(&src);
    Cell* r = make_bytes(target, n, 0);
    SeriesBuffer* from = buf(&src);
    SeriesBuffer* to = buf(r);
    std::memcpy(to->head(), from->head(), n);
    to->flags = (to->flags & ~series_flag::COMPLEMENTED) | (from->flags & series_flag::COMPLEMENTED);
    return r;
}

// Toggles the complement flag and inverts the bytes: the same membership
// outside the used length, the opposite inside.
void toggle(Cell* bs) {
    SeriesBuffer* b = buf(bs);
    b->flags ^= series_flag::COMPLEMENTED;
    uint8_t* p = b->head();
    for (uint32_t i = 0, n = b->tail - b->offset; i < n; i++) p[i] = uint8_t(~p[i]);
}

}  // namespace

const Cell* make_from_spec(const Cell* spec_in, int kind) {
    Cell spec = *spec_in;
    bool complemented = false;
    if (type_of(&spec) == TYPE_BLOCK && series::rs_length(&spec) > 0 &&
        is_not_word(reinterpret_cast<Cell*>(series::element_at(buf(&spec), spec.data1)))) {
        complemented = true;
        spec.data1++;
        if (series::rs_length(&spec) > 0) {
            Cell next = *reinterpret_cast<Cell*>(series::element_at(buf(&spec), spec.data1));
            if (type_of(&next) == TYPE_BINARY) spec = next;
        }
    }
    Cell* result = new_slot();
    switch (type_of(&spec)) {
    case TYPE_BITSET:
        copy_into(&spec, result);
        break;
    case TYPE_INTEGER: case TYPE_FLOAT: {
        if (kind == FOR_TO) refuse(&spec, kind);
        Walker w{nullptr, MEASURE, kind};
        int64_t n = w.number(&spec);
        if (n < 0) raise_error(err::script_out_of_range, &spec);
        make_bytes(result, uint32_t((n + 7) / 8), complemented ? 0xFF : 0x00);
        break;
    }
    case TYPE_BINARY: {
        uint32_t n = series::rs_length(&spec);
        make_bytes(result, n, 0);
        const uint8_t* from = series::element_at(buf(&spec), spec.data1);
        uint8_t* to = buf(result)->head();
        for (uint32_t i = 0; i < n; i++) to[i] = complemented ? uint8_t(~from[i]) : from[i];
        break;
    }
    default: {
        Walker measure{nullptr, MEASURE, kind};
        measure.walk(&spec);
        uint32_t bytes = uint32_t(((measure.highest + 8) & ~int64_t(7)) / 8);
        make_bytes(result, std::max<uint32_t>(bytes, 1), complemented ? 0xFF : 0x00);
        if (complemented) buf(result)->flags |= series_flag::COMPLEMENTED;
        Walker w{result, complemented ? CLEAR : SET, kind};
        w.walk(&spec);
        break;
    }
    }
    if (complemented) buf(result)->flags |= series_flag::COMPLEMENTED;
    return result;
}

void do_set_op(int op) {
    Cell* a = stack::arguments;
    if (op == 8) {  // unique: the set itself
        stack::keep_result_only();
        return;
    }
    Cell* b = a + 1;
    if (type_of(b) != TYPE_BITSET) {
        Cell dt{TYPE_DATATYPE, uint32_t(type_of(b)), 0, 0};
        raise_error(err::script_invalid_type, &dt);
    }
    bool fa = is_complemented(a), fb = is_complemented(b);
    uint32_t la = used_bytes(a), lb = used_bytes(b);
    bool flag;
    switch (op) {
    case OP_OR: case 9: flag = fa || fb; break;
    case OP_AND: case 10: flag = fa && fb; break;
    case 11: flag = fa && !fb; break;
    default: flag = fa != fb; break;
    }
    uint32_t n = std::max(la, lb);
    // Beyond the shorter plain operand and~ can only give zeros: it stops there.
    if (op == OP_AND && !(la < lb ? fa : fb)) n = std::min(la, lb);
    Cell* r = new_slot();
    make_bytes(r, n, 0);
    const uint8_t* pa = buf(a)->head();
    const uint8_t* pb = buf(b)->head();
    uint8_t* out = buf(r)->head();
    uint8_t ea = fa ? 0xFF : 0, eb = fb ? 0xFF : 0;
    for (uint32_t i = 0; i < n; i++) {
        uint8_t x = i < la ? pa[i] : ea, y = i < lb ? pb[i] : eb;
        switch (op) {
        case OP_OR: case 9: out[i] = x | y; break;
        case OP_AND: case 10: out[i] = x & y; break;
        case 11: out[i] = x & uint8_t(~y); break;
        default: out[i] = x ^ y; break;
        }
    }
    if (flag) buf(r)->flags |= series_flag::COMPLEMENTED;
    stack::set_last(r);
    stack::keep_result_only();
}

namespace {

// ---------------------------------------------------------------- actions

const Cell* make(Cell*, Cell* spec, int) { return make_from_spec(spec, FOR_MAKE); }
const Cell* to(Cell*, Cell* spec, int) { return make_from_spec(spec, FOR_TO); }

void reflect(Cell* value, int field) {
    if (symbol::resolve(field) != symbol::resolve(sym::owned)) raise_error(err::internal_not_done);
    const Cell* owner = ownership::lookup(value->data2);
    stack::set_last(owner ? owner : &NONE_CELL);
}

const Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    int ft = type_of(field);
    bool owned = (ft == TYPE_WORD || ft == TYPE_LIT_WORD) &&
                 symbol::resolve(word::symbol_of(field)) == symbol::resolve(sym::owned);
    if (owned) {
        if (type_of(value) == TYPE_NONE) {
            ownership::unbind(target);
        } else if (type_of(value) == TYPE_BLOCK && series::rs_length(value) >= 2) {
            Cell owner = *reinterpret_cast<Cell*>(series::element_at(buf(value), value->data1));
            Cell word = *reinterpret_cast<Cell*>(series::element_at(buf(value), value->data1 + 1));
            ownership::bind_object(target, &owner, &word);
        }
    }
    return value;
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) {
    static const char HEX[] = "0123456789ABCDEF";
    Cell bs = *value;
    bool complemented = is_complemented(&bs);
    bool limited = part < NO_LIMIT;
    std::string text = complemented ? "make bitset! [not #{" : "make bitset! #{";
    int left = part - int(text.size());
    uint32_t n = used_bytes(&bs);
    const uint8_t* p = buf(&bs)->head();
    for (uint32_t i = 0; i < n && !(limited && left < 0); i++) {
        uint8_t v = complemented ? uint8_t(~p[i]) : p[i];
        text += HEX[v >> 4];
        text += HEX[v & 15];
        left -= 2;
    }
    if (!(limited && left <= 0)) {
        text += complemented ? "}]" : "}";
        left -= complemented ? 2 : 1;
    }
    string::concatenate_literal(buffer, text, NO_LIMIT);
    return left;
}

int form(Cell* value, Cell* buffer, int part) { return mold(value, buffer, false, false, false, part, 0); }

int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_BITSET) return NOT_COMPARABLE;
    if (op == COMP_SAME) return a->data2 == b->data2 ? 0 : 1;
    uint32_t la = used_bytes(a), lb = used_bytes(b);
    if (la != lb) return la < lb ? -1 : 1;
    if (la == 0) return 0;
    bool fa = is_complemented(a), fb = is_complemented(b);
    if (fa != fb) return fa ? 1 : -1;
    const uint8_t* pa = buf(a)->head();
    const uint8_t* pb = buf(b)->head();
    for (uint32_t i = la; i-- > 0;)
        if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
    return 0;
}

const Cell* complement(Cell* value) {
    Cell* r = copy_into(value, new_slot());
    toggle(r);
    return r;
}

void negate(Cell* value) {
    Cell r = *complement(value);
    *value = r;
}

void and_t() { do_set_op(OP_AND); }
void or_t() { do_set_op(OP_OR); }
void xor_t() { do_set_op(OP_XOR); }

void append(Cell* bs, Cell* value, int, bool, int) {
    bool owned = series::notify(bs, Change::INSERT, false, value, 0, 0);
    process(bs, value, SET);
    if (owned) series::notify(bs, Change::INSERT, true, value, 0, 0);
}

void clear(Cell* bs) {
    bool owned = series::notify(bs, Change::CLEAR, false, nullptr, 0, 0);
    SeriesBuffer* b = buf(bs);
    std::memset(b->head(), fill_of(bs), b->tail - b->offset);
    if (owned) series::notify(bs, Change::CLEAR, true, nullptr, 0, 0);
    stack::set_last(bs);
}

const Cell* copy(Cell* bs, Cell* result, Cell*, bool, Cell*) { return copy_into(bs, result); }

int length(Cell* bs) { return int(used_bits(bs)); }

const Cell* pick(Cell* bs, int, Cell* spec) {
    Cell s = *spec;
    bool r = process(bs, &s, TEST);
    return logic::box(r);
}

const Cell* find(Cell* bs, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    Cell s = *value;
    if (process(bs, &s, TEST)) return logic::box(true);
    return &NONE_CELL;
}

bool clears(const Cell* v) {
    switch (type_of(v)) {
    case TYPE_NONE: return true;
    case TYPE_LOGIC: return !logic::get(v);
    case TYPE_INTEGER: return v->data2 == 0;
    case TYPE_FLOAT: return cell_float(v) == 0.0;
    default: return false;
    }
}

const Cell* poke(Cell* bs, int, Cell* data, Cell* spec) {
    Cell s = *spec, d = *data;
    bool owned = series::notify(bs, Change::POKE, false, &d, 0, 0);
    process(bs, &s, clears(&d) ? CLEAR : SET);
    if (owned) series::notify(bs, Change::POKE, true, &d, 0, 0);
    *data = d;
    return data;
}

void remove(Cell* bs, Cell*, Cell* key) {
    if (!key) raise_error(err::script_missing_arg);
    Cell k = *key;
    bool owned = series::notify(bs, Change::REMOVE, false, nullptr, 0, 0);
    // On a complemented bitset the values named become members again.
    process(bs, &k, is_complemented(bs) ? SET : CLEAR);
    if (owned) series::notify(bs, Change::REMOVE, true, nullptr, 0, 0);
    stack::set_last(bs);
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, bool) {
    int t = type_of(element);
    if (t != TYPE_INTEGER && t != TYPE_CHAR) {
        Cell dt{TYPE_DATATYPE, uint32_t(t), 0, 0};
        raise_error(err::script_invalid_type, &dt);
    }
    if (value) return poke(parent, 0, value, element);
    return pick(parent, 0, element);
}

}  // namespace

void register_type() {
    Registration(TYPE_BITSET, 0, "bitset!")
        .marker(collector::mark_flat_series, true)
        .on<A_MAKE>(make)
        .on<A_REFLECT>(reflect)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_COMPARE>(compare)
        .on<A_NEGATE>(negate)
        .on<A_AND_T>(and_t)
        .on<A_COMPLEMENT>(complement)
        .on<A_OR_T>(or_t)
        .on<A_XOR_T>(xor_t)
        .on<A_APPEND>(append)
        .on<A_INSERT>(append)
        .on<A_CLEAR>(clear)
        .on<A_COPY>(copy)
        .on<A_FIND>(find)
        .on<A_LENGTH_Q>(length)
        .on<A_PICK>(pick)
        .on<A_POKE>(poke)
        .on<A_REMOVE>(remove)
        .on<A_MODIFY>(modify)
        .commit();
}

}  // namespace vyx::bitset
