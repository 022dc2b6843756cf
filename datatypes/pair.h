// pair!: two signed 32-bit integers, x in payload word 2 and y in word 3.
//
// Pair arithmetic is exact while the result stays integral and in range;
// when it cannot (a float factor, an inexact quotient, an overflow, a
// point2D! operand) the result becomes a point2D! instead of an error.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::pair {

inline Cell* make_at(Cell* target, int32_t x, int32_t y) {
    set_cell_type(target, TYPE_PAIR);
    target->data1 = 0;
    target->data2 = uint32_t(x);
    target->data3 = uint32_t(y);
    return target;
}
inline int32_t x(const Cell* c) { return int32_t(c->data2); }
inline int32_t y(const Cell* c) { return int32_t(c->data3); }

// A coordinate from an integer!, or a float! truncated toward zero; a float
// whose truncation leaves 32 bits (NaN and the infinities too) raises
// script/out-of-range with it.
int32_t coordinate_of(const Cell* number);
// Turns the argument cell i of the current call into a point2D!.
void to_point2d(int i);
// Arithmetic on the two argument cells at stack::arguments.
void do_math(int op);

void register_type();

}  // namespace vyx::pair
