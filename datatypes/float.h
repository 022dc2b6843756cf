// float!: an IEEE double in payload words 2 and 3 (low word first). percent!
// and time! keep their value in the same place and share this arithmetic,
// comparison, rounding and text.
//
// Floating-point exceptions stay masked: overflow and division by zero give
// infinities and NaN, which flow through arithmetic and have their own text
// forms ("1.#INF", "-1.#INF", "1.#NaN").
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/cell.h"

namespace vyx::float_ {

// Writes a value of one of the kinds kept as a double (float!, percent!,
// time!) into `target`, keeping its header flags.
inline Cell* make_kind_at(Cell* target, int type, double value) {
    set_cell_type(target, type);
    target->data1 = 0;
    set_cell_float(target, value);
    return target;
}
// Writes a float! holding `value` into `target`, keeping its header flags.
inline Cell* make_at(Cell* target, double value) { return make_kind_at(target, TYPE_FLOAT, value); }
// Writes a float! into the current call's result slot.
Cell* box(double value);
inline double get(const Cell* c) { return cell_float(c); }

inline uint64_t bits_of(double d) {
    uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}
inline double from_bits(uint64_t b) {
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

constexpr double EPSILON = 2.220446049250313e-16;
extern const double POSITIVE_INFINITY, NEGATIVE_INFINITY, QUIET_NAN, MAX_FINITE;

// The process-wide float option. Forming reads it through pretty_print(),
// so the change handler of the float options object only has to call
// set_pretty_print. Pretty printing starts on.
bool pretty_print();
void set_pretty_print(bool pretty);

double abs(double d);
// NaN or an infinity: all exponent bits set.
bool is_special(const Cell* c);
bool is_not_finite(double d);
bool is_nan32(float f);
// Near-equality: NaN never equal, an infinity only to the same infinity;
// otherwise an absolute epsilon, then at most 10 units in the last place apart.
bool is_equal(double a, double b);
// The same for single precision (the point types).
bool float32_equal(float a, float b);
// The first at most 8 bytes of a binary! from its head, big-endian, as the
// bits of a double.
double from_binary(const Cell* bin);

// Kinds of form_double.
enum FormKind : int {
    FORM_FLOAT32 = 0, FORM_FLOAT = 1, FORM_PERCENT32 = 2, FORM_PERCENT = 3, FORM_TIME = 4, FORM_SHORT = 5,
};
constexpr int FORM_DOUBLE_MAX = 64;
// The form text of a number for the kind into `out` (FORM_DOUBLE_MAX bytes,
// NUL included); answers its length. The percent kinds take the value
// already multiplied by 100 and append "%".
int form_double(double d, int kind, char* out);
std::string form_double(double d, int kind);

// The math core on raw doubles (OP_ADD .. OP_REM); other codes raise
// script/cannot-use.
double do_math_op(double a, double b, int op);
// The binary math handler behind add ... remainder, also reached from
// integer math: operands at stack::arguments, result in the first.
void do_math(int op);

// Handlers other datatypes call directly.
int compare(Cell* a, Cell* b, int op);
// The order of sorting, total over every double: -1, 0 or 1.
int sort_order(double x, double y);
void round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling);
const Cell* to(Cell* proto, Cell* spec, int type);
void absolute();
void negate(Cell* value);
void power();
bool is_even(Cell* value);
bool is_odd(Cell* value);

void register_type();

}  // namespace vyx::float_
