#include "datatypes/time.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "datatypes/date.h"
#include "datatypes/math_dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/simple.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/raise.h"

namespace vyx::time {

int32_t get_hours(double s) { return int32_t(std::trunc(s / 3600.0)); }
int32_t get_minutes(double s) { return int32_t(std::floor(std::fmod(std::fabs(s), 3600.0) / 60.0)); }
double get_seconds(double s) { return std::fmod(s, 60.0); }

Cell get_field(double s, int field) {
    Cell c{TYPE_INTEGER, 0, 0, 0};
    // The hour and minute are integer! values: a time too long for them (or an
    // infinite or NaN one, from float arithmetic) has no such fields.
    if ((field == 1 && !(std::fabs(s / 3600.0) < 2147483648.0)) || (field == 2 && !std::isfinite(s))) {
        Cell dt{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
        raise_error(err::script_type_limit, &dt);
    }
    switch (field) {
    case 1: c.data2 = uint32_t(get_hours(s)); break;
    case 2: c.data2 = uint32_t(get_minutes(s)); break;
    default: float_::make_at(&c, get_seconds(s)); break;
    }
    return c;
}

double set_field(double s, int field, const Cell* value) {
    int vt = type_of(value);
    if (vt != TYPE_INTEGER && !(field == 3 && vt == TYPE_FLOAT)) {
        Cell v = *value;
        raise_error(err::script_invalid_arg, &v);
    }
    double v = vt == TYPE_INTEGER ? double(int32_t(value->data2)) : cell_float(value);
    bool negative = s < 0;
    double a = std::fabs(s);
    double hours = std::floor(a / 3600.0), minutes = std::floor(std::fmod(a, 3600.0) / 60.0);
    double seconds = std::fmod(a, 60.0);
    switch (field) {
    case 1:
        hours = std::fabs(v);
        if (v != 0) negative = v < 0;
        break;
    case 2: minutes = v; break;
    default:
        // A negative time reads a negative second: setting one mirrors that.
        seconds = negative && v < 0 ? -v : v;
        break;
    }
    double r = hours * 3600.0 + minutes * 60.0 + seconds;
    return negative ? -r : r;
}

int field_of(const Cell* element) {
    int t = type_of(element);
    if (t == TYPE_INTEGER) {
        int32_t i = int32_t(element->data2);
        return i >= 1 && i <= 3 ? i : 0;
    }
    if (!is_any_word(t) || t == TYPE_ISSUE) return 0;
    const int32_t names[3] = {sym::hour, sym::minute, sym::second};
    int32_t s = symbol::resolve(word::symbol_of(element));
    for (int i = 0; i < 3; i++)
        if (symbol::resolve(names[i]) == s) return i + 1;
    return 0;
}

int write_chars(double s, char* out) {
    // Float arithmetic can make infinite and NaN times: they are written as
    // the float's own texts, having no hours, minutes or seconds.
    if (!std::isfinite(s)) return float_::form_double(s, float_::FORM_FLOAT, out);
    int n = 0;
    if (s < 0) {
        out[n++] = '-';
        s = -s;
    }
    double hours = std::floor(s / 3600.0);
    int minutes = int(std::floor(std::fmod(s, 3600.0) / 60.0));
    double r = std::fmod(s, 60.0);
    char seconds[float_::FORM_DOUBLE_MAX + 1] = "00";
    int sn = 2;
    if (r == std::floor(r)) {
        // Whole seconds (the usual case) need no float text.
        seconds[0] = char('0' + int(r) / 10);
        seconds[1] = char('0' + int(r) % 10);
    } else if (r >= 0.000001) {
        sn = float_::form_double(r, float_::FORM_TIME, seconds + 1);
        // Six significant digits may round the seconds up to a whole minute.
        if (r >= 59.9999 && std::strtod(seconds + 1, nullptr) >= 60.0) {
            seconds[0] = seconds[1] = '0';
            sn = 2;
            if (++minutes == 60) {
                minutes = 0;
                hours++;
            }
        } else if (sn == 1 || seconds[2] == '.') {
            seconds[0] = '0';
            sn++;
        } else {
            std::memmove(seconds, seconds + 1, size_t(sn));
        }
    }
    if (hours < 1e15) {
        auto [end, ec] = std::to_chars(out + n, out + 40, int64_t(hours));
        n = int(end - out);
    } else {
        n += std::snprintf(out + n, 320, "%.0f", hours);
    }
    out[n++] = ':';
    out[n++] = char('0' + minutes / 10);
    out[n++] = char('0' + minutes % 10);
    out[n++] = ':';
    std::memcpy(out + n, seconds, size_t(sn));
    return n + sn;
}

int write_text(double s, Cell* buffer, int part) {
    char out[TEXT_MAX];
    return string::concatenate_literal(buffer, std::string_view(out, size_t(write_chars(s, out))), part);
}

namespace {

Cell datatype_of(int type) { return Cell{TYPE_DATATYPE, uint32_t(type), 0, 0}; }

[[noreturn]] void bad_to(const Cell* spec) {
    Cell dt = datatype_of(TYPE_TIME), s = *spec;
    raise_error(err::script_bad_to_arg, &dt, &s);
}

double from_block(const Cell* spec) {
    uint32_t n = series::rs_length(spec);
    if (n > 3) bad_to(spec);
    const Cell* items = reinterpret_cast<const Cell*>(series::element_at(series::buffer_of(spec), spec->data1));
    double total = 0;
    bool negative = false;
    static const double units[3] = {3600.0, 60.0, 1.0};
    for (uint32_t i = 0; i < n; i++) {
        const Cell* e = items + i;
        double v;
        if (type_of(e) == TYPE_INTEGER) v = double(int32_t(e->data2));
        else if (i == 2 && type_of(e) == TYPE_FLOAT) v = cell_float(e);
        else bad_to(spec);
        if (v < 0) {
            if (i > 0) bad_to(spec);
            negative = true;
            v = -v;
        }
        total += v * units[i];
    }
    return negative ? -total : total;
}

const Cell* make(Cell*, Cell* spec, int) {
    static Cell result;
    int t = type_of(spec);
    double s;
    switch (t) {
    case TYPE_TIME: return spec;
    case TYPE_INTEGER: s = double(int32_t(spec->data2)); break;
    case TYPE_FLOAT: case TYPE_PERCENT: s = cell_float(spec); break;
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: s = from_block(spec); break;
    default: {
        if (!is_any_string(t)) bad_to(spec);
        Cell original = *spec;
        const Cell* v = helpers::load_value_from_string(spec);
        if (v == &helpers::FAILURE_CELL || type_of(v) != TYPE_TIME) bad_to(&original);
        s = cell_float(v);
    }
    }
    result = Cell{TYPE_TIME, 0, 0, 0};
    set_cell_float(&result, s);
    return &result;
}

int form(Cell* value, Cell* buffer, int part) { return write_text(cell_float(value), buffer, part); }
int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) { return form(value, buffer, part); }

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool) {
    static Cell result;
    int field = field_of(element);
    if (!field) {
        Cell p = path ? *path : NONE_CELL, e = *element;
        raise_error(err::script_invalid_path, &p, &e);
    }
    if (!value) {
        result = get_field(cell_float(parent), field);
        return &result;
    }
    set_cell_float(parent, set_field(cell_float(parent), field, value));
    return value;
}

const Cell* pick(Cell* t, int index, Cell* boxed_index) {
    static Cell result;
    int field = field_of(boxed_index);
    if (!field) {
        Cell i = *boxed_index;
        if (type_of(&i) == TYPE_INTEGER) raise_error(err::script_out_of_range, &i);
        Cell v = *t;
        raise_error(err::script_cannot_use, &i, &v);
    }
    (void)index;
    result = get_field(cell_float(t), field);
    return &result;
}

void add() {
    if (type_of(stack::arguments + 1) == TYPE_DATE) {
        // time + date is the date moved on by the time.
        math::swap_arguments();
        math::run_stack_handler(TYPE_DATE, A_ADD);
        return;
    }
    float_::do_math(OP_ADD);
}

void subtract() {
    if (type_of(stack::arguments + 1) == TYPE_DATE) math::not_related("subtract", TYPE_TIME);
    float_::do_math(OP_SUB);
}

void multiply() {
    if (type_of(stack::arguments + 1) == TYPE_TIME) math::not_related("multiply", TYPE_TIME);
    float_::do_math(OP_MUL);
}

void divide() {
    bool by_time = type_of(stack::arguments + 1) == TYPE_TIME;
    float_::do_math(OP_DIV);
    if (by_time) set_cell_type(stack::arguments, TYPE_FLOAT);
}

void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    if (scale && type_of(scale) == TYPE_MONEY) math::not_related("round", TYPE_MONEY);
    float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    Cell* out = stack::arguments;
    double s = type_of(out) == TYPE_INTEGER ? double(int32_t(out->data2)) : cell_float(out);
    make_at(s, out);
}

// The parity of the whole seconds of the minute, nudged by a microsecond
// away from zero.
int parity(const Cell* value) {
    double s = cell_float(value);
    if (!std::isfinite(s)) return -1;  // no whole seconds: neither even nor odd
    s += s >= 0 ? 0.000001 : -0.000001;
    double k = std::trunc(std::fmod(s, 60.0));
    return int(std::fabs(std::fmod(k, 2.0)));
}
bool is_even(Cell* value) { return parity(value) == 0; }
bool is_odd(Cell* value) { return parity(value) == 1; }

}  // namespace

void register_type() {
    Registration(TYPE_TIME, TYPE_FLOAT, "time!")
        .inherit({A_RANDOM, A_COMPARE, A_ABSOLUTE, A_NEGATE, A_REMAINDER})
        .on<A_MAKE>(make)
        .on<A_TO>(make)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_ADD>(add)
        .on<A_DIVIDE>(divide)
        .on<A_MULTIPLY>(multiply)
        .on<A_ROUND>(round)
        .on<A_SUBTRACT>(subtract)
        .on<A_EVEN_Q>(is_even)
        .on<A_ODD_Q>(is_odd)
        .on<A_PICK>(pick)
        .commit();
}

}  // namespace vyx::time
