#include "datatypes/integer.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/math_dispatch.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/vector.h"
#include "evaluator/random.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/raise.h"

namespace vyx::integer {

Cell* make_at(Cell* target, int32_t value) {
    set_cell_type(target, TYPE_INTEGER);
    target->data2 = uint32_t(value);
    return target;
}

Cell* box(int32_t value) {
    *stack::arguments = Cell{TYPE_INTEGER, 0, uint32_t(value), 0};
    return stack::arguments;
}

int32_t sign_of(int32_t value) { return value > 0 ? 1 : value < 0 ? -1 : 0; }

int32_t abs(int32_t value) {
    if (value == INT32_MIN) raise_error(err::math_overflow);
    return value < 0 ? -value : value;
}

bool is_float_out_of_range(double d) { return !(d >= -2147483648.0 && d <= 2147483647.0); }

int32_t from_binary(const Cell* bin) {
    uint32_t n = series::rs_length(bin);
    if (n > 4) n = 4;
    uint32_t v = 0;
    const uint8_t* p = series::element_at(series::buffer_of(bin), bin->data1);
    for (uint32_t i = 0; i < n; i++) v = (v << 8) | p[i];
    return int32_t(v);
}

int form_decimal(int32_t value, char* out) {
    // to_chars writes the minimum value too: it needs no negation.
    return int(std::to_chars(out, out + 12, value).ptr - out);
}

// ---------------------------------------------------------------- arithmetic

int32_t do_math_op(int32_t a, int32_t b, int op, Cell* result) {
    int32_t r;
    switch (op) {
    case OP_ADD:
        if (__builtin_add_overflow(a, b, &r)) {
            if (result) float_::make_at(result, double(a) + double(b));
            return r;
        }
        return r;
    case OP_SUB:
        if (__builtin_sub_overflow(a, b, &r)) {
            if (result) float_::make_at(result, double(a) - double(b));
            return r;
        }
        return r;
    case OP_MUL:
        if (__builtin_mul_overflow(a, b, &r)) {
            if (result) float_::make_at(result, double(a) * double(b));
            return r;
        }
        return r;
    case OP_DIV:
        if (b == 0) raise_error(err::math_zero_divide);
        // The one quotient that does not fit; without this check the
        // processor faults.
        if (a == INT32_MIN && b == -1) raise_error(err::math_overflow);
        if (result && a % b != 0) {
            float_::make_at(result, double(a) / double(b));
            return 0;
        }
        return a / b;
    case OP_REM:
        if (b == 0) raise_error(err::math_zero_divide);
        if (a == INT32_MIN && b == -1) raise_error(err::math_overflow);
        return a % b;
    case OP_OR: return a | b;
    case OP_AND: return a & b;
    case OP_XOR: return a ^ b;
    default: raise_error(err::internal_not_done);
    }
}

void do_math(int op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int t = type_of(right);
    switch (t) {
    case TYPE_INTEGER:
    case TYPE_CHAR: {
        Cell result = *left;
        int32_t r = do_math_op(get(left), get(right), op, &result);
        if (type_of(&result) == TYPE_FLOAT) {
            *left = result;
        } else {
            set_cell_type(left, TYPE_INTEGER);
            left->data2 = uint32_t(r);
        }
        return;
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
        // The float math takes over with the integer as a double.
        float_::make_at(left, double(get(left)));
        math::run_stack_handler(TYPE_FLOAT, math::action_of(op));
        return;
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
        if (op == OP_DIV) math::not_related("divide", TYPE_INTEGER);
        math::swap_arguments();
        if (op == OP_SUB) {
            // number - pair is the negated pair plus the number
            auto negate = reinterpret_cast<act::Negate>(get_handler(t, A_NEGATE));
            if (!negate) raise_error(err::internal_not_done);
            negate(stack::arguments);
            math::run_stack_handler(t, A_ADD);
            return;
        }
        math::run_stack_handler(t, math::action_of(op));
        return;
    case TYPE_TUPLE:
        if (op == OP_SUB || op == OP_DIV) math::not_related(math::action_name(op), TYPE_INTEGER);
        math::swap_arguments();
        math::run_stack_handler(t, math::action_of(op));
        return;
    case TYPE_DATE:
        if (op != OP_ADD) math::not_related(math::action_name(op), TYPE_INTEGER);
        math::swap_arguments();
        math::run_stack_handler(t, A_ADD);
        return;
    case TYPE_MONEY:
        money::do_math(op);
        return;
    case TYPE_VECTOR:
        vector::do_math_scalar(op);
        return;
    default: {
        Cell dt{TYPE_DATATYPE, uint32_t(t), 0, 0};
        raise_error(err::script_invalid_type, &dt);
    }
    }
}

namespace {

void negate(Cell* value) {
    int32_t v = get(value);
    if (v == INT32_MIN) raise_error(err::math_overflow);
    *stack::arguments = *value;
    stack::arguments->data2 = uint32_t(-v);
}

const Cell* complement(Cell* value) {
    static Cell result;
    result = *value;
    result.data2 = ~value->data2;
    return &result;
}

// Exponentiation by squaring; false when a product leaves 32 bits.
bool power_exact(int32_t base, uint32_t exponent, int32_t& out) {
    int32_t result = 1;
    while (exponent) {
        if (exponent & 1 && __builtin_mul_overflow(result, base, &result)) return false;
        exponent >>= 1;
        if (exponent && __builtin_mul_overflow(base, base, &base)) return false;
    }
    out = result;
    return true;
}

void power_as_float() {
    Cell* base = stack::arguments;
    float_::make_at(base, double(get(base)));
    auto h = reinterpret_cast<act::Stack>(get_handler(TYPE_FLOAT, A_POWER));
    if (h) {
        h();
        return;
    }
    Cell* exponent = base + 1;
    double e = type_of(exponent) == TYPE_FLOAT ? cell_float(exponent) : double(get(exponent));
    set_cell_float(base, std::pow(cell_float(base), e));
}

void power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    int et = type_of(exponent);
    if (et != TYPE_INTEGER && et != TYPE_FLOAT) {
        Cell word = series::named_word("power"), dt{TYPE_DATATYPE, uint32_t(et), 0, 0},
             arg = series::named_word("exponent");
        raise_error(err::script_expect_arg, &word, &dt, &arg);
    }
    if (et == TYPE_INTEGER && get(exponent) >= 0) {
        int32_t r;
        if (power_exact(get(base), uint32_t(get(exponent)), r)) {
            base->data2 = uint32_t(r);
            return;
        }
    }
    power_as_float();
}

void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    Cell v = *value;
    *stack::arguments = v;
    if (scale && type_of(scale) == TYPE_MONEY) math::not_related("round", TYPE_MONEY);
    int32_t n = get(&v);
    if (n == INT32_MIN) return;
    if (scale && type_of(scale) != TYPE_INTEGER) {
        float_::make_at(stack::arguments, double(n));
        auto h = reinterpret_cast<act::Round>(get_handler(TYPE_FLOAT, A_ROUND));
        if (!h) raise_error(err::internal_not_done);
        h(stack::arguments, scale, even, down, half_down, floor, ceiling, half_ceiling);
        return;
    }
    int64_t s = scale ? abs(get(scale)) : 1;
    if (s == 0) return;
    bool negative = n < 0;
    int64_t m = negative ? -int64_t(n) : n;
    int64_t q = m / s, r = m % s;
    if (r == 0) return;
    int64_t lower = m - r, upper = m + (s - r);
    int64_t pick;
    if (down) pick = lower;
    else if (floor) pick = negative ? upper : lower;
    else if (ceiling) pick = negative ? lower : upper;
    else if (r < s - r) pick = lower;
    else if (r > s - r) pick = upper;
    else if (even) pick = (q & 1) ? upper : lower;
    else if (half_down) pick = lower;
    else if (half_ceiling) pick = negative ? lower : upper;
    else pick = upper;
    // Only a result that does not fit overflows: a rounding whose answer is
    // representable (down to 2147483640, or -2147483648) never raises.
    int64_t result = negative ? -pick : pick;
    if (result < INT32_MIN || result > INT32_MAX) raise_error(err::math_overflow);
    stack::arguments->data2 = uint32_t(int32_t(result));
}

// Decimal text as the number reader takes it: a sign, then digits with single
// ' between them.
bool parse_decimal(const Cell* str, int32_t& out) {
    uint32_t n = series::rs_length(str);
    uint32_t k = str->data1, end = k + n;
    bool negative = false;
    if (k < end && (string::char_at(str, k) == '+' || string::char_at(str, k) == '-')) {
        negative = string::char_at(str, k) == '-';
        k++;
    }
    if (k >= end) return false;
    int64_t v = 0;
    bool digit_before = false;
    for (; k < end; k++) {
        uint32_t c = string::char_at(str, k);
        if (c == '\'') {
            if (!digit_before) return false;
            digit_before = false;
            continue;
        }
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return false;
        digit_before = true;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    out = int32_t(v);
    return true;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

const Cell* to(Cell*, Cell* spec, int type) {
    static Cell result;
    int t = type_of(spec);
    int32_t v = 0;
    switch (t) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
        v = get(spec);
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        double d = cell_float(spec);
        // NaN and the infinities fail the range test too.
        if (d <= -2147483649.0 || d >= 2147483648.0 || std::isnan(d)) {
            Cell dt{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
            raise_error(err::script_type_limit, &dt);
        }
        v = int32_t(d);
        break;
    }
    case TYPE_DATE: v = date::to_integer(spec); break;
    case TYPE_MONEY: v = money::to_integer(spec); break;
    case TYPE_TIME: {
        // Rounded half up from the seconds; a time beyond the integer range
        // is refused rather than converted with undefined behaviour.
        double d = cell_float(spec) + 0.5;
        if (!(d > -2147483649.0 && d < 2147483648.0)) raise_error(err::script_out_of_range, spec);
        v = int32_t(d);
        break;
    }
    case TYPE_ISSUE: {
        std::string name = symbol::name(int32_t(spec->data2));
        if (name.empty() || name.size() > 8) raise_error(err::script_invalid_data, spec);
        uint32_t u = 0;
        for (char c : name) {
            int h = hex_digit(c);
            if (h < 0) raise_error(err::script_invalid_data, spec);
            u = (u << 4) | uint32_t(h);
        }
        v = int32_t(u);
        break;
    }
    case TYPE_BINARY:
        v = from_binary(spec);
        break;
    default:
        if (is_any_string(t) && parse_decimal(spec, v)) break;
        // date! and money! convert through their own types when they arrive.
        Cell dt{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
        raise_error(err::script_bad_to_arg, &dt, spec);
    }
    result = Cell{TYPE_INTEGER, 0, uint32_t(v), 0};
    return &result;
}

const Cell* make(Cell* proto, Cell* spec, int type) {
    if (type_of(spec) == TYPE_LOGIC) {
        static Cell result;
        result = Cell{TYPE_INTEGER, 0, spec->data1 ? 1u : 0u, 0};
        return &result;
    }
    return to(proto, spec, type);
}

int form(Cell* value, Cell* buffer, int part) {
    char text[12];
    int n = form_decimal(get(value), text);
    return string::concatenate_literal(buffer, std::string_view(text, size_t(n)), part);
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) { return form(value, buffer, part); }

}  // namespace

void absolute() {
    Cell* v = stack::arguments;
    v->data2 = uint32_t(abs(get(v)));
}

bool is_even(Cell* value) { return (value->data2 & 1) == 0; }
bool is_odd(Cell* value) { return (value->data2 & 1) != 0; }

int compare(Cell* a, Cell* b, int op) {
    int tb = type_of(b);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && tb != TYPE_INTEGER) return 1;
    switch (tb) {
    case TYPE_INTEGER:
    case TYPE_CHAR: {
        int32_t x = get(a), y = get(b);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
        Cell f{TYPE_FLOAT, 0, 0, 0};
        set_cell_float(&f, double(get(a)));
        auto h = reinterpret_cast<act::Compare>(get_handler(TYPE_FLOAT, A_COMPARE));
        if (h) return h(&f, b, op);
        double x = double(get(a)), y = cell_float(b);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    case TYPE_MONEY:
        return money::compare_number(a, b, op);
    default:
        return NOT_COMPARABLE;
    }
}

namespace {

// char! inherits this: the draw replaces the number and keeps the type.
void randomize(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_gen::random_seed(get(value));
        *value = UNSET_CELL;
        return;
    }
    value->data2 = uint32_t(random_gen::random_int(secure, get(value)));
}

// An integer hashes to itself: integers counted up fill neighbouring
// buckets (the probe parts keys that share their low bits).
uint32_t hash_integer(const Cell* value, bool) { return value->data2; }

}  // namespace

void register_type() {
    Registration(TYPE_INTEGER, 0, "integer!")
        .hasher(hash_integer)
        .on<A_MAKE>(make)
        .on<A_RANDOM>(randomize)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .on<A_ABSOLUTE>(absolute)
        .on<A_ADD>(math::handler<do_math, OP_ADD>)
        .on<A_DIVIDE>(math::handler<do_math, OP_DIV>)
        .on<A_MULTIPLY>(math::handler<do_math, OP_MUL>)
        .on<A_NEGATE>(negate)
        .on<A_POWER>(power)
        .on<A_REMAINDER>(math::handler<do_math, OP_REM>)
        .on<A_ROUND>(round)
        .on<A_SUBTRACT>(math::handler<do_math, OP_SUB>)
        .on<A_EVEN_Q>(is_even)
        .on<A_ODD_Q>(is_odd)
        .on<A_AND_T>(math::handler<do_math, OP_AND>)
        .on<A_COMPLEMENT>(complement)
        .on<A_OR_T>(math::handler<do_math, OP_OR>)
        .on<A_XOR_T>(math::handler<do_math, OP_XOR>)
        .commit();
}

}  // namespace vyx::integer
