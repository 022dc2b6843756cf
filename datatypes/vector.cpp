#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/math_dispatch.h"
#include "datatypes/percent.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/sorting.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/cycle_stack.h"
#include "runtime/raise.h"

namespace vyx::vector {

using series::unit_shift;

namespace {

inline SeriesBuffer* buf(const Cell* v) { return node_buffer(v->data2); }
inline uint32_t unit_of(const Cell* v) { return buf(v)->unit(); }
inline Cell datatype_cell(int t) { return Cell{TYPE_DATATYPE, uint32_t(t), 0, 0}; }

[[noreturn]] void invalid_type(const Cell* value) {
    Cell dt = datatype_cell(type_of(value));
    raise_error(err::script_invalid_type, &dt);
}

// The default size of an element type, in bytes.
uint32_t default_unit(int type) { return is_float_kind(type) ? 8 : 4; }

// Clamps a head beyond the tail; answers it.
uint32_t clamp_head(Cell* v) {
    uint32_t n = series::length_from_head(v);
    if (v->data1 > n) v->data1 = n;
    return v->data1;
}

inline void put_int(uint8_t* p, uint32_t unit, uint32_t bits) {
    switch (unit) {
    case 1: *p = uint8_t(bits); break;
    case 2: { uint16_t x = uint16_t(bits); std::memcpy(p, &x, 2); break; }
    default: std::memcpy(p, &bits, 4); break;
    }
}

inline void put_float(uint8_t* p, uint32_t unit, double d) {
    if (unit == 8) {
        std::memcpy(p, &d, 8);
    } else {
        float f = float(d);
        std::memcpy(p, &f, 4);
    }
}

// An element read as its number, by storage kind.
inline int32_t read_int(const uint8_t* p, uint32_t unit, int type) {
    return type == TYPE_CHAR ? int32_t(get_char(p, unit)) : get_int(p, unit);
}

// Bytes for `count` elements of `unit`, checked against 32 bits.
uint32_t checked_bytes(uint64_t count, uint32_t unit) {
    uint64_t bytes = count * unit;
    if (count > UINT32_MAX || bytes > INT32_MAX) raise_error(err::internal_no_memory);
    return uint32_t(bytes);
}

// Makes sure the buffer holds `bytes` bytes of data from its offset: grows to
// the need, or to twice its size when that is larger.
SeriesBuffer* ensure_bytes(Cell* v, uint32_t bytes) {
    SeriesBuffer* b = buf(v);
    if (uint64_t(b->offset) + bytes > b->size) {
        uint64_t want = std::max<uint64_t>(bytes, uint64_t(b->size) * 2);
        if (want > INT32_MAX) want = bytes;
        b = grow_series(b, int64_t(want));
    }
    return b;
}

}  // namespace

// ---------------------------------------------------------------- elements

int32_t get_int(const uint8_t* p, uint32_t unit) {
    switch (unit) {
    case 1: return int8_t(*p);
    case 2: { int16_t x; std::memcpy(&x, p, 2); return x; }
    default: { int32_t x; std::memcpy(&x, p, 4); return x; }
    }
}

uint32_t get_char(const uint8_t* p, uint32_t unit) {
    switch (unit) {
    case 1: return *p;
    case 2: { uint16_t x; std::memcpy(&x, p, 2); return x; }
    default: { uint32_t x; std::memcpy(&x, p, 4); return x; }
    }
}

double get_float(const uint8_t* p, uint32_t unit) {
    if (unit == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

void get_value(const uint8_t* p, uint32_t unit, int type, Cell* out) {
    switch (type) {
    case TYPE_CHAR: *out = Cell{TYPE_CHAR, 0, get_char(p, unit), 0}; break;
    case TYPE_INTEGER: *out = Cell{TYPE_INTEGER, 0, uint32_t(get_int(p, unit)), 0}; break;
    default:
        *out = Cell{uint32_t(type), 0, 0, 0};
        set_cell_float(out, get_float(p, unit));
        break;
    }
}

void element_value(const Cell* v, uint32_t k, Cell* out) {
    SeriesBuffer* b = buf(v);
    get_value(series::element_at(b, k), b->unit(), element_type(v), out);
}

void check_value(const Cell* value, int type) {
    int t = type_of(value);
    bool fits = is_int_kind(type) ? is_int_kind(t) : is_float_kind(t);
    if (!fits) invalid_type(value);
}

void set_value(uint8_t* p, const Cell* value, uint32_t unit, int type) {
    check_value(value, type);
    if (is_int_kind(type)) put_int(p, unit, value->data2);
    else put_float(p, unit, cell_float(value));
}

Cell* alloc(Cell* target, uint32_t count, int type, uint32_t unit) {
    checked_bytes(count ? count : 1, unit);
    target->header = TYPE_UNSET;
    Node n = new_series(count ? count : 1, unit, 0);
    *target = Cell{TYPE_VECTOR, 0, n, uint32_t(type)};
    return target;
}

Cell* to_block(const Cell* v, Cell* target) {
    Cell src = *v;
    uint32_t n = series::length_from_head(&src);
    uint32_t from = std::min(src.data1, n);
    blk::make_at(target, n - from);
    for (uint32_t k = from; k < n; k++) {
        Cell value;
        element_value(&src, k, &value);
        *append_cell(target) = value;
    }
    return target;
}

// ---------------------------------------------------------------- make

namespace {

Cell* new_slot() {
    Cell* slot = stack::push_slot();
    slot->header = TYPE_UNSET;
    return slot;
}

[[noreturn]] void bad_make(const Cell* spec) {
    Cell dt = datatype_cell(TYPE_VECTOR), s = *spec;
    raise_error(err::script_bad_make_arg, &dt, &s);
}

[[noreturn]] void bad_spec_field(const Cell* spec) {
    Cell s = *spec;
    raise_error(err::script_invalid_spec_field, &s);
}

// The element type a type word names, or 0.
int type_named(const Cell* word) {
    int32_t s = symbol::resolve(word::symbol_of(word));
    if (s == symbol::resolve(sym::integer_type)) return TYPE_INTEGER;
    if (s == symbol::resolve(sym::char_type)) return TYPE_CHAR;
    if (s == symbol::resolve(sym::float_type)) return TYPE_FLOAT;
    if (s == symbol::resolve(sym::percent_type)) return TYPE_PERCENT;
    return 0;
}

bool size_allowed(int type, int32_t bits) {
    switch (type) {
    case TYPE_INTEGER: case TYPE_CHAR: return bits == 8 || bits == 16 || bits == 32;
    case TYPE_FLOAT: return bits == 32 || bits == 64;
    default: return true;  // percent elements are always 64 bits
    }
}

const Cell* make(Cell*, Cell* spec, int) {
    int t = type_of(spec);
    int type = TYPE_INTEGER;
    uint32_t unit = 4;
    int64_t count = 0;
    Cell values{TYPE_NONE, 0, 0, 0};  // the block of initial values, when one is given
    if (t == TYPE_INTEGER) {
        count = int32_t(spec->data2);
    } else if (t == TYPE_FLOAT) {
        double d = cell_float(spec);
        if (!(d >= -2147483648.0 && d <= 2147483647.0)) raise_error(err::script_out_of_range, spec);
        count = int64_t(d);
    } else if (t == TYPE_BLOCK) {
        uint32_t n = series::length_from_head(spec);
        uint32_t at = spec->data1;
        auto item = [&](uint32_t k) { return reinterpret_cast<Cell*>(series::element_at(buf(spec), k)); };
        if (at >= n) {
            // an empty block: an empty 32-bit integer vector
        } else if (type_of(item(at)) == TYPE_WORD) {
            if (n - at < 2) bad_make(spec);
            type = type_named(item(at));
            if (!type) bad_make(spec);
            uint32_t k = at + 1;
            if (type == TYPE_PERCENT) {
                // A size may stand before a count or a block; it counts as 64.
                if (type_of(item(k)) == TYPE_INTEGER && k + 1 < n) k++;
                unit = 8;
            } else {
                if (type_of(item(k)) != TYPE_INTEGER) bad_spec_field(spec);
                int32_t bits = int32_t(item(k)->data2);
                if (!size_allowed(type, bits)) bad_make(spec);
                unit = uint32_t(bits / 8);
                k++;
            }
            if (k >= n) bad_spec_field(spec);
            if (type_of(item(k)) == TYPE_INTEGER) {
                count = int32_t(item(k)->data2);
                k++;
                if (k < n && type_of(item(k)) == TYPE_BLOCK) values = *item(k);
            } else if (type_of(item(k)) == TYPE_BLOCK) {
                values = *item(k);
            } else {
                bad_spec_field(spec);
            }
        } else {
            type = type_of(item(at));
            if (!is_int_kind(type) && !is_float_kind(type)) invalid_type(item(at));
            unit = default_unit(type);
            values = *spec;
        }
    } else {
        raise_error(err::internal_not_done);
    }
    uint32_t given = type_of(&values) == TYPE_BLOCK ? series::rs_length(&values) : 0;
    if (given >= count) count = given;
    if (count < 0) count = 0;
    Cell* result = alloc(new_slot(), uint32_t(count), type, unit);
    SeriesBuffer* b = buf(result);
    uint8_t* p = series::element_at(b, 0);
    for (uint32_t i = 0; i < given; i++) {
        const Cell* value = reinterpret_cast<Cell*>(series::element_at(buf(&values), values.data1 + i));
        if (type_of(value) != type) {
            Cell v = *value;
            raise_error(err::script_invalid_arg, &v);
        }
        set_value(p + size_t(i) * unit, value, unit, type);
    }
    // The rest of an asked count is zero.
    std::memset(p + size_t(given) * unit, 0, size_t(count - given) * unit);
    b->tail = b->offset + uint32_t(count) * unit;
    return result;
}

// ---------------------------------------------------------------- writers

// The values an append, insert or change writes: numbers held aside, so that
// growing the vector cannot move them and a vector written into itself reads
// its elements as they were.
struct Values {
    std::vector<Cell> cells;
};

// Cells of a block-like value from its index (at most `part` when part > 0 and
// below their count); any other value is one value. A vector is one value
// (refused as an element) unless `vectors` is set, when its elements count,
// converted within the element storage kind.
void gather(Values& out, const Cell* target, Cell* value, int part, bool vectors) {
    int t = type_of(value);
    int type = element_type(target);
    if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || (vectors && is_any_block(t))) {
        uint32_t n = series::rs_length(value);
        if (part > 0 && uint32_t(part) < n) n = uint32_t(part);
        uint32_t from = value->data1;
        for (uint32_t i = 0; i < n; i++) {
            Cell c = *reinterpret_cast<Cell*>(series::element_at(buf(value), from + i));
            check_value(&c, type);
            out.cells.push_back(c);
        }
        return;
    }
    if (t == TYPE_VECTOR && vectors) {
        int st = element_type(value);
        if (is_int_kind(st) != is_int_kind(type)) {
            Cell dt = datatype_cell(st);
            raise_error(err::script_invalid_type, &dt);
        }
        uint32_t n = series::rs_length(value);
        uint32_t from = value->data1;
        out.cells.reserve(n);
        for (uint32_t i = 0; i < n; i++) {
            Cell c;
            element_value(value, from + i, &c);
            out.cells.push_back(c);
        }
        return;
    }
    check_value(value, type);
    out.cells.push_back(*value);
}

// Writes the values (dup times) at element `at`, replacing `replaced`
// elements there; the vector grows or shrinks by the difference.
void write_values(Cell* v, uint32_t at, uint32_t replaced, const Values& values, uint32_t dup) {
    SeriesBuffer* b = buf(v);
    uint32_t unit = b->unit();
    uint32_t n = series::length_from_head(v);
    uint64_t added = uint64_t(values.cells.size()) * dup;
    uint64_t total = uint64_t(n) + added - replaced;
    uint32_t bytes = checked_bytes(total, unit);
    checked_bytes(added, unit);
    b = ensure_bytes(v, bytes);
    uint8_t* base = series::element_at(b, 0);
    uint32_t rest = n - at - replaced;
    if (rest && added != replaced)
        std::memmove(base + (at + added) * unit, base + size_t(at + replaced) * unit, size_t(rest) * unit);
    uint8_t* dst = base + size_t(at) * unit;
    int type = element_type(v);
    for (size_t i = 0; i < values.cells.size(); i++) set_value(dst + i * unit, &values.cells[i], unit, type);
    if (dup > 1 && !values.cells.empty()) fill_by_doubling(dst, uint32_t(values.cells.size() * unit), dup);
    b->tail = b->offset + bytes;
}

void insert_worker(Cell* v, Cell* value, int part, int dup, bool append) {
    Cell vc = *v;
    uint32_t n = series::length_from_head(&vc);
    uint32_t at = append ? n : clamp_head(&vc);
    series::Change what = append ? series::Change::APPEND : series::Change::INSERT;
    Values values;
    gather(values, &vc, value, part, false);
    uint32_t times = dup < 1 ? 0 : uint32_t(dup);
    uint64_t added = uint64_t(values.cells.size()) * times;
    bool owned = series::notify(&vc, what, false, value, int32_t(at), 0);
    if (added) write_values(&vc, at, 0, values, times);
    if (owned) series::notify(&vc, what, true, value, int32_t(at), int32_t(added));
    vc.data1 = append ? 0 : uint32_t(std::min<uint64_t>(at + added, series::length_from_head(&vc)));
    *stack::arguments = vc;
}

void append(Cell* v, Cell* value, int part, bool, int dup) { insert_worker(v, value, part, dup, true); }
void insert(Cell* v, Cell* value, int part, bool, int dup) { insert_worker(v, value, part, dup, false); }

void change(Cell* v, Cell* value, int part, bool, int dup) {
    Cell vc = *v;
    uint32_t n = series::length_from_head(&vc);
    uint32_t at = clamp_head(&vc);
    uint32_t rest = n - at;
    Values values;
    gather(values, &vc, value, -1, true);
    uint32_t times = dup < 1 ? 0 : uint32_t(dup);
    uint64_t added = uint64_t(values.cells.size()) * times;
    uint32_t replaced = part >= 0 ? std::min<uint32_t>(uint32_t(part), rest) : uint32_t(std::min<uint64_t>(added, rest));
    bool owned = series::notify(&vc, series::Change::CHANGE, false, value, int32_t(at), int32_t(replaced));
    write_values(&vc, at, replaced, values, times);
    if (owned) series::notify(&vc, series::Change::CHANGE, true, value, int32_t(at), int32_t(added));
    vc.data1 = uint32_t(std::min<uint64_t>(at + added, series::length_from_head(&vc)));
    *stack::arguments = vc;
}

// ---------------------------------------------------------------- arithmetic

// One integer element operation: integer arithmetic, but add, subtract and
// multiply wrap at 32 bits instead of leaving them.
inline int32_t int_op(int32_t a, int32_t b, int op) {
    switch (op) {
    case OP_ADD: return int32_t(uint32_t(a) + uint32_t(b));
    case OP_SUB: return int32_t(uint32_t(a) - uint32_t(b));
    case OP_MUL: return int32_t(uint32_t(a) * uint32_t(b));
    default: return integer::do_math_op(a, b, op, nullptr);
    }
}

template <int Op>
inline uint32_t int_apply(int32_t a, int32_t b) {
    if constexpr (Op == OP_ADD) return uint32_t(a) + uint32_t(b);
    else if constexpr (Op == OP_SUB) return uint32_t(a) - uint32_t(b);
    else if constexpr (Op == OP_MUL) return uint32_t(a) * uint32_t(b);
    else if constexpr (Op == OP_DIV) return uint32_t(a / b);
    else if constexpr (Op == OP_REM) return uint32_t(a % b);
    else if constexpr (Op == OP_OR) return uint32_t(a | b);
    else if constexpr (Op == OP_AND) return uint32_t(a & b);
    else return uint32_t(a ^ b);
}

template <int Op>
inline double float_apply(double a, double b) {
    if constexpr (Op == OP_ADD) return a + b;
    else if constexpr (Op == OP_SUB) return a - b;
    else if constexpr (Op == OP_MUL) return a * b;
    else if constexpr (Op == OP_DIV) return a / b;
    else return float_::do_math_op(a, b, OP_REM);
}

// Calls f with the op as a compile-time constant.
template <typename F>
void with_op(int op, F&& f) {
    switch (op) {
    case OP_ADD: f(std::integral_constant<int, OP_ADD>{}); break;
    case OP_SUB: f(std::integral_constant<int, OP_SUB>{}); break;
    case OP_MUL: f(std::integral_constant<int, OP_MUL>{}); break;
    case OP_DIV: f(std::integral_constant<int, OP_DIV>{}); break;
    case OP_REM: f(std::integral_constant<int, OP_REM>{}); break;
    case OP_OR: f(std::integral_constant<int, OP_OR>{}); break;
    case OP_AND: f(std::integral_constant<int, OP_AND>{}); break;
    default: f(std::integral_constant<int, OP_XOR>{}); break;
    }
}

// Calls f with a value of the C type of an integer-kind element.
template <typename F>
void with_int_type(uint32_t unit, bool is_char, F&& f) {
    switch (unit) {
    case 1: if (is_char) f(uint8_t{}); else f(int8_t{}); break;
    case 2: if (is_char) f(uint16_t{}); else f(int16_t{}); break;
    default: if (is_char) f(uint32_t{}); else f(int32_t{}); break;
    }
}

template <typename F>
void with_float_type(uint32_t unit, F&& f) {
    if (unit == 4) f(float{});
    else f(double{});
}

// The checks integer division makes, before any element changes: a zero
// divisor, and the quotient of the minimum by -1.
void check_division(int32_t a, int32_t b, int op) {
    if (op != OP_DIV && op != OP_REM) return;
    if (b == 0) raise_error(err::math_zero_divide);
    if (a == INT32_MIN && b == -1) raise_error(err::math_overflow);
}

template <typename E, int Op>
void int_scalar_loop(uint8_t* p, size_t n, int32_t s, bool scalar_first) {
    E* e = reinterpret_cast<E*>(p);  // the buffer's data is 16-byte aligned
    if (scalar_first) {
        for (size_t i = 0; i < n; i++) e[i] = E(int_apply<Op>(s, int32_t(e[i])));
    } else {
        for (size_t i = 0; i < n; i++) e[i] = E(int_apply<Op>(int32_t(e[i]), s));
    }
}

template <typename E, int Op>
void float_scalar_loop(uint8_t* p, size_t n, double s, bool scalar_first) {
    E* e = reinterpret_cast<E*>(p);
    if (scalar_first) {
        for (size_t i = 0; i < n; i++) e[i] = E(float_apply<Op>(s, double(e[i])));
    } else {
        for (size_t i = 0; i < n; i++) e[i] = E(float_apply<Op>(double(e[i]), s));
    }
}

// Elements of the same C type: out[i] = a[i] op b[i].
template <typename E, int Op>
void int_pair_loop(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n) {
    E* o = reinterpret_cast<E*>(out);
    const E* x = reinterpret_cast<const E*>(a);
    const E* y = reinterpret_cast<const E*>(b);
    if constexpr (Op == OP_DIV || Op == OP_REM) {
        for (size_t i = 0; i < n; i++) check_division(int32_t(x[i]), int32_t(y[i]), Op);
    }
    for (size_t i = 0; i < n; i++) o[i] = E(int_apply<Op>(int32_t(x[i]), int32_t(y[i])));
}

template <typename E, int Op>
void float_pair_loop(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n) {
    E* o = reinterpret_cast<E*>(out);
    const E* x = reinterpret_cast<const E*>(a);
    const E* y = reinterpret_cast<const E*>(b);
    for (size_t i = 0; i < n; i++) o[i] = E(float_apply<Op>(double(x[i]), double(y[i])));
}

// Element-wise arithmetic of two vectors into a new one at stack::arguments.
void vector_math(int op, Cell* a, Cell* b) {
    int type = element_type(a);
    if (type != element_type(b)) raise_error(err::script_not_same_type);
    bool floats = is_float_kind(type);
    if (floats && op > OP_REM) float_::do_math_op(0, 0, op);  // raises cannot-use
    uint32_t ua = unit_of(a), ub = unit_of(b);
    uint32_t unit = std::max(ua, ub);
    uint32_t n = std::min(series::rs_length(a), series::rs_length(b));
    Cell result;
    Cell* slot = alloc(new_slot(), n, type, unit);
    SeriesBuffer* rb = buf(slot);
    const uint8_t* pa = series::element_at(buf(a), a->data1);
    const uint8_t* pb = series::element_at(buf(b), b->data1);
    uint8_t* out = series::element_at(rb, 0);
    if (ua == ub) {
        with_op(op, [&](auto o) {
            constexpr int Op = decltype(o)::value;
            if (floats) {
                if constexpr (Op <= OP_REM) with_float_type(unit, [&](auto e) { float_pair_loop<decltype(e), Op>(out, pa, pb, n); });
            } else {
                with_int_type(unit, type == TYPE_CHAR, [&](auto e) { int_pair_loop<decltype(e), Op>(out, pa, pb, n); });
            }
        });
    } else {
        for (uint32_t i = 0; i < n; i++) {
            if (floats) {
                put_float(out + i * unit, unit, float_::do_math_op(get_float(pa + i * ua, ua), get_float(pb + i * ub, ub), op));
            } else {
                int32_t x = read_int(pa + i * ua, ua, type), y = read_int(pb + i * ub, ub, type);
                if (op == OP_DIV || op == OP_REM) check_division(x, y, op);
                put_int(out + i * unit, unit, uint32_t(int_op(x, y, op)));
            }
        }
    }
    rb->tail = rb->offset + n * unit;
    result = *slot;
    *a = result;  // the first argument's cell now refers to the new series
    *stack::arguments = result;
}

// The vector at `v` with the number `s`, in place.
void scalar_math(int op, Cell* v, const Cell* s, bool scalar_first) {
    int type = element_type(v);
    int st = type_of(s);
    SeriesBuffer* b = buf(v);
    uint32_t unit = b->unit();
    uint32_t h = clamp_head(v);
    size_t n = series::length_from_head(v) - h;
    uint8_t* p = series::element_at(b, h);
    if (is_float_kind(type)) {
        double d;
        if (st == TYPE_INTEGER) d = double(integer::get(s));
        else if (st == TYPE_FLOAT || st == TYPE_PERCENT) d = cell_float(s);
        else raise_error(err::internal_not_done);
        if (op > OP_REM) float_::do_math_op(0, 0, op);  // raises cannot-use
        if (!scalar_first && (((op == OP_ADD || op == OP_SUB) && d == 0) || ((op == OP_MUL || op == OP_DIV) && d == 1)))
            return;
        with_op(op, [&](auto o) {
            constexpr int Op = decltype(o)::value;
            if constexpr (Op <= OP_REM) with_float_type(unit, [&](auto e) { float_scalar_loop<decltype(e), Op>(p, n, d, scalar_first); });
        });
        return;
    }
    int32_t k;
    if (st == TYPE_INTEGER || st == TYPE_CHAR) {
        k = integer::get(s);
    } else if (st == TYPE_FLOAT || st == TYPE_PERCENT) {
        double d = std::trunc(cell_float(s));
        if (integer::is_float_out_of_range(d)) raise_error(err::math_overflow);
        k = int32_t(d);
    } else {
        raise_error(err::internal_not_done);
    }
    if (!scalar_first && (((op == OP_ADD || op == OP_SUB) && k == 0) || ((op == OP_MUL || op == OP_DIV) && k == 1)))
        return;
    if (op == OP_DIV || op == OP_REM) {
        // Checked first, so that a failing element leaves the vector whole.
        if (!scalar_first) {
            check_division(0, k, op);
            if (k == -1 && unit == 4) {
                for (size_t i = 0; i < n; i++) check_division(get_int(p + i * 4, 4), k, op);
            }
        } else {
            for (size_t i = 0; i < n; i++) check_division(k, read_int(p + i * unit, unit, type), op);
        }
    }
    with_op(op, [&](auto o) {
        constexpr int Op = decltype(o)::value;
        with_int_type(unit, type == TYPE_CHAR, [&](auto e) { int_scalar_loop<decltype(e), Op>(p, n, k, scalar_first); });
    });
}

void do_math(int op) {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    if (type_of(b) == TYPE_VECTOR) {
        vector_math(op, a, b);
        return;
    }
    scalar_math(op, a, b, false);
}

// ---------------------------------------------------------------- comparison

int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_VECTOR) return NOT_COMPARABLE;
    int type = element_type(a);
    if (type != element_type(b)) raise_error(err::script_not_same_type);
    bool same = a->data2 == b->data2 && a->data1 == b->data1;
    if (op == COMP_SAME) return same ? 0 : -1;
    uint32_t la = series::rs_length(a), lb = series::rs_length(b);
    if (op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND) {
        if (same) return 0;
        if (la != lb) return 1;
    }
    uint32_t ua = unit_of(a), ub = unit_of(b);
    const uint8_t* pa = series::element_at(buf(a), a->data1);
    const uint8_t* pb = series::element_at(buf(b), b->data1);
    uint32_t n = std::min(la, lb);
    for (uint32_t i = 0; i < n; i++) {
        if (is_float_kind(type)) {
            int c = float_::sort_order(get_float(pa + i * ua, ua), get_float(pb + i * ub, ub));
            if (c) return c;
        } else {
            int32_t x = read_int(pa + i * ua, ua, type), y = read_int(pb + i * ub, ub, type);
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

// ---------------------------------------------------------------- text

const char* type_name(int type) {
    switch (type) {
    case TYPE_CHAR: return "char!";
    case TYPE_INTEGER: return "integer!";
    case TYPE_FLOAT: return "float!";
    default: return "percent!";
    }
}

int serialize_elements(Cell* v, Cell* buffer, bool all, int part, bool mold) {
    Cell vc = *v;
    uint32_t n = series::length_from_head(&vc);
    int type = element_type(&vc);
    for (uint32_t k = std::min(vc.data1, n); k < n; k++) {
        if (part <= 0) break;
        // Re-read: writing to the buffer may collect and move the vector.
        SeriesBuffer* b = buf(&vc);
        uint32_t unit = b->unit();
        const uint8_t* p = series::element_at(b, k);
        char text[float_::FORM_DOUBLE_MAX];
        switch (type) {
        case TYPE_INTEGER: {
            int len = integer::form_decimal(get_int(p, unit), text);
            part = string::concatenate_literal(buffer, std::string_view(text, size_t(len)), part);
            break;
        }
        case TYPE_CHAR: {
            uint32_t cp = get_char(p, unit);
            if (mold) part = string::concatenate_literal(buffer, "#\"", part);
            part = string::append_escaped_char(buffer, cp, all, part);
            if (mold) part = string::concatenate_literal(buffer, "\"", part);
            break;
        }
        case TYPE_FLOAT: {
            int len = float_::form_double(get_float(p, unit), unit == 4 ? float_::FORM_FLOAT32 : float_::FORM_FLOAT, text);
            part = string::concatenate_literal(buffer, std::string_view(text, size_t(len)), part);
            break;
        }
        default: {
            int len = float_::form_double(get_float(p, unit) * 100.0, float_::FORM_PERCENT, text);
            part = string::concatenate_literal(buffer, std::string_view(text, size_t(len)), part);
            break;
        }
        }
        if (k + 1 < n) part = string::concatenate_literal(buffer, " ", part);
    }
    return part;
}

int form(Cell* v, Cell* buffer, int part) { return serialize_elements(v, buffer, false, part, false); }

int mold(Cell* v, Cell* buffer, bool only, bool all, bool, int part, int) {
    Cell vc = *v;
    int type = element_type(&vc);
    uint32_t unit = unit_of(&vc);
    if (!only) part = string::concatenate_literal(buffer, "make vector! [", part);
    if (series::rs_length(&vc) > 0 && unit == default_unit(type)) {
        part = serialize_elements(&vc, buffer, all, part, true);
        if (!only) part = string::concatenate_literal(buffer, "]", part);
        return part;
    }
    if (!only) {
        char head[32];
        int len = std::snprintf(head, sizeof head, "%s %u [", type_name(type), unit * 8);
        part = string::concatenate_literal(buffer, std::string_view(head, size_t(len)), part);
    }
    part = serialize_elements(&vc, buffer, all, part, true);
    if (!only) part = string::concatenate_literal(buffer, "]]", part);
    return part;
}

// ---------------------------------------------------------------- find and select

// The number a value stands for in the vector's storage kind, when it has one.
bool needle_of(const Cell* v, const Cell* value, int64_t& i, double& d) {
    int t = type_of(value);
    if (is_int_kind(element_type(v))) {
        if (!is_int_kind(t)) return false;
        i = integer::get(value);
        return true;
    }
    if (t == TYPE_INTEGER) d = double(integer::get(value));
    else if (is_float_kind(t)) d = cell_float(value);
    else return false;
    return true;
}

// The index (from the buffer's start) of the element found, or -1.
int64_t search(Cell* v, Cell* value, Cell* part, Cell* skip, bool last, bool reverse, bool match) {
    uint32_t n = series::length_from_head(v);
    uint32_t index = std::min(v->data1, n);
    int64_t step = 1;
    if (skip) {
        if (type_of(skip) != TYPE_INTEGER) {
            Cell w = series::named_word("skip");
            raise_error(err::script_invalid_refine_arg, &w, skip);
        }
        step = int32_t(skip->data2);
        if (step < 1) raise_error(err::script_out_of_range, skip);
    }
    int64_t count = -1;
    if (part) {
        count = series::part_count(v, part);
        if (count < 1) return -1;
    }
    int64_t ni = 0;
    double nd = 0;
    if (!needle_of(v, value, ni, nd)) return -1;
    SeriesBuffer* b = buf(v);
    uint32_t unit = b->unit();
    int type = element_type(v);
    auto hit = [&](int64_t k) {
        const uint8_t* p = series::element_at(b, uint32_t(k));
        if (is_int_kind(type)) return read_int(p, unit, type) == ni;
        return get_float(p, unit) == nd;
    };
    series::FindBounds bounds;
    if (!series::find_bounds(index, n, count, last, reverse, match, bounds)) return -1;
    if (!bounds.backward) {
        for (int64_t k = bounds.low; k < bounds.high; k += step) {
            if (hit(k)) return k;
            if (match) break;
        }
        return -1;
    }
    for (int64_t k = bounds.high - 1; k >= bounds.low; k -= step) {
        if (hit(k)) return k;
        if (match) break;
    }
    return -1;
}

Cell found_cell;

const Cell* find(Cell* v, Cell* value, Cell* part, bool, bool, bool, bool any, Cell* with, Cell* skip, bool last,
                 bool reverse, bool tail, bool match) {
    if (any || with) raise_error(err::internal_not_done);
    int64_t k = search(v, value, part, skip, last, reverse, match);
    if (k < 0) return &NONE_CELL;
    found_cell = *v;
    found_cell.data1 = uint32_t(k + (tail ? 1 : 0));
    return &found_cell;
}

const Cell* select(Cell* v, Cell* value, Cell* part, bool, bool, bool, bool any, Cell* with, Cell* skip, bool last,
                   bool reverse, bool, bool) {
    if (any || with) raise_error(err::internal_not_done);
    int64_t k = search(v, value, part, skip, last, reverse, false);
    if (k < 0 || k + 1 >= series::length_from_head(v)) return &NONE_CELL;
    element_value(v, uint32_t(k + 1), &found_cell);
    return &found_cell;
}

// ---------------------------------------------------------------- sort

// A vector's records, ordered by number: integers signed, characters by code
// point, floats by the total order of sorting (single or double elements).
class VectorRecords final : public sorting::SeriesRecords {
public:
    VectorRecords(const sorting::Request& r, uint32_t unit, int type) : SeriesRecords(r, unit), type_(type) {}

    void reserve_spare(size_t count) override { spare_.resize(count * width); }

    bool less(size_t x, size_t y) override {
        if (r_.reverse) std::swap(x, y);
        if (r_.function) return call(x, y);
        const uint8_t* a = address(x);
        const uint8_t* b = address(y);
        uint32_t from = r_.whole ? 0 : r_.field, to = r_.whole ? r_.size : r_.field + 1;
        for (uint32_t i = from; i < to; i++) {
            int c = order(a + i * unit_, b + i * unit_);
            if (c) return c < 0;
        }
        return false;
    }

private:
    int order(const uint8_t* a, const uint8_t* b) const {
        if (is_float_kind(type_)) return float_::sort_order(get_float(a, unit_), get_float(b, unit_));
        int32_t x = read_int(a, unit_, type_), y = read_int(b, unit_, type_);
        return x < y ? -1 : x > y ? 1 : 0;
    }

    Cell element(size_t ref) override {
        Cell c;
        get_value(address(ref) + r_.field * unit_, unit_, type_, &c);
        return c;
    }
    void make_scratch(Cell* target) override { alloc(target, r_.size, type_, unit_); }
    uint8_t* spare_at(size_t slot) override { return spare_.data() + slot * width; }

    int type_;
    std::vector<uint8_t> spare_;
};

const Cell* sort(Cell* v, bool case_, Cell* skip, Cell* compare, Cell* part, bool all, bool reverse, bool stable) {
    Cell result = *v;
    sorting::Request r;
    if (sorting::read_request(r, v, case_, skip, compare, part, all, reverse, stable, true)) {
        VectorRecords store(r, unit_of(v), element_type(v));
        sorting::run(r, store);
    }
    if (!stack::thrown) *stack::arguments = result;
    return stack::arguments;
}

}  // namespace

void do_math_scalar(int op) {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    if (type_of(a) == TYPE_VECTOR) {
        scalar_math(op, a, b, false);
        return;
    }
    scalar_math(op, b, a, true);
    *a = *b;
}

void register_type() {
    Registration(TYPE_VECTOR, TYPE_STRING, "vector!")
        .marker(collector::mark_flat_series, true)
        .hasher(nullptr)
        .on<A_MAKE>(make)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .on<A_ADD>(math::handler<do_math, OP_ADD>)
        .on<A_SUBTRACT>(math::handler<do_math, OP_SUB>)
        .on<A_MULTIPLY>(math::handler<do_math, OP_MUL>)
        .on<A_DIVIDE>(math::handler<do_math, OP_DIV>)
        .on<A_REMAINDER>(math::handler<do_math, OP_REM>)
        .on<A_AND_T>(math::handler<do_math, OP_AND>)
        .on<A_OR_T>(math::handler<do_math, OP_OR>)
        .on<A_XOR_T>(math::handler<do_math, OP_XOR>)
        .on<A_APPEND>(append)
        .on<A_INSERT>(insert)
        .on<A_CHANGE>(change)
        .on<A_FIND>(find)
        .on<A_SELECT>(select)
        .on<A_SORT>(sort)
        .inherit({A_RANDOM, A_REFLECT, A_EVAL_PATH, A_AT, A_BACK, A_CLEAR, A_COPY, A_HEAD, A_HEAD_Q, A_INDEX_Q,
                  A_LENGTH_Q, A_MOVE, A_NEXT, A_PICK, A_POKE, A_REMOVE, A_REVERSE, A_SKIP, A_TAIL, A_TAIL_Q,
                  A_TAKE, A_MODIFY})
        .commit();
}

}  // namespace vyx::vector
