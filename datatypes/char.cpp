#include "datatypes/char.h"

#include <cmath>

#include "datatypes/integer.h"
#include "datatypes/math_dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx::char_ {

void do_math(int op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int t = type_of(right);
    int32_t b;
    switch (t) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
        b = integer::get(right);
        break;
    case TYPE_FLOAT: {
        double d = cell_float(right);
        // Anything that does not truncate into 32 bits is past the code points.
        if (integer::is_float_out_of_range(std::trunc(d))) raise_error(err::math_overflow);
        b = int32_t(d);
        break;
    }
    case TYPE_VECTOR:
        vector::do_math_scalar(op);
        return;
    default: {
        Cell dt{TYPE_DATATYPE, uint32_t(t), 0, 0};
        raise_error(err::script_invalid_type, &dt);
    }
    }
    Cell probe{TYPE_INTEGER, 0, 0, 0};
    int32_t r = integer::do_math_op(integer::get(left), b, op, op == OP_DIV ? nullptr : &probe);
    if (type_of(&probe) == TYPE_FLOAT || r < 0 || uint32_t(r) > MAX_CODE_POINT) raise_error(err::math_overflow);
    left->data2 = uint32_t(r);
}

namespace {

[[noreturn]] void bad_to(const Cell* spec) {
    Cell dt{TYPE_DATATYPE, TYPE_CHAR, 0, 0};
    raise_error(err::script_bad_to_arg, &dt, spec);
}

const Cell* to(Cell*, Cell* spec, int) {
    static Cell result;
    int t = type_of(spec);
    int64_t cp;
    switch (t) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
        cp = integer::get(spec);
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        double d = std::trunc(cell_float(spec));
        if (!(d >= 0.0 && d <= double(MAX_CODE_POINT))) raise_error(err::script_out_of_range, spec);
        cp = int64_t(d);
        break;
    }
    case TYPE_BINARY: {
        uint32_t n = series::rs_length(spec);
        if (n == 0) bad_to(spec);
        const uint8_t* p = series::element_at(series::buffer_of(spec), spec->data1);
        int32_t c;
        unicode::fast_decode_utf8_char(p, p + n, c);
        if (c < 0) bad_to(spec);
        cp = c;
        break;
    }
    default:
        if (!is_any_string(t)) bad_to(spec);
        if (series::is_rs_tail(spec)) bad_to(spec);
        cp = string::char_at(spec, spec->data1);
        break;
    }
    if (cp < 0 || cp > MAX_CODE_POINT) raise_error(err::script_out_of_range, spec);
    result = Cell{TYPE_CHAR, 0, uint32_t(cp), 0};
    return &result;
}

}  // namespace

int form(Cell* value, Cell* buffer, int part) {
    string::append_char(node_buffer(buffer->data2), value->data2);
    return part - 1;
}

int mold(Cell* value, Cell* buffer, bool, bool all, bool, int part, int) {
    part = string::concatenate_literal(buffer, "#\"", part);
    part = string::append_escaped_char(buffer, value->data2, all, part);
    return string::concatenate_literal(buffer, "\"", part);
}

int compare(Cell* a, Cell* b, int op) {
    int tb = type_of(b);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && tb != TYPE_CHAR) return 1;
    if (tb != TYPE_CHAR && tb != TYPE_INTEGER) return NOT_COMPARABLE;
    int32_t x = integer::get(a), y = integer::get(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

void register_type() {
    Registration(TYPE_CHAR, TYPE_INTEGER, "char!")
        .on<A_MAKE>(to)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .on<A_ADD>(math::handler<do_math, OP_ADD>)
        .on<A_DIVIDE>(math::handler<do_math, OP_DIV>)
        .on<A_MULTIPLY>(math::handler<do_math, OP_MUL>)
        .on<A_REMAINDER>(math::handler<do_math, OP_REM>)
        .on<A_SUBTRACT>(math::handler<do_math, OP_SUB>)
        .on<A_AND_T>(math::handler<do_math, OP_AND>)
        .on<A_OR_T>(math::handler<do_math, OP_OR>)
        .on<A_XOR_T>(math::handler<do_math, OP_XOR>)
        .inherit({A_RANDOM, A_ABSOLUTE, A_EVEN_Q, A_ODD_Q})
        .commit();
}

}  // namespace vyx::char_
