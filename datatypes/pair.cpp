#include "datatypes/pair.h"

#include <cmath>
#include <string>

#include "datatypes/integer.h"
#include "datatypes/math_dispatch.h"
#include "datatypes/point2d.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/types.h"
#include "evaluator/helpers.h"
#include "evaluator/random.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/raise.h"

namespace vyx::pair {

int32_t coordinate_of(const Cell* number) {
    if (type_of(number) == TYPE_INTEGER) return integer::get(number);
    double d = cell_float(number);
    if (!(d > -2147483649.0 && d < 2147483648.0)) {
        Cell f = *number;
        raise_error(err::script_out_of_range, &f);
    }
    return int32_t(d);
}

void to_point2d(int i) {
    Cell* c = stack::arguments + i;
    point2d::make_at(c, float(x(c)), float(y(c)));
}

namespace {

[[noreturn]] void invalid_arg(const Cell* value) {
    Cell v = *value;
    raise_error(err::script_invalid_arg, &v);
}

}  // namespace

void do_math(int op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int32_t rx, ry;
    switch (type_of(right)) {
    case TYPE_PAIR:
        rx = x(right);
        ry = y(right);
        break;
    case TYPE_INTEGER:
        rx = ry = integer::get(right);
        break;
    case TYPE_POINT2D:
        to_point2d(0);
        point2d::do_math(op);
        return;
    case TYPE_FLOAT: case TYPE_PERCENT: {
        double f = cell_float(right);
        if (op == OP_MUL || op == OP_DIV) {
            // Scaling gives a point; dividing by 0.0 or an infinity is allowed.
            if (std::isnan(f) || (op == OP_MUL && std::isinf(f))) invalid_arg(right);
            double lx = x(left), ly = y(left);
            point2d::make_at(left, float(op == OP_MUL ? lx * f : lx / f), float(op == OP_MUL ? ly * f : ly / f));
            return;
        }
        if (!std::isfinite(f)) invalid_arg(right);
        rx = ry = coordinate_of(right);
        break;
    }
    default:
        coords::invalid_type_of(right);
    }
    Cell kind{TYPE_INTEGER, 0, 0, 0};
    int32_t nx = integer::do_math_op(x(left), rx, op, &kind);
    int32_t ny = 0;
    if (type_of(&kind) == TYPE_INTEGER) ny = integer::do_math_op(y(left), ry, op, &kind);
    if (type_of(&kind) == TYPE_INTEGER) {
        left->data2 = uint32_t(nx);
        left->data3 = uint32_t(ny);
        return;
    }
    // Not exact or out of range: the whole operation again on points.
    make_at(right, rx, ry);
    to_point2d(0);
    to_point2d(1);
    point2d::do_math(op);
}

namespace {

[[noreturn]] void bad_to(const Cell* spec) {
    Cell dt{TYPE_DATATYPE, TYPE_PAIR, 0, 0}, s = *spec;
    raise_error(err::script_bad_to_arg, &dt, &s);
}

bool is_number(const Cell* c) { return type_of(c) == TYPE_INTEGER || type_of(c) == TYPE_FLOAT; }

// make and to share this conversion.
const Cell* make(Cell*, Cell* spec, int) {
    static Cell result;
    result = Cell{TYPE_PAIR, 0, 0, 0};
    switch (type_of(spec)) {
    case TYPE_INTEGER: case TYPE_FLOAT: {
        int32_t n = coordinate_of(spec);
        return make_at(&result, n, n);
    }
    case TYPE_BLOCK: {
        const Cell* items = reinterpret_cast<const Cell*>(series::element_at(series::buffer_of(spec), spec->data1));
        if (series::rs_length(spec) < 2 || !is_number(items) || !is_number(items + 1))
            coords::malconstruct(TYPE_PAIR, spec);
        Cell cx = items[0], cy = items[1];
        int32_t px = coordinate_of(&cx);
        return make_at(&result, px, coordinate_of(&cy));
    }
    case TYPE_POINT2D: {
        if (!std::isfinite(point2d::x(spec)) || !std::isfinite(point2d::y(spec))) invalid_arg(spec);
        Cell cx{TYPE_FLOAT, 0, 0, 0}, cy{TYPE_FLOAT, 0, 0, 0};
        set_cell_float(&cx, double(point2d::x(spec)));
        set_cell_float(&cy, double(point2d::y(spec)));
        int32_t px = coordinate_of(&cx);
        return make_at(&result, px, coordinate_of(&cy));
    }
    case TYPE_STRING: {
        Cell* slot = stack::push_slot();
        *slot = NONE_CELL;
        const Cell* loaded = helpers::load_value_from_string_into(spec, slot);
        if (type_of(loaded) != TYPE_PAIR) bad_to(spec);
        result = *loaded;
        stack::top = slot;
        return &result;
    }
    case TYPE_PAIR:
        return spec;
    default:
        bad_to(spec);
    }
}

void randomize(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_gen::random_seed(x(value) ^ y(value));
        *value = UNSET_CELL;
        return;
    }
    // random_int keeps a 0 coordinate at 0.
    int32_t rx = random_gen::random_int(secure, x(value));
    make_at(value, rx, random_gen::random_int(secure, y(value)));
}

int form(Cell* value, Cell* buffer, int part) {
    char text[12];
    std::string s(text, size_t(integer::form_decimal(x(value), text)));
    s += 'x';
    s.append(text, size_t(integer::form_decimal(y(value), text)));
    return string::concatenate_literal(buffer, s, part);
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) { return form(value, buffer, part); }

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool) {
    static Cell result;
    int field = coords::path_field(element, 2, parent, path);
    uint32_t* slot = field == 1 ? &parent->data2 : &parent->data3;
    if (!value) {
        result = Cell{TYPE_INTEGER, 0, *slot, 0};
        return &result;
    }
    if (type_of(value) != TYPE_INTEGER) coords::invalid_type_of(value);
    *slot = value->data2;
    return value;
}

// Orders by x, then y, for every comparison operator.
int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) == TYPE_POINT2D) {
        Cell p = *a;
        point2d::make_at(&p, float(x(a)), float(y(a)));
        return point2d::compare(&p, b, op);
    }
    if (type_of(b) != TYPE_PAIR) return NOT_COMPARABLE;
    int32_t ax = x(a), bx = x(b);
    if (ax != bx) return ax < bx ? -1 : 1;
    int32_t ay = y(a), by = y(b);
    return ay < by ? -1 : ay > by ? 1 : 0;
}

void absolute() {
    Cell* v = stack::arguments;
    int32_t ax = integer::abs(x(v));
    make_at(v, ax, integer::abs(y(v)));
}

void negate(Cell* value) {
    // Two's complement: the minimum stays the minimum.
    Cell r = *value;
    r.data2 = 0u - value->data2;
    r.data3 = 0u - value->data3;
    *stack::arguments = r;
}

// Each coordinate rounds as an integer; a pair scale gives each its own.
void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    Cell pair = *value;
    if (!scale) {
        *stack::arguments = pair;
        return;
    }
    if (type_of(scale) == TYPE_MONEY) math::not_related("round", TYPE_MONEY);
    auto round_integer = reinterpret_cast<act::Round>(get_handler(TYPE_INTEGER, A_ROUND));
    int32_t out[2];
    for (int i = 0; i < 2; i++) {
        Cell s = *scale;
        if (type_of(scale) == TYPE_PAIR) s = Cell{TYPE_INTEGER, 0, uint32_t(i ? y(scale) : x(scale)), 0};
        Cell c{TYPE_INTEGER, 0, uint32_t(i ? y(&pair) : x(&pair)), 0};
        round_integer(&c, &s, even, down, half_down, floor, ceiling, half_ceiling);
        Cell r = *stack::arguments;
        if (type_of(&r) == TYPE_INTEGER) {
            out[i] = integer::get(&r);
        } else {
            if (integer::is_float_out_of_range(std::trunc(cell_float(&r)))) raise_error(err::math_overflow);
            out[i] = int32_t(cell_float(&r));
        }
    }
    *stack::arguments = pair;
    make_at(stack::arguments, out[0], out[1]);
}

const Cell* pick(Cell* pair, int index, Cell* boxed_index) {
    static Cell result;
    int field = coords::pick_field(index, boxed_index, 2, pair);
    result = Cell{TYPE_INTEGER, 0, field == 1 ? pair->data2 : pair->data3, 0};
    return &result;
}

void reverse(Cell* pair, Cell*, Cell*) { make_at(pair, y(pair), x(pair)); }

}  // namespace

void register_type() {
    Registration(TYPE_PAIR, 0, "pair!")
        .hasher(hash_payload_bytes<2, 8>)
        .on<A_MAKE>(make)
        .on<A_RANDOM>(randomize)
        .on<A_TO>(make)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_COMPARE>(compare)
        .on<A_ABSOLUTE>(absolute)
        .on<A_ADD>(math::handler<do_math, OP_ADD>)
        .on<A_DIVIDE>(math::handler<do_math, OP_DIV>)
        .on<A_MULTIPLY>(math::handler<do_math, OP_MUL>)
        .on<A_NEGATE>(negate)
        .on<A_REMAINDER>(math::handler<do_math, OP_REM>)
        .on<A_ROUND>(round)
        .on<A_SUBTRACT>(math::handler<do_math, OP_SUB>)
        .on<A_AND_T>(math::handler<do_math, OP_AND>)
        .on<A_OR_T>(math::handler<do_math, OP_OR>)
        .on<A_XOR_T>(math::handler<do_math, OP_XOR>)
        .on<A_PICK>(pick)
        .on<A_REVERSE>(reverse)
        .commit();
}

}  // namespace vyx::pair
