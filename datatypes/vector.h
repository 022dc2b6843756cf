// vector!: a packed series of numbers of one element type and one size.
//
// Cell: head (elements) in word 1, the node of a byte series in word 2 whose
// unit is the element size (1, 2, 4 or 8 bytes), word 3 the element type:
// TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT or TYPE_PERCENT. Elements are
// little-endian machine numbers: integers signed two's complement of 8, 16 or
// 32 bits (read sign-extended), characters of the same sizes read unsigned,
// floats IEEE singles or doubles, percents doubles holding the fraction.
//
// Integer and char elements share one storage kind, float and percent the
// other; a value of the other kind is never stored into an element.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::vector {

inline int element_type(const Cell* v) { return int(v->data3); }
inline bool is_float_kind(int type) { return type == TYPE_FLOAT || type == TYPE_PERCENT; }
inline bool is_int_kind(int type) { return type == TYPE_INTEGER || type == TYPE_CHAR; }

// An integer element, sign-extended.
int32_t get_int(const uint8_t* p, uint32_t unit);
// A char element, zero-extended.
uint32_t get_char(const uint8_t* p, uint32_t unit);
// A float element as a double (4 bytes read as a single).
double get_float(const uint8_t* p, uint32_t unit);

// The element at p as a value of the element type.
void get_value(const uint8_t* p, uint32_t unit, int type, Cell* out);
// The element at index k from the buffer's start, as a value.
void element_value(const Cell* v, uint32_t k, Cell* out);
// Stores a number of the element type's storage kind (integer or char into an
// integer or char element, float or percent into a float or percent element),
// truncated to the unit or rounded to a single. Any other value raises
// script/invalid-type with its datatype.
void set_value(uint8_t* p, const Cell* value, uint32_t unit, int type);
// Raises what set_value raises for the value, storing nothing.
void check_value(const Cell* value, int type);

// Makes `target` an empty vector at index 0 with room for `count` elements.
// A size in bytes past 32 bits raises internal/no-memory.
Cell* alloc(Cell* target, uint32_t count, int type, uint32_t unit);

// A new block of one value per element from the head, into `target`.
Cell* to_block(const Cell* v, Cell* target);

// Vector-with-number arithmetic on the current call's arguments, the vector
// on either side: the vector changes in place and becomes the result. With
// the number first, subtract, divide and remainder take the number as their
// left operand.
void do_math_scalar(int op);

void register_type();

}  // namespace vyx::vector
