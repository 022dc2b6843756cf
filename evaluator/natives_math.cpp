// The math natives: sign tests, max and min, shift, to-hex, trigonometry,
// logarithms, and the constructors of pairs, points and money.
//
// Results come from the platform's libm, built without fused multiply-add so
// that they do not change with the optimiser. Domain problems are not errors:
// they give NaN or an infinity.
#include <cmath>
#include <cstdio>

#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/helpers.h"
#include "evaluator/native_table.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

constexpr double PI = 3.141592653589793;

void check(int flag, const native_table::Declaration& native, const int* refs) {
    if (flag) native.check(refs);
}

void answer_logic(bool b) {
    Cell c{TYPE_LOGIC, b ? 1u : 0u, 0, 0};
    stack::store_result_only(&c);
}

void answer_float(double d) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    float_::make_at(&c, d);
    stack::store_result_only(&c);
}

// An integer!, float!, percent! (its stored value: 50% is 0.5) or time!
// argument as a double.
double as_double(const Cell* c) {
    if (type_of(c) == TYPE_INTEGER || type_of(c) == TYPE_CHAR) return double(integer::get(c));
    return float_::get(c);
}

bool is_money_zero(const Cell* c) {
    for (int i = 1; i <= money::DIGITS; i++)
        if (money::digit(c, i)) return false;
    return true;
}

// -1, 0 or 1 for the sign-test datatypes; a NaN has no sign (0).
int sign_of(const Cell* c) {
    switch (type_of(c)) {
    case TYPE_INTEGER: return integer::sign_of(integer::get(c));
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: {
        double d = float_::get(c);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    case TYPE_MONEY:
        if (is_money_zero(c)) return 0;
        return money::is_negative(c) ? -1 : 1;
    default:
        helpers::raise_expect_arg(0, type_of(c));
    }
}

}  // namespace

VYX_NATIVE(negative_q, 49, "negative?",
           R"~("sign test" number [number! money! time!] return: [logic!])~");
void negative_q(int flag, const int* refs) {
    check(flag, native_negative_q, refs);
    answer_logic(sign_of(arg(0)) < 0);
}

VYX_NATIVE(positive_q, 50, "positive?",
           R"~("sign test" number [number! money! time!] return: [logic!])~");
void positive_q(int flag, const int* refs) {
    check(flag, native_positive_q, refs);
    answer_logic(sign_of(arg(0)) > 0);
}

VYX_NATIVE(sign_q, 97, "sign?",
           R"~("sign as 1, 0 or -1" number [number! money! time!] return: [integer!])~");
void sign_q(int flag, const int* refs) {
    check(flag, native_sign_q, refs);
    Cell c{TYPE_INTEGER, 0, 0, 0};
    integer::make_at(&c, sign_of(arg(0)));
    stack::store_result_only(&c);
}

VYX_NATIVE(zero_q, 100, "zero?",
           R"~("whether a value is zero" value [number! money! pair! time! char! tuple! any-point!] return: [logic!])~");
void zero_q(int flag, const int* refs) {
    check(flag, native_zero_q, refs);
    const Cell* v = arg(0);
    bool zero;
    switch (type_of(v)) {
    case TYPE_INTEGER: case TYPE_CHAR: zero = v->data2 == 0; break;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: zero = float_::get(v) == 0.0; break;
    case TYPE_MONEY: zero = is_money_zero(v); break;
    case TYPE_PAIR: zero = pair::x(v) == 0 && pair::y(v) == 0; break;
    case TYPE_POINT2D: zero = point2d::x(v) == 0.0f && point2d::y(v) == 0.0f; break;
    case TYPE_POINT3D: zero = point2d::x(v) == 0.0f && point2d::y(v) == 0.0f && point3d::z(v) == 0.0f; break;
    case TYPE_TUPLE: {
        zero = true;
        for (int i = 0; i < tuple::length(v); i++)
            if (tuple::byte_at(v, i)) zero = false;
        break;
    }
    default: helpers::raise_expect_arg(0, type_of(v));
    }
    answer_logic(zero);
}

VYX_NATIVE(nan_q, 62, "NaN?",
           R"~("whether a number is not-a-number" value [number!] return: [logic!])~");
void nan_q(int flag, const int* refs) {
    check(flag, native_nan_q, refs);
    answer_logic(std::isnan(as_double(arg(0))));
}

// max and min ----------------------------------------------------------------------

namespace {

bool is_number(int t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }
bool is_nan_number(const Cell* c) {
    return (type_of(c) == TYPE_FLOAT || type_of(c) == TYPE_PERCENT) && std::isnan(float_::get(c));
}
bool is_compound(int t) { return t == TYPE_PAIR || t == TYPE_POINT2D || t == TYPE_POINT3D; }

int32_t pick_int(int32_t a, int32_t b, bool max) { return max ? (a < b ? b : a) : (b < a ? b : a); }
// A NaN component of the second value is taken.
float pick_float(float a, float b, bool max) {
    if (std::isnan(b)) return b;
    return max ? (a < b ? b : a) : (b < a ? b : a);
}

struct Point {
    float c[3];
    int dims;
};

// A pair, point or number as a point (a number in every component).
Point point_of(const Cell* v) {
    switch (type_of(v)) {
    case TYPE_PAIR: return {{float(pair::x(v)), float(pair::y(v)), 0.0f}, 2};
    case TYPE_POINT2D: return {{point2d::x(v), point2d::y(v), 0.0f}, 2};
    case TYPE_POINT3D: return {{point2d::x(v), point2d::y(v), point3d::z(v)}, 3};
    default: {
        float f = float(as_double(v));
        return {{f, f, f}, 0};
    }
    }
}

// Component by component, the compound value first.
void max_min_compound(const Cell* a, const Cell* b, bool max) {
    Cell r{TYPE_NONE, 0, 0, 0};
    if (type_of(a) == TYPE_PAIR && (type_of(b) == TYPE_PAIR || type_of(b) == TYPE_INTEGER ||
                                    (type_of(b) == TYPE_FLOAT && std::isfinite(float_::get(b)) &&
                                     !integer::is_float_out_of_range(std::trunc(float_::get(b)))))) {
        int32_t bx, by;
        if (type_of(b) == TYPE_PAIR) {
            bx = pair::x(b);
            by = pair::y(b);
        } else {
            bx = by = type_of(b) == TYPE_INTEGER ? integer::get(b) : int32_t(std::trunc(float_::get(b)));
        }
        pair::make_at(&r, pick_int(pair::x(a), bx, max), pick_int(pair::y(a), by, max));
    } else {
        if (!is_compound(type_of(b)) && !is_number(type_of(b))) {
            raise_error(err::script_invalid_compare, a, b);
        }
        Point p = point_of(a), q = point_of(b);
        float out[3];
        for (int i = 0; i < 3; i++) out[i] = pick_float(p.c[i], q.c[i], max);
        if (p.dims == 3 || q.dims == 3)
            point3d::make_at(&r, out[0], out[1], out[2]);
        else
            point2d::make_at(&r, out[0], out[1]);
    }
    stack::store_result_only(&r);
}

void max_min(bool max) {
    Cell a = *arg(0), b = *arg(1);
    int ta = type_of(&a), tb = type_of(&b);
    if (is_nan_number(&a) && is_number(tb)) {
        stack::store_result_only(&a);
        return;
    }
    if (is_nan_number(&b) && is_number(ta)) {
        stack::store_result_only(&b);
        return;
    }
    if ((is_compound(tb) || tb == TYPE_TUPLE) && (ta == TYPE_INTEGER || ta == TYPE_FLOAT)) {
        std::swap(a, b);
        std::swap(ta, tb);
    }
    if (is_compound(ta)) {
        max_min_compound(&a, &b, max);
        return;
    }
    bool lesser = actions::compare_values(&a, &b, COMP_LESSER);
    // On a tie max keeps value1 and min takes value2.
    const Cell* r = max ? (lesser ? &b : &a) : (lesser ? &a : &b);
    stack::store_result_only(r);
}

}  // namespace

VYX_NATIVE(max_, 51, "max",
           R"~("greater of two values" value1 [scalar! series!] value2 [scalar! series!])~");
void max_(int flag, const int* refs) {
    check(flag, native_max_, refs);
    max_min(true);
}

VYX_NATIVE(min_, 52, "min",
           R"~("lesser of two values" value1 [scalar! series!] value2 [scalar! series!])~");
void min_(int flag, const int* refs) {
    check(flag, native_min_, refs);
    max_min(false);
}

// shift and to-hex -----------------------------------------------------------------

// Shifts by 32 or more are spelled out: in C++ they are undefined.
VYX_NATIVE(shift_, 53, "shift",
           R"~("arithmetic or logical bit shift of an integer" data [integer!] bits [integer!] /left /logical return: [integer!])~");
void shift_(int flag, const int* refs) {
    check(flag, native_shift_, refs);
    int32_t data = integer::get(arg(0));
    int32_t bits = integer::get(arg(1));
    if (bits < 0) bits = 0;
    int32_t r;
    if (refs[native_shift_.refinement("left")] >= 0)
        r = bits >= 32 ? 0 : int32_t(uint32_t(data) << bits);
    else if (refs[native_shift_.refinement("logical")] >= 0)
        r = bits >= 32 ? 0 : int32_t(uint32_t(data) >> bits);
    else
        r = bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
    Cell c{TYPE_INTEGER, 0, 0, 0};
    integer::make_at(&c, r);
    stack::store_result_only(&c);
}

VYX_NATIVE(to_hex, 54, "to-hex",
           R"~("integer as a hexadecimal issue!" value [integer!] /size length [integer!] return: [issue!])~");
void to_hex(int flag, const int* refs) {
    check(flag, native_to_hex, refs);
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", integer::get(arg(0)) & 0xFFFFFFFFu);
    int length = 8;
    if (refs[native_to_hex.refinement("size")] >= 0) {
        Cell* size = arg(refs[native_to_hex.refinement("size")]);
        int32_t n = integer::get(size);
        if (n <= 0) raise_error(err::script_invalid_arg, size);
        if (n < 8) length = n;
    }
    Cell c = word::make_cell(TYPE_ISSUE, context::global, symbol::make(std::string_view(digits + 8 - length)), -1);
    stack::store_result_only(&c);
}

// Trigonometry and logarithms ------------------------------------------------------

namespace {

// The angle argument in radians: degrees are first reduced (mode 0 tangent,
// 1 cosine, 2 sine) so that exact angles give exact results.
template <const native_table::Declaration& N>
double angle_of(const int* refs, int mode) {
    double x = as_double(arg(0));
    return refs[N.refinement("radians")] >= 0 ? x : helpers::degrees_to_radians(x, mode);
}

// Below one unit of rounding a sine or cosine is zero: sine 180 is 0.0.
double flush_tiny(double d) { return std::fabs(d) < float_::EPSILON ? 0.0 : d; }

template <const native_table::Declaration& N>
void answer_angle(double radians, const int* refs) {
    answer_float(refs[N.refinement("radians")] >= 0 ? radians : radians * 180.0 / PI);
}

}  // namespace

VYX_NATIVE(sine_, 55, "sine",
           R"~("sine of an angle in degrees (or radians)" angle [float! integer!] /radians "DEPRECATED: use `sin` native instead" return: [float!])~");
void sine_(int flag, const int* refs) {
    check(flag, native_sine_, refs);
    answer_float(flush_tiny(std::sin(angle_of<native_sine_>(refs, 2))));
}

VYX_NATIVE(cosine_, 56, "cosine",
           R"~("cosine" angle [float! integer!] /radians "DEPRECATED: use `cos` native instead" return: [float!])~");
void cosine_(int flag, const int* refs) {
    check(flag, native_cosine_, refs);
    answer_float(flush_tiny(std::cos(angle_of<native_cosine_>(refs, 1))));
}

VYX_NATIVE(tangent_, 57, "tangent",
           R"~("tangent" angle [float! integer!] /radians "DEPRECATED: use `tan` native instead" return: [float!])~");
void tangent_(int flag, const int* refs) {
    check(flag, native_tangent_, refs);
    double a = angle_of<native_tangent_>(refs, 0);
    if (a == PI / 2)
        answer_float(float_::POSITIVE_INFINITY);
    else if (a == PI / -2)
        answer_float(float_::NEGATIVE_INFINITY);
    else
        answer_float(std::tan(a));
}

VYX_NATIVE(arcsine_, 58, "arcsine",
           R"~("arcsine in degrees (or radians)" sine [float! integer!] /radians "DEPRECATED: use `asin` native instead" return: [float!])~");
void arcsine_(int flag, const int* refs) {
    check(flag, native_arcsine_, refs);
    answer_angle<native_arcsine_>(std::asin(as_double(arg(0))), refs);
}

VYX_NATIVE(arccosine_, 59, "arccosine",
           R"~("arccosine" cosine [float! integer!] /radians "DEPRECATED: use `acos` native instead" return: [float!])~");
void arccosine_(int flag, const int* refs) {
    check(flag, native_arccosine_, refs);
    answer_angle<native_arccosine_>(std::acos(as_double(arg(0))), refs);
}

VYX_NATIVE(arctangent_, 60, "arctangent",
           R"~("arctangent" tangent [float! integer!] /radians "DEPRECATED: use `atan` native instead" return: [float!])~");
void arctangent_(int flag, const int* refs) {
    check(flag, native_arctangent_, refs);
    answer_angle<native_arctangent_>(std::atan(as_double(arg(0))), refs);
}

VYX_NATIVE(arctangent2_, 61, "arctangent2",
           R"~("angle of the vector (x, y)" y [float! integer!] x [float! integer!] /radians "DEPRECATED: use `atan2` native instead" return: [float!])~");
void arctangent2_(int flag, const int* refs) {
    check(flag, native_arctangent2_, refs);
    answer_angle<native_arctangent2_>(std::atan2(as_double(arg(0)), as_double(arg(1))), refs);
}

VYX_NATIVE(log_2, 63, "log-2",
           R"~("base-2 logarithm" value [float! integer! percent!] return: [float!])~");
void log_2(int flag, const int* refs) {
    check(flag, native_log_2, refs);
    answer_float(std::log(as_double(arg(0))) / 0.6931471805599453);
}

VYX_NATIVE(log_10, 64, "log-10",
           R"~("base-10 logarithm" value [float! integer! percent!] return: [float!])~");
void log_10(int flag, const int* refs) {
    check(flag, native_log_10, refs);
    answer_float(std::log10(as_double(arg(0))));
}

VYX_NATIVE(log_e, 65, "log-e",
           R"~("natural logarithm" value [float! integer! percent!] return: [float!])~");
void log_e(int flag, const int* refs) {
    check(flag, native_log_e, refs);
    answer_float(std::log(as_double(arg(0))));
}

// e to the power, computed as a power of e's double (not libm's exp).
VYX_NATIVE(exp_, 66, "exp",
           R"~("e raised to a power" value [float! integer! percent!] return: [float!])~");
void exp_(int flag, const int* refs) {
    check(flag, native_exp_, refs);
    answer_float(std::pow(2.718281828459045, as_double(arg(0))));
}

VYX_NATIVE(square_root, 67, "square-root",
           R"~("square root" value [float! integer! percent!] return: [float!])~");
void square_root(int flag, const int* refs) {
    check(flag, native_square_root, refs);
    answer_float(std::sqrt(as_double(arg(0))));
}

// Constructors ---------------------------------------------------------------------

namespace {

// A pair component: a float is truncated toward zero; NaN and infinities are
// invalid, a truncation outside the 32-bit range is out of range.
int32_t pair_component(const Cell* c) {
    if (type_of(c) == TYPE_INTEGER) return integer::get(c);
    double d = float_::get(c);
    if (!std::isfinite(d)) raise_error(err::script_invalid_arg, c);
    double t = std::trunc(d);
    if (integer::is_float_out_of_range(t)) raise_error(err::script_out_of_range, c);
    return int32_t(t);
}

}  // namespace

VYX_NATIVE(as_pair, 73, "as-pair",
           R"~("pair! from two numbers" x [integer! float!] y [integer! float!])~");
void as_pair(int flag, const int* refs) {
    check(flag, native_as_pair, refs);
    Cell c{TYPE_NONE, 0, 0, 0};
    int32_t x = pair_component(arg(0)), y = pair_component(arg(1));
    pair::make_at(&c, x, y);
    stack::store_result_only(&c);
}

VYX_NATIVE(as_point2d, 74, "as-point2D",
           R"~("point2D! from two numbers" x [integer! float!] y [integer! float!])~");
void as_point2d(int flag, const int* refs) {
    check(flag, native_as_point2d, refs);
    Cell c{TYPE_NONE, 0, 0, 0};
    point2d::make_at(&c, float(as_double(arg(0))), float(as_double(arg(1))));
    stack::store_result_only(&c);
}

VYX_NATIVE(as_point3d, 75, "as-point3D",
           R"~("point3D! from three numbers" x [integer! float!] y [integer! float!] z [integer! float!])~");
void as_point3d(int flag, const int* refs) {
    check(flag, native_as_point3d, refs);
    Cell c{TYPE_NONE, 0, 0, 0};
    point3d::make_at(&c, float(as_double(arg(0))), float(as_double(arg(1))), float(as_double(arg(2))));
    stack::store_result_only(&c);
}

VYX_NATIVE(as_money, 76, "as-money",
           R"~("money! from a currency word and an amount" currency [word!] amount [integer! float!] return: [money!])~");
void as_money(int flag, const int* refs) {
    check(flag, native_as_money, refs);
    Cell* currency = arg(0);
    int index = money::currency_index(symbol::name_view(word::symbol_of(currency)));
    if (index < 1 || index > 255) raise_error(err::script_bad_denom, currency);
    const Cell* amount = arg(1);
    money::Amount a = type_of(amount) == TYPE_INTEGER ? money::Amount(integer::get(amount)) * money::UNIT
                                                      : money::from_float(float_::get(amount), false);
    Cell c{TYPE_MONEY, 0, 0, 0};
    stack::store_result_only(money::store(&c, a, uint32_t(index)));
}

}  // namespace vyx::natives
