// integer!: the 32-bit signed integer. Its cell (value in payload word 2) and
// arithmetic core are shared with char!, which inherits from it.
//
// Exact arithmetic never wraps: add, subtract, multiply and inexact divide
// give a float! when the exact result does not fit; what a float cannot stand
// for (negating the minimum, dividing it by -1) raises math/overflow.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::integer {

Cell* make_at(Cell* target, int32_t value);
Cell* box(int32_t value);
inline int32_t get(const Cell* c) { return int32_t(c->data2); }

int32_t sign_of(int32_t value);
// Raises math/overflow for the minimum value.
int32_t abs(int32_t value);
// Above 2147483647.0, below -2147483648.0, NaN or infinite.
bool is_float_out_of_range(double d);
// The first at most 4 bytes from a binary!'s head, big-endian.
int32_t from_binary(const Cell* bin);
// Decimal text into `out` (room for 12 bytes); answers its length.
int form_decimal(int32_t value, char* out);

// The arithmetic core. With a result cell, an overflow (or an inexact divide)
// turns the cell into the float! result; the answer is then meaningless.
// Divide without a result cell always answers the truncated quotient.
int32_t do_math_op(int32_t a, int32_t b, int op, Cell* result);
// The binary math handler behind add ... xor~: operands at stack::arguments.
void do_math(int op);

// Handlers char! takes over.
void absolute();
bool is_even(Cell* value);
bool is_odd(Cell* value);
int compare(Cell* a, Cell* b, int op);

void register_type();

}  // namespace vyx::integer
