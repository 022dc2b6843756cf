// bitset!: a set of non-negative integers, above all a character class.
//
// Cell: payload word 2 is the node of a byte series (unit 1); words 1 and 3
// are unused. Bit n lives in byte n >> 3 as the mask 0x80 >> (n & 7), so the
// most significant bit of byte 0 is bit 0; the used length in bytes times 8
// is the bitset's length. The series flag COMPLEMENTED says what every bit
// beyond the used length is: set with it, clear without. The stored bytes
// always hold the true membership of every bit inside the used length.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::bitset {

inline bool is_complemented(const Cell* bs) {
    return node_buffer(bs->data2)->flags & series_flag::COMPLEMENTED;
}
// Bytes in use.
inline uint32_t used_bytes(const Cell* bs) {
    SeriesBuffer* b = node_buffer(bs->data2);
    return b->tail - b->offset;
}
// Whether n is a member of the bitset whose buffer is b (a loop over many
// values reads the buffer once).
inline bool buffer_has_bit(const SeriesBuffer* b, uint32_t n) {
    if ((n >> 3) >= b->tail - b->offset) return b->flags & series_flag::COMPLEMENTED;
    return (b->read_head()[n >> 3] & (0x80 >> (n & 7))) != 0;
}
// Whether n is a member.
inline bool test_bit(const Cell* bs, uint32_t n) { return buffer_has_bit(node_buffer(bs->data2), n); }

// The set-operation worker: op 5 or~, 6 and~, 7 xor~, 8 unique, 9 union,
// 10 intersect, 11 exclude, 12 difference, on the two bitsets at the current
// call's arguments; the result goes into the result slot.
void do_set_op(int op);

// A new bitset from a spec (make: kind 0, to: kind 1), pushed on the stack.
const Cell* make_from_spec(const Cell* spec, int kind);

}  // namespace vyx::bitset
