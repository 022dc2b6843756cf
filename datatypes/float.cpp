#include "datatypes/float.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "datatypes/integer.h"
#include "datatypes/math_dispatch.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/types.h"
#include "datatypes/vector.h"
#include "evaluator/lexer.h"
#include "evaluator/random.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/float_text.h"
#include "runtime/raise.h"

namespace vyx::float_ {

const double POSITIVE_INFINITY = std::numeric_limits<double>::infinity();
const double NEGATIVE_INFINITY = -std::numeric_limits<double>::infinity();
const double QUIET_NAN = from_bits(0x7FF8000000000000ull);
const double MAX_FINITE = from_bits(0x7FEFFFFFFFFFFFFFull);

namespace {

bool pretty_print_on = true;

}  // namespace

bool pretty_print() { return pretty_print_on; }
void set_pretty_print(bool pretty) { pretty_print_on = pretty; }

Cell* box(double value) {
    *stack::arguments = Cell{TYPE_FLOAT, 0, 0, 0};
    set_cell_float(stack::arguments, value);
    return stack::arguments;
}

double abs(double d) { return from_bits(bits_of(d) & 0x7FFFFFFFFFFFFFFFull); }

bool is_special(const Cell* c) { return (c->data3 & 0x7FF00000u) == 0x7FF00000u; }

bool is_not_finite(double d) { return (bits_of(d) & 0x7FF0000000000000ull) == 0x7FF0000000000000ull; }

bool is_nan32(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return (b & 0x7F800000u) == 0x7F800000u && (b & 0x007FFFFFu) != 0;
}

namespace {

// A 64-bit key that orders like the doubles themselves: negatives below
// positives, and -0.0 on the same key as 0.0.
uint64_t order_key(double d) {
    uint64_t b = bits_of(d);
    return (b >> 63) ? uint64_t(0) - b : b | 0x8000000000000000ull;
}

uint32_t order_key32(uint32_t b) { return (b >> 31) ? uint32_t(0) - b : b | 0x80000000u; }

}  // namespace

bool is_equal(double a, double b) {
    // NaN equals nothing; an infinity only the same infinity (never the
    // largest finite double, one unit away in the order below).
    if (is_not_finite(a) || is_not_finite(b)) return a == b;
    if (a == b) return true;
    if (std::fabs(a - b) < EPSILON) return true;
    uint64_t x = order_key(a), y = order_key(b);
    return (x > y ? x - y : y - x) <= 10;
}

bool float32_equal(float a, float b) {
    if (is_nan32(a) || is_nan32(b)) return false;
    if (a == b) return true;
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    uint32_t mx = x & 0x7FFFFFFFu, my = y & 0x7FFFFFFFu;
    if (mx <= 0x7F7FFFFEu && my <= 0x7F7FFFFEu) {
        if (mx == 0 && my == 0) return true;
        uint32_t kx = order_key32(x), ky = order_key32(y);
        return (kx > ky ? kx - ky : ky - kx) <= 10;
    }
    // At the top of the range (an infinity on one side): same sign and close.
    if ((x >> 31) != (y >> 31)) return false;
    return (mx > my ? mx - my : my - mx) < 0x100000u;
}

double from_binary(const Cell* bin) {
    uint32_t n = series::rs_length(bin);
    if (n > 8) n = 8;
    const uint8_t* p = series::element_at(series::buffer_of(bin), bin->data1);
    uint64_t v = 0;
    for (uint32_t i = 0; i < n; i++) v = (v << 8) | p[i];
    return from_bits(v);
}

// ---------------------------------------------------------------- text

namespace {

// `d` as "%.*g" prints it: std::to_chars gives the same text, without the C
// library's formatting machinery. A precision of at most 16 digits never
// needs more than about 25 characters of the buffer.
int print_g(char* out, int precision, double d) {
    char* end = std::to_chars(out, out + FORM_DOUBLE_MAX - 1, d, std::chars_format::general, precision).ptr;
    *end = 0;
    return int(end - out);
}

// "%.16g" of `d` when it has a few decimals (2.5, 0.1, 1234.75): found as
// the first m = d * 10^j, j = 0, 1, ..., that is a whole number of fewer than
// 16 digits within a safe margin of half a unit of the 16th digit, which makes
// m * 10^-j the 16-digit rounding of d's exact value. d * 10^j is computed
// exactly, as a product and its rounding error. -1 for any other value.
int print_g16_short(char* out, double d) {
    static constexpr double POWERS[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                                        1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};
    double a = std::fabs(d);
    if (!(a >= 1e-4 && a < 1e15)) return -1;
    if (a < 1e7) {
        // d * 10^8 of a value found below lies within 0.045 of a whole number
        // (the margin times 10^(8 - j)), and is computed to within 0.07.
        double p8 = a * 1e8;
        if (!(std::fabs(p8 - double(int64_t(p8 + 0.5))) < 0.12)) return -1;
    }
    for (int j = 0; j <= 8; j++) {
        double product = a * POWERS[j];
        if (product >= 1e15) return -1;
        double m = double(int64_t(product + 0.5));
        // Most values with many digits leave here at every j (printed below).
        if (m == 0 || !(std::fabs(product - m) < 0.01)) continue;
        double off = (product - m) + std::fma(a, POWERS[j], -product);
        int k = 1;
        while (k < 16 && m >= POWERS[k]) k++;
        double limit = 0.45 / POWERS[16 - k];
        // Just under a power of ten the digits of d are a tenth as far apart.
        if (off < 0 && m == POWERS[k - 1]) limit /= 10;
        if (!(std::fabs(off) < limit)) continue;
        char digits[20];
        uint64_t whole = uint64_t(m);
        for (int i = k - 1; i >= 0; i--, whole /= 10) digits[i] = char('0' + whole % 10);
        int last = k;  // without trailing zeros after the point
        int e = k - 1 - j;  // the exponent of the first digit
        while (last > e + 1 && last > 1 && digits[last - 1] == '0') last--;
        int n = 0;
        if (std::signbit(d)) out[n++] = '-';
        if (e < 0) {
            out[n++] = '0';
            out[n++] = '.';
            for (int i = 0; i < -e - 1; i++) out[n++] = '0';
            for (int i = 0; i < last; i++) out[n++] = digits[i];
        } else {
            for (int i = 0; i <= e; i++) out[n++] = digits[i];
            if (last > e + 1) {
                out[n++] = '.';
                for (int i = e + 1; i < last; i++) out[n++] = digits[i];
            }
        }
        out[n] = 0;
        return n;
    }
    return -1;
}

// The first printing of a kind: "%.7g" for the single-precision kinds and
// the short kind, "%.13g" for percents, six significant digits for seconds,
// "%.16g" for doubles.
int print_kind(char* out, double d, int kind, bool again) {
    switch (kind) {
    case FORM_FLOAT32: case FORM_SHORT:
        return print_g(out, again ? 5 : 7, d);
    case FORM_PERCENT32:
        return print_g(out, again ? 14 : 7, d);
    case FORM_PERCENT:
        return print_g(out, again ? 14 : 13, d);
    case FORM_TIME:
        return again ? print_g(out, 5, d) : form_float_buffer(d, 6, false, out);
    default:
        if (!again) {
            int n = print_g16_short(out, d);
            if (n >= 0) return n;
        }
        return print_g(out, again ? 14 : 16, d);
    }
}

struct Layout {
    int length;
    int exponent;  // index of the "e", or -1
    bool point;
};

// Drops the "+" and the leading zeros of the exponent ("1e+020" becomes
// "1e20", "1e-005" becomes "1e-5"); finds the point and the exponent.
Layout tidy(char* text, int n) {
    Layout l{n, -1, false};
    for (int i = 0; i < n; i++) {
        if (text[i] == '.') l.point = true;
        if (text[i] == 'e' || text[i] == 'E') {
            l.exponent = i;
            break;
        }
    }
    if (l.exponent < 0) return l;
    int from = l.exponent + 1, to = from;
    if (from < n && text[from] == '-') from = ++to;
    else if (from < n && text[from] == '+') from++;
    while (from < n - 1 && text[from] == '0') from++;
    std::memmove(text + to, text + from, size_t(n - from));
    l.length = to + (n - from);
    text[l.length] = 0;
    return l;
}

// The pretty-printing test: a text at the edge of the printed precision
// whose last two digits show a binary rounding residue.
bool looks_like_residue(const char* text, const Layout& l) {
    int mantissa = l.exponent < 0 ? l.length : l.exponent;
    bool long_text;
    if (l.exponent < 0) {
        char first = text[0] == '-' ? text[1] : text[0];
        long_text = l.length > 16 && (first != '0' || l.length > 17);
    } else {
        long_text = mantissa > 16;
    }
    if (!long_text || mantissa < 2) return false;
    char a = text[mantissa - 2], b = text[mantissa - 1];
    return (a == '0' && b == '1') || (a == '9' && b == '9');
}

}  // namespace

int form_double(double d, int kind, char* out) {
    uint64_t bits = bits_of(d);
    const char* fixed = nullptr;
    bool percent = kind == FORM_PERCENT32 || kind == FORM_PERCENT;
    if (is_not_finite(d)) {
        fixed = (bits & 0x000FFFFFFFFFFFFFull) ? "1.#NaN" : (bits >> 63) ? "-1.#INF" : "1.#INF";
    } else if (pretty_print() && std::fabs(d) < EPSILON) {
        fixed = percent ? "0%" : kind == FORM_SHORT ? "0" : "0.0";
    }
    if (fixed) {
        int n = int(std::strlen(fixed));
        std::memcpy(out, fixed, size_t(n) + 1);
        return n;
    }
    int n = print_kind(out, d, kind, false);
    Layout l = tidy(out, n);
    if (pretty_print() && looks_like_residue(out, l)) {
        n = print_kind(out, d, kind, true);
        l = tidy(out, n);
    }
    n = l.length;
    if (percent) {
        out[n++] = '%';
    } else if (!l.point && kind != FORM_TIME && kind != FORM_SHORT) {
        int at = l.exponent < 0 ? n : l.exponent;
        std::memmove(out + at + 2, out + at, size_t(n - at));
        out[at] = '.';
        out[at + 1] = '0';
        n += 2;
    }
    out[n] = 0;
    return n;
}

std::string form_double(double d, int kind) {
    char buf[FORM_DOUBLE_MAX];
    int n = form_double(d, kind, buf);
    return std::string(buf, size_t(n));
}

// ---------------------------------------------------------------- arithmetic

namespace {

Cell datatype_of(int type) { return Cell{TYPE_DATATYPE, uint32_t(type), 0, 0}; }

[[noreturn]] void invalid_type(int type) {
    Cell dt = datatype_of(type);
    raise_error(err::script_invalid_type, &dt);
}

[[noreturn]] void bad_to(int type, const Cell* spec) {
    Cell dt = datatype_of(type);
    raise_error(err::script_bad_to_arg, &dt, spec);
}

[[noreturn]] void expect_arg(const char* action, int type, const char* argument) {
    Cell word = series::named_word(action), dt = datatype_of(type), arg = series::named_word(argument);
    raise_error(err::script_expect_arg, &word, &dt, &arg);
}

// The double of a number operand: integer!, char!, or the float kinds.
double number_of(const Cell* c) {
    int t = type_of(c);
    return t == TYPE_INTEGER || t == TYPE_CHAR ? double(int32_t(c->data2)) : cell_float(c);
}

}  // namespace

double do_math_op(double a, double b, int op) {
    switch (op) {
    case OP_ADD: return a + b;
    case OP_SUB: return a - b;
    case OP_MUL: return a * b;
    case OP_DIV: return a / b;
    case OP_REM:
        // An infinite or NaN divisor gives NaN, never the dividend.
        return is_not_finite(b) ? QUIET_NAN : std::fmod(a, b);
    default: {
        Cell word = series::named_word(math::action_name(op)), dt = datatype_of(TYPE_FLOAT);
        raise_error(err::script_cannot_use, &word, &dt);
    }
    }
}

void do_math(int op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int lt = type_of(left), rt = type_of(right);
    switch (rt) {
    case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
        break;
    case TYPE_CHAR:
        if (lt == TYPE_TIME || lt == TYPE_PERCENT) invalid_type(rt);
        break;
    case TYPE_PAIR: case TYPE_POINT2D: case TYPE_POINT3D:
        if (lt == TYPE_TIME) invalid_type(rt);
        if (op == OP_SUB || op == OP_DIV) math::not_related(math::action_name(op), rt);
        // The pair or point math takes the number second, as a double.
        if (lt == TYPE_INTEGER) make_at(left, double(int32_t(left->data2)));
        math::swap_arguments();
        math::run_stack_handler(rt, math::action_of(op));
        return;
    case TYPE_TUPLE:
        // As integer math does: the tuple first, for the operations that
        // have a meaning in that order.
        if (op == OP_SUB || op == OP_DIV) math::not_related(math::action_name(op), lt);
        math::swap_arguments();
        math::run_stack_handler(rt, math::action_of(op));
        return;
    case TYPE_MONEY:
        if (lt == TYPE_TIME) invalid_type(rt);
        money::do_math(op);
        return;
    case TYPE_VECTOR:
        vector::do_math_scalar(op);
        return;
    default:
        invalid_type(rt);
    }
    int result_type = lt == TYPE_TIME || rt == TYPE_TIME ? TYPE_TIME : lt == TYPE_PERCENT ? TYPE_PERCENT : TYPE_FLOAT;
    double r = do_math_op(number_of(left), number_of(right), op);
    make_kind_at(left, result_type, r);
}

void absolute() {
    Cell* v = stack::arguments;
    v->data3 &= 0x7FFFFFFFu;
}

void negate(Cell* value) {
    // 0.0 minus the value: negating either zero gives 0.0.
    Cell r = *value;
    set_cell_float(&r, 0.0 - cell_float(value));
    *stack::arguments = r;
}

void power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    int et = type_of(exponent);
    if (et != TYPE_INTEGER && et != TYPE_FLOAT) expect_arg("power", et, "exponent");
    double r = std::pow(number_of(base), number_of(exponent));
    if (type_of(base) == TYPE_INTEGER) make_at(base, r);
    else set_cell_float(base, r);
}

// Parity of the value truncated toward zero. Beyond the 32-bit range the
// truncated double itself decides (every double from 2^53 up is even); NaN
// and the infinities have no parity.
namespace {

int parity(double d) {
    if (is_not_finite(d)) return -1;
    double t = std::trunc(d);
    if (!integer::is_float_out_of_range(t)) return int(int32_t(t) & 1);
    return std::fmod(t, 2.0) != 0.0 ? 1 : 0;
}

}  // namespace

bool is_even(Cell* value) { return parity(cell_float(value)) == 0; }
bool is_odd(Cell* value) { return parity(cell_float(value)) == 1; }

// ---------------------------------------------------------------- comparison

int compare(Cell* a, Cell* b, int op) {
    int ta = type_of(a), tb = type_of(b);
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && ta != tb) return 1;
    double x = number_of(a), y;
    switch (tb) {
    case TYPE_INTEGER:
        y = double(int32_t(b->data2));
        break;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
        y = cell_float(b);
        break;
    case TYPE_MONEY:
        return ta == TYPE_TIME ? NOT_COMPARABLE : money::compare_number(a, b, op);
    default:
        return NOT_COMPARABLE;
    }
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_LIT_STRICT_EQUAL: case COMP_LIT_EQUAL:
        return is_equal(x, y) ? 0 : 1;
    case COMP_STRICT_EQUAL: case COMP_FIND:
        // Searching matches exactly: find [0.3] 0.1 + 0.2 finds nothing.
        return x == y ? 0 : 1;
    case COMP_SAME:
        return bits_of(x) == bits_of(y) ? 0 : 1;
    case COMP_SORT: case COMP_CASE_SORT:
        return sort_order(x, y);
    default:
        // NaN is unordered: every ordering test with it is false.
        if (std::isnan(x) || std::isnan(y)) return op == COMP_LESSER || op == COMP_LESSER_EQUAL ? 1 : -1;
        return x < y ? -1 : x > y ? 1 : 0;
    }
}

int sort_order(double x, double y) {
    // A total order: -inf < finite < +inf < NaN, every NaN alike, -0.0 with 0.0.
    bool nx = std::isnan(x), ny = std::isnan(y);
    if (nx || ny) return int(nx) - int(ny);
    return x < y ? -1 : x > y ? 1 : 0;
}

// ---------------------------------------------------------------- round

void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    Cell v = *value;
    *stack::arguments = v;
    int vt = type_of(&v);
    int st = scale ? type_of(scale) : 0;
    if (st == TYPE_MONEY) math::not_related("round", TYPE_MONEY);
    double d = cell_float(&v);
    double u = vt == TYPE_PERCENT ? 0.01 : 1.0;
    if (scale) {
        switch (st) {
        case TYPE_INTEGER: u = std::fabs(double(int32_t(scale->data2))); break;
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: u = std::fabs(cell_float(scale)); break;
        default: expect_arg("round", st, "scale");
        }
        // A number scale of a percent counts in percent points; a percent
        // scale is already a fraction.
        if (vt == TYPE_PERCENT && st != TYPE_PERCENT) u /= 100.0;
    }
    // A unit below the value's precision (or zero) leaves nothing to round.
    if (u == 0.0 || std::fabs(d) * 0x1p-53 > u) return;

    int saved_exponent = 0;
    double scaled;
    if (u >= 1.0) {
        scaled = d / u;
    } else {
        int e;
        double m = std::frexp(u, &e);
        if (e < -1021) {
            d = std::ldexp(d, -e);
            u = m;
            saved_exponent = e;
        }
        scaled = d * (1.0 / u);
    }

    double a = std::fabs(scaled);
    bool negative = std::signbit(scaled);
    auto sign = [negative](double m) { return negative ? -m : m; };
    double r;
    if (down) {
        r = sign(std::floor(a));
    } else if (floor) {
        r = std::floor(scaled);
    } else if (ceiling) {
        r = std::ceil(scaled);
    } else {
        double h = std::floor(a) + 0.5;
        if (h < a) r = sign(std::ceil(a));
        else if (h > a) r = sign(std::floor(a));
        else if (even) r = sign(std::fmod(a, 2.0) >= 1.0 ? std::ceil(a) : std::floor(a));
        else if (half_down) r = sign(std::floor(a));
        else if (half_ceiling) r = std::ceil(scaled);
        else r = sign(std::ceil(a));
    }

    if (u >= 1.0) {
        r *= u;
        if (std::fabs(r) > MAX_FINITE) raise_error(err::math_overflow);
    } else {
        r = std::ldexp(r / (1.0 / u), saved_exponent);
    }

    Cell* out = stack::arguments;
    // A percent rounded to whole percent points stays a percent: as an
    // integer it would lose the fraction it stands for (12% is 0.12).
    if (st == TYPE_INTEGER && vt == TYPE_PERCENT) st = TYPE_PERCENT;
    if (st == TYPE_INTEGER) {
        // Only a result that fits becomes the integer.
        if (integer::is_float_out_of_range(r)) raise_error(err::math_overflow);
        integer::make_at(out, int32_t(r));
        out->data1 = 0;
        out->data3 = 0;
        return;
    }
    if (scale) set_cell_type(out, st);
    out->data1 = 0;
    set_cell_float(out, r);
}

// ---------------------------------------------------------------- make, to

namespace {

// A percent from text: the text as the lexer loads one value; only a number
// is taken.
double percent_from_text(const Cell* spec, int type) {
    std::string utf8 = string::to_utf8(spec);
    uint32_t consumed = 0;
    int t = lexer::scan_single_token_type(utf8, &consumed);
    if ((t != TYPE_INTEGER && t != TYPE_FLOAT && t != TYPE_PERCENT) || consumed != utf8.size())
        bad_to(type, spec);
    Cell* slot = stack::push_slot();
    *slot = Cell{TYPE_NONE, 0, 0, 0};
    lexer::scan_utf8_source(slot, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()), true, true,
                            true, false, nullptr, nullptr, nullptr, nullptr);
    Cell loaded = *slot;
    stack::top = slot;
    switch (type_of(&loaded)) {
    case TYPE_INTEGER: return double(int32_t(loaded.data2));
    case TYPE_FLOAT: case TYPE_PERCENT: return cell_float(&loaded);
    default: bad_to(type, spec);
    }
}

double block_to_double(const Cell* spec, int type) {
    if (series::rs_length(spec) != 2) bad_to(type, spec);
    const Cell* items = reinterpret_cast<const Cell*>(series::element_at(series::buffer_of(spec), spec->data1));
    Cell m = items[0], e = items[1];
    for (const Cell* c : {&m, &e}) {
        int t = type_of(c);
        if (t != TYPE_INTEGER && t != TYPE_FLOAT) bad_to(TYPE_FLOAT, spec);
    }
    return number_of(&m) * std::pow(10.0, number_of(&e));
}

}  // namespace

const Cell* to(Cell*, Cell* spec, int type) {
    static Cell result;
    int t = type_of(spec);
    double d;
    switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
        d = block_to_double(spec, type);
        break;
    case TYPE_CHAR: case TYPE_INTEGER:
        d = double(int32_t(spec->data2));
        break;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
        d = cell_float(spec);
        break;
    case TYPE_BINARY:
        d = from_binary(spec);
        break;
    case TYPE_MONEY:
        d = money::to_float(spec);
        break;
    default:
        if (!is_any_string(t)) bad_to(type, spec);
        if (type == TYPE_PERCENT) {
            d = percent_from_text(spec, type);
        } else {
            int code = 0;
            d = lexer::load_float_syntax(spec, 0, series::rs_length(spec), code);
            if (code != 0) bad_to(type, spec);
        }
    }
    result = Cell{uint32_t(type), 0, 0, 0};
    set_cell_float(&result, d);
    return &result;
}

// ---------------------------------------------------------------- form, mold

namespace {

int form(Cell* value, Cell* buffer, int part) {
    char text[FORM_DOUBLE_MAX];
    int n = form_double(cell_float(value), FORM_FLOAT, text);
    return string::concatenate_literal(buffer, std::string_view(text, size_t(n)), part);
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) {
    char text[FLOAT_TEXT_MAX];
    int n = form_float_buffer(cell_float(value), 0, true, text);
    return string::concatenate_literal(buffer, std::string_view(text, size_t(n)), part);
}

}  // namespace

namespace {

double random_double(double value, bool secure) {
    if (!secure) return double(random_gen::random_next()) / 2147483647.0 * value;
    double first = random_gen::random_next_secure();
    double second = random_gen::random_next_secure();
    return (second + first / 2147483647.0) / (2147483648.0 / value);
}

void randomize(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_gen::random_seed(int32_t(value->data2 ^ value->data3));
        *value = UNSET_CELL;
        return;
    }
    set_cell_float(value, random_double(cell_float(value), secure));
}

}  // namespace

void register_type() {
    Registration(TYPE_FLOAT, 0, "float!")
        .hasher(hash_payload_bytes<2, 8>)
        .on<A_MAKE>(to)
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
        .commit();
}

}  // namespace vyx::float_
