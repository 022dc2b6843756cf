#include "datatypes/money.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "boot/system_object.h"
#include "datatypes/float.h"
#include "datatypes/math_dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/random.h"
#include "runtime/stack.h"
#include "runtime/float_text.h"
#include "runtime/hash_index.h"
#include "runtime/raise.h"

namespace vyx::money {

namespace {

constexpr Amount pow10(int n) {
    Amount p = 1;
    while (n-- > 0) p *= 10;
    return p;
}
constexpr Amount LIMIT = pow10(DIGITS);  // the first amount that does not fit

Amount magnitude(Amount a) { return a < 0 ? -a : a; }

// The currency list as a block, or null.
const Cell* currency_list() {
    const Cell* list = system_object::field({"locale", "currencies", "list"});
    return list && is_any_block(type_of(list)) ? list : nullptr;
}

const Cell* list_items(const Cell* list) {
    return reinterpret_cast<const Cell*>(series::element_at(series::buffer_of(list), list->data1));
}

Cell datatype_of(int type) { return Cell{TYPE_DATATYPE, uint32_t(type), 0, 0}; }

[[noreturn]] void type_limit(int type) {
    Cell dt = datatype_of(type);
    raise_error(err::script_type_limit, &dt);
}

[[noreturn]] void bad_make(const Cell* spec) {
    Cell dt = datatype_of(TYPE_MONEY), s = *spec;
    raise_error(err::script_bad_make_arg, &dt, &s);
}

[[noreturn]] void bad_to(const Cell* spec) {
    Cell dt = datatype_of(TYPE_MONEY), s = *spec;
    raise_error(err::script_bad_to_arg, &dt, &s);
}

[[noreturn]] void invalid_type(int type) {
    Cell dt = datatype_of(type);
    raise_error(err::script_invalid_type, &dt);
}

// The 12 payload bytes of a cell (data1, data2, data3 in memory order),
// read and written as a whole: the digits span all three words.
struct Payload {
    uint8_t bytes[12];
};

Payload payload_of(const Cell* c) {
    const uint32_t words[3] = {c->data1, c->data2, c->data3};
    Payload p;
    std::memcpy(p.bytes, words, sizeof p.bytes);
    return p;
}

void store_payload(Cell* c, const Payload& p) {
    uint32_t words[3];
    std::memcpy(words, p.bytes, sizeof words);
    c->data1 = words[0];
    c->data2 = words[1];
    c->data3 = words[2];
}

void set_digit(Payload& p, int i, int d) {
    uint8_t& b = p.bytes[i / 2 + i % 2];
    b = (i % 2) ? uint8_t((b & 0x0F) | (d << 4)) : uint8_t((b & 0xF0) | d);
}

int digit_of(const Payload& p, int i) {
    uint8_t b = p.bytes[i / 2 + i % 2];
    return (i % 2) ? b >> 4 : b & 0x0F;
}

// A float as money without raising: false when it cannot be one.
bool float_amount(double d, bool strict, Amount& out) {
    if (std::isnan(d) || std::isinf(d)) return false;
    double a = std::fabs(d);
    if (a >= 1e17 || (a > 0 && a < 0.00001)) return false;
    out = 0;
    if (a == 0) return true;
    DecimalDigits dd = double_to_decimal(d, 0, false);
    if (dd.exponent == DECIMAL_EXP_ZERO) return true;
    if (strict && dd.count - dd.exponent > FRACTION_DIGITS) return false;
    for (int i = 0; i < dd.count; i++) {
        int shift = dd.exponent - 1 - i + FRACTION_DIGITS;
        if (shift >= 0) out += Amount(dd.digits[i] - '0') * pow10(shift);
    }
    if (d < 0) out = -out;
    return true;
}

}  // namespace

std::vector<std::string> currencies;

int currency_index(std::string_view code) {
    for (size_t i = 0; i < currencies.size(); i++)
        if (symbol::equal_ascii_fold(currencies[i], code)) return int(i) + 1;
    if (!currencies.empty()) return -1;
    const Cell* list = currency_list();
    if (!list) return -1;
    uint32_t n = series::rs_length(list);
    for (uint32_t i = 0; i < n; i++) {
        const Cell* w = list_items(list) + i;
        if (!is_any_word(type_of(w))) continue;
        if (symbol::equal_ascii_fold(symbol::name_view(word::symbol_of(w)), code)) return int(i) + 1;
    }
    return -1;
}

int32_t currency_symbol(uint32_t index) {
    if (!currencies.empty()) return index >= 1 && index <= currencies.size() ? symbol::make(currencies[index - 1]) : 0;
    const Cell* list = currency_list();
    if (!list || index < 1 || index > series::rs_length(list)) return 0;
    const Cell* w = list_items(list) + (index - 1);
    return is_any_word(type_of(w)) ? word::symbol_of(w) : 0;
}

int digit(const Cell* c, int i) { return digit_of(payload_of(c), i); }

Cell* from_string(Cell* target, bool negative, std::string_view currency, const char* start,
                  const char* mark, const char* end) {
    int index = 0;
    if (!currency.empty()) {
        index = currency_index(currency);
        if (index < 1 || index > 255) return nullptr;
    }
    const char* int_end = mark ? mark : end;
    int significant = 0;
    for (const char* p = start; p < int_end; p++)
        if (*p != '\'' && (significant || *p != '0')) significant++;
    if (significant > INTEGER_DIGITS) return nullptr;
    // Keep the lexer's flag bits (new line); the payload is cleared.
    target->header = (target->header & ~(TYPE_MASK | NEGATIVE)) | TYPE_MONEY | (negative ? NEGATIVE : 0);
    Payload digits{};
    digits.bytes[0] = uint8_t(index);
    int i = INTEGER_DIGITS;
    for (const char* p = int_end; p > start && i >= 1;) {
        char ch = *--p;
        if (ch == '\'') continue;
        set_digit(digits, i--, ch - '0');
    }
    if (mark) {
        i = INTEGER_DIGITS + 1;
        for (const char* p = mark + 1; p < end && i <= DIGITS; p++) set_digit(digits, i++, *p - '0');
    }
    store_payload(target, digits);
    return target;
}

namespace {
constexpr uint64_t HALF = 100000000000ull;  // 10^11: each half of the digits fits 64 bits
}  // namespace

Amount amount_of(const Cell* c) {
    Payload p = payload_of(c);
    uint64_t hi = 0, lo = 0;
    for (int i = 1; i <= 11; i++) hi = hi * 10 + uint64_t(digit_of(p, i));
    for (int i = 12; i <= DIGITS; i++) lo = lo * 10 + uint64_t(digit_of(p, i));
    Amount a = hi ? Amount(hi) * Amount(HALF) + Amount(lo) : Amount(lo);
    return is_negative(c) ? -a : a;
}

Cell* store(Cell* target, Amount amount, uint32_t currency) {
    Amount m = magnitude(amount);
    if (m >= LIMIT) type_limit(TYPE_MONEY);
    set_cell_type(target, TYPE_MONEY);
    target->header &= ~NEGATIVE;
    if (amount < 0) target->header |= NEGATIVE;
    uint64_t hi, lo;
    if (m >> 64 == 0) {
        hi = uint64_t(m) / HALF;
        lo = uint64_t(m) % HALF;
    } else {
        hi = uint64_t(m / HALF);
        lo = uint64_t(m % HALF);
    }
    Payload p{};
    p.bytes[0] = uint8_t(currency);
    for (int i = DIGITS; i >= 12; i--, lo /= 10) set_digit(p, i, int(lo % 10));
    for (int i = 11; i >= 1 && hi; i--, hi /= 10) set_digit(p, i, int(hi % 10));
    store_payload(target, p);
    return target;
}

Amount from_float(double d, bool strict) {
    Amount a;
    if (!float_amount(d, strict, a)) {
        Cell f{TYPE_FLOAT, 0, 0, 0};
        set_cell_float(&f, d);
        bad_make(&f);
    }
    return a;
}

int32_t to_integer(const Cell* c) {
    Amount a = amount_of(c) / UNIT;
    if (a > 2147483647 || a < -Amount(2147483648)) type_limit(TYPE_INTEGER);
    return int32_t(a);
}

int write_chars(const Cell* c, bool all, bool grouping, char* out) {
    Amount a = amount_of(c);
    char* p = out;
    if (a < 0) *p++ = '-';
    if (uint32_t cur = currency(c)) {
        int32_t sym = currency_symbol(cur);
        std::string_view name = sym ? symbol::name_view(sym) : std::string_view("???");
        if (name.size() > 8) name = name.substr(0, 8);
        std::memcpy(p, name.data(), name.size());
        p += name.size();
    }
    *p++ = '$';
    Amount m = magnitude(a);
    uint64_t whole = uint64_t(m / UNIT), fraction = uint64_t(m % UNIT);
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, whole).ptr;
    int count = int(end - digits);
    for (int i = 0; i < count; i++) {
        *p++ = digits[i];
        int left = count - 1 - i;
        if (grouping && left && left % 3 == 0) *p++ = '\'';
    }
    int f = 2;
    if (const Cell* d = system_object::field({"options", "money-digits"}); d && type_of(d) == TYPE_INTEGER)
        f = int32_t(d->data2);
    if (all || f > FRACTION_DIGITS) f = FRACTION_DIGITS;
    if (f > 0) {
        *p++ = '.';
        for (int k = 0, scale = 10000; k < f; k++, scale /= 10) *p++ = char('0' + int(fraction / uint64_t(scale) % 10));
    }
    return int(p - out);
}

double to_float(const Cell* c) {
    char out[TEXT_MAX], number[TEXT_MAX];
    int n = write_chars(c, true, false, out);
    const char* dollar = static_cast<const char*>(std::memchr(out, '$', size_t(n)));
    int k = 0;
    if (out[0] == '-') number[k++] = '-';
    size_t digits = size_t(out + n - dollar - 1);
    std::memcpy(number + k, dollar + 1, digits);
    return decimal_to_double(number, number + k + int(digits));
}

namespace {

// The operand of money math as an amount; its currency through `cur`.
Amount operand(const Cell* c, uint32_t& cur) {
    cur = 0;
    switch (type_of(c)) {
    case TYPE_MONEY:
        cur = currency(c);
        return amount_of(c);
    case TYPE_INTEGER: return Amount(int32_t(c->data2)) * UNIT;
    case TYPE_FLOAT: case TYPE_PERCENT: return from_float(cell_float(c), false);
    default: invalid_type(type_of(c));
    }
}

// The quotient truncated toward zero, in 64 bits when both magnitudes fit.
Amount quotient(Amount a, Amount b) {
    Amount ma = magnitude(a), mb = magnitude(b);
    Amount q = (ma >> 64 == 0 && mb >> 64 == 0) ? Amount(uint64_t(ma) / uint64_t(mb)) : ma / mb;
    return (a < 0) != (b < 0) ? -q : q;
}

Amount multiply_amounts(Amount a, Amount b) {
    constexpr Amount PRODUCT_LIMIT = LIMIT * UNIT;
    constexpr Amount SMALL = Amount(1) << 40;  // two such magnitudes cannot pass the limit
    Amount ma = magnitude(a), mb = magnitude(b);
    if ((ma >= SMALL || mb >= SMALL) && ma && mb > PRODUCT_LIMIT / ma) type_limit(TYPE_MONEY);
    return quotient(a * b, UNIT);
}

}  // namespace

void do_math(int op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    bool lm = type_of(left) == TYPE_MONEY, rm = type_of(right) == TYPE_MONEY;
    if ((lm && rm && op == OP_MUL) || (!lm && (op == OP_DIV || op == OP_REM))) invalid_type(type_of(left));
    if (op > OP_REM) invalid_type(TYPE_MONEY);
    uint32_t cl, cr;
    Amount a = operand(left, cl), b = operand(right, cr);
    if (cl && cr && cl != cr) {
        Cell l = *left, r = *right;
        raise_error(err::script_wrong_denom, &l, &r);
    }
    uint32_t cur = cr ? cr : cl;
    Amount r;
    switch (op) {
    case OP_ADD: r = a + b; break;
    case OP_SUB: r = a - b; break;
    case OP_MUL: r = multiply_amounts(a, b); break;
    default:
        if (b == 0) raise_error(err::math_zero_divide);
        r = op == OP_DIV ? quotient(a * UNIT, b) : a % b;
    }
    store(left, r, cur);
    if (op == OP_DIV && lm && rm) float_::make_at(left, to_float(left));
}

namespace {

int order(Amount a, Amount b) { return a < b ? -1 : a > b ? 1 : 0; }

// A number against an amount, exactly: the float's digits beyond the fifth
// fraction place still count.
int order_number(const Cell* number, Amount m) {
    if (type_of(number) == TYPE_INTEGER) return order(Amount(int32_t(number->data2)) * UNIT, m);
    double d = cell_float(number);
    Amount a;
    if (!float_amount(d, false, a)) {
        // NaN, or beyond the money range either way: decided as doubles
        // (sign first, then a magnitude no amount reaches).
        Cell c{TYPE_MONEY, 0, 0, 0};
        double x = to_float(store(&c, m, 0));
        return std::isnan(d) ? 2 : d < x ? -1 : d > x ? 1 : 0;
    }
    int o = order(a, m);
    if (o) return o;
    double back = 0;
    // Equal to five places: any further digits make the float larger in magnitude.
    Cell c{TYPE_MONEY, 0, 0, 0};
    back = to_float(store(&c, a, 0));
    if (back == d) return 0;
    return std::fabs(d) > std::fabs(back) ? (d < 0 ? -1 : 1) : (d < 0 ? 1 : -1);
}

int answer(int o, int op) {
    if (o == 2) return op == COMP_LESSER || op == COMP_LESSER_EQUAL ? 1 : op <= COMP_STRICT_EQUAL ? 1 : -1;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_LIT_STRICT_EQUAL:
    case COMP_LIT_EQUAL: case COMP_FIND:
        return o ? 1 : 0;
    default: return o;
    }
}

bool strict_op(int op) { return op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND; }

int compare(Cell* a, Cell* b, int op) {
    int tb = type_of(b);
    if (tb != TYPE_MONEY) {
        if (strict_op(op)) return 1;
        if (tb != TYPE_INTEGER && tb != TYPE_FLOAT && tb != TYPE_PERCENT) return NOT_COMPARABLE;
        int o = order_number(b, amount_of(a));
        return answer(o == 2 ? 2 : -o, op);
    }
    uint32_t ca = currency(a), cb = currency(b);
    switch (op) {
    case COMP_SORT: case COMP_CASE_SORT:
        if (ca != cb) {
            if (!ca || !cb) return ca ? 1 : -1;
            return symbol::compare_names(currency_symbol(ca), currency_symbol(cb), op) < 0 ? -1 : 1;
        }
        break;
    case COMP_LESSER: case COMP_LESSER_EQUAL: case COMP_GREATER: case COMP_GREATER_EQUAL:
        if (ca && cb && ca != cb) raise_error(err::script_wrong_denom, a, b);
        break;
    case COMP_STRICT_EQUAL: case COMP_SAME:
        if (ca != cb) return 1;
        break;
    case COMP_FIND:
        if (cb && ca != cb) return 1;
        break;
    default:
        if (ca && cb && ca != cb) return 1;
    }
    return answer(order(amount_of(a), amount_of(b)), op);
}

}  // namespace

int compare_number(Cell* number, Cell* m, int op) {
    if (strict_op(op)) return 1;
    return answer(order_number(number, amount_of(m)), op);
}

namespace {

// ---------------------------------------------------------------- make, to

const Cell* from_block(Cell* spec) {
    static Cell result;
    uint32_t n = series::rs_length(spec);
    const Cell* items = reinterpret_cast<const Cell*>(series::element_at(series::buffer_of(spec), spec->data1));
    uint32_t i = 0, cur = 0;
    if (n >= 1 && is_any_word(type_of(items)) && type_of(items) != TYPE_ISSUE) {
        int index = currency_index(symbol::name_view(word::symbol_of(items)));
        if (index < 1 || index > 255) bad_make(spec);
        cur = uint32_t(index);
        i = 1;
    }
    if (i >= n || n - i > 2) bad_make(spec);
    const Cell* amount = items + i;
    Amount a;
    if (type_of(amount) == TYPE_INTEGER) {
        a = Amount(int32_t(amount->data2)) * UNIT;
        if (n - i == 2) {
            const Cell* f = items + i + 1;
            if (type_of(f) != TYPE_INTEGER || int32_t(f->data2) < 0 || int32_t(f->data2) > 99999) bad_make(spec);
            a += a < 0 ? -Amount(int32_t(f->data2)) : Amount(int32_t(f->data2));
        }
    } else if (type_of(amount) == TYPE_FLOAT && n - i == 1) {
        if (!float_amount(cell_float(amount), true, a)) bad_make(spec);
    } else {
        bad_make(spec);
    }
    result = Cell{TYPE_MONEY, 0, 0, 0};
    return store(&result, a, cur);
}

const Cell* to(Cell*, Cell* spec, int) {
    static Cell result;
    result = Cell{TYPE_MONEY, 0, 0, 0};
    int t = type_of(spec);
    switch (t) {
    case TYPE_MONEY: return spec;
    case TYPE_INTEGER: return store(&result, Amount(int32_t(spec->data2)) * UNIT, 0);
    case TYPE_FLOAT: return store(&result, from_float(cell_float(spec), true), 0);
    default: {
        if (!is_any_string(t)) bad_to(spec);
        int code = -1;
        uint32_t length = series::rs_length(spec);
        lexer::load_money_syntax(spec, spec->data1, length, code, &result);
        if (code != 0) bad_to(spec);
        return &result;
    }
    }
}

const Cell* make(Cell* proto, Cell* spec, int type) {
    static Cell result;
    int t = type_of(spec);
    if (is_any_word(t) && t != TYPE_ISSUE) {
        int index = currency_index(symbol::name_view(word::symbol_of(spec)));
        if (index < 1 || index > 255) bad_make(spec);
        result = Cell{TYPE_MONEY, 0, 0, 0};
        return store(&result, 0, uint32_t(index));
    }
    if (t == TYPE_BLOCK) return from_block(spec);
    return to(proto, spec, type);
}

// ---------------------------------------------------------------- actions

int form(Cell* value, Cell* buffer, int part) {
    char out[TEXT_MAX];
    return string::concatenate_literal(buffer, std::string_view(out, size_t(write_chars(value, false, true, out))), part);
}

int mold(Cell* value, Cell* buffer, bool, bool all, bool, int part, int) {
    char out[TEXT_MAX];
    return string::concatenate_literal(buffer, std::string_view(out, size_t(write_chars(value, all, false, out))), part);
}

void absolute() { stack::arguments->header &= ~NEGATIVE; }

void negate(Cell* value) {
    Cell v = *value;
    v.header ^= NEGATIVE;
    *stack::arguments = v;
}

bool is_odd(Cell* value) { return digit(value, INTEGER_DIGITS) % 2 == 1; }
bool is_even(Cell* value) { return !is_odd(value); }

Amount scale_amount(Cell* scale) {
    switch (type_of(scale)) {
    case TYPE_MONEY: return amount_of(scale);
    case TYPE_INTEGER: return Amount(int32_t(scale->data2)) * UNIT;
    case TYPE_FLOAT: return from_float(cell_float(scale), true);
    default: math::not_related("round", type_of(scale));
    }
}

void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    Cell v = *value;
    *stack::arguments = v;
    Amount a = amount_of(&v);
    if (a == 0) return;
    Amount s = magnitude(scale ? scale_amount(scale) : UNIT);
    if (s == 0) return;
    bool positive = a > 0;
    Amount m = magnitude(a), r = m % s;
    Amount lower = m - r, upper = m + (s - r);
    auto pick_ceiling = [&] { return positive ? upper : lower; };
    Amount out;
    if (r == 0) out = m;
    else if (down) out = lower;
    else if (floor) out = positive ? lower : upper;
    else if (ceiling) out = pick_ceiling();
    else if (2 * r != s) out = 2 * r < s ? lower : upper;
    else if (even) out = (lower / s) % 2 == 0 ? lower : upper;
    else if (half_down) out = lower;
    else if (half_ceiling) out = pick_ceiling();
    else out = upper;
    store(stack::arguments, positive ? out : -out, currency(&v));
}

int field_of(const Cell* element) {
    int t = type_of(element);
    if (t == TYPE_INTEGER) {
        int32_t i = int32_t(element->data2);
        return i == 1 || i == 2 ? i : 0;
    }
    if (!is_any_word(t) || t == TYPE_ISSUE) return 0;
    int32_t s = symbol::resolve(word::symbol_of(element));
    return s == symbol::resolve(sym::code) ? 1 : s == symbol::resolve(sym::amount) ? 2 : 0;
}

Cell get_field(const Cell* m, int field) {
    if (field == 1) {
        int32_t sym = currency(m) ? currency_symbol(currency(m)) : 0;
        return sym ? Cell{TYPE_WORD, 0, uint32_t(sym), uint32_t(-1)} : NONE_CELL;
    }
    Cell r = *m;
    r.data1 &= ~0xFFu;
    return r;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool) {
    static Cell result;
    int field = field_of(element);
    Cell p = path ? *path : NONE_CELL, e = *element;
    if (!field) raise_error(err::script_invalid_path, &p, &e);
    if (value) raise_error(err::script_bad_path_set, &p, &e);
    result = get_field(parent, field);
    return &result;
}

const Cell* pick(Cell* m, int, Cell* boxed_index) {
    static Cell result;
    int field = field_of(boxed_index);
    if (!field) {
        Cell p = NONE_CELL, e = *boxed_index;
        raise_error(err::script_invalid_path, &p, &e);
    }
    result = get_field(m, field);
    return &result;
}

int32_t random_below(int32_t n) {
    int32_t r = random_gen::random_next() % n;
    return r < 0 ? -r : r;
}

void randomize(Cell* value, bool seed, bool, bool) {
    if (seed) {
        random_gen::random_seed(int32_t(value->data1 ^ value->data2 ^ value->data3 ^ (is_negative(value) ? 1 : 0)));
        *value = UNSET_CELL;
        return;
    }
    Payload p = payload_of(value);
    int first = 1;
    while (first <= DIGITS && digit_of(p, first) == 0) first++;
    bool free = false;
    for (int i = first; i <= DIGITS; i++) {
        int d = digit_of(p, i);
        int r;
        if (free) {
            r = random_below(10);
        } else {
            for (;;) {
                r = random_below(d + 1);
                if (r < d || random_below(1000) == random_below(1000)) break;
            }
            if (r < d) free = true;
        }
        set_digit(p, i, r);
    }
    store_payload(value, p);
}

// The digits only (payload bytes 1-11): an amount without a currency equals
// the same amount in any currency, so the currency cannot take part.
uint32_t hash_cell(const Cell* c, bool) {
    Payload p = payload_of(c);
    return hash_bytes(p.bytes + 1, 11);
}

}  // namespace

void register_type() {
    Registration(TYPE_MONEY, 0, "money!")
        .hasher(hash_cell)
        .on<A_MAKE>(make)
        .on<A_RANDOM>(randomize)
        .on<A_TO>(to)
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
        .on<A_EVEN_Q>(is_even)
        .on<A_ODD_Q>(is_odd)
        .on<A_PICK>(pick)
        .commit();
}

}  // namespace vyx::money
