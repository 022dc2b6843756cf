// Small operations on value cells and blocks used on every evaluation step,
// by every layer above this one.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx {

// Appends one cell, typed unset!, at the block's tail (growing a full buffer to
// twice its size) and returns it. Payload words are left as they were.
inline Cell* append_cell(Cell* block) {
    SeriesBuffer* b = node_buffer(block->data2);
    return append_cell_to_buffer(b);
}

// Block access by position: the cell-level helpers every layer uses. The
// actions on blocks (copy, find, insert ...) are block!'s, in datatypes/.
namespace blk {
// The most cells a block holds: its buffer's byte size stays within 32 bits.
constexpr uint32_t MAX_CELLS = 0x0FFFFFF0;

// Cells from the block's head to its tail.
inline uint32_t length(const Cell* b) {
    SeriesBuffer* s = node_buffer(b->data2);
    uint32_t n = (s->tail - s->offset) >> 4;
    return b->data1 < n ? n - b->data1 : 0;
}
// Cell i counted from the buffer's head (not from the value's index): only
// good until the next allocation.
inline Cell* at(Node n, uint32_t i) { return node_buffer(n)->cell_head() + i; }
// Cells in the buffer from its head.
inline uint32_t size(Node n) {
    SeriesBuffer* s = node_buffer(n);
    return (s->tail - s->offset) >> 4;
}
// The cell at the value's index, the index first clamped to the tail.
inline Cell* head(Cell* b) {
    uint32_t n = size(b->data2);
    if (b->data1 > n) b->data1 = n;
    return at(b->data2, b->data1);
}
// Cuts the buffer to n cells from its head (never lengthens it).
inline void set_length(Cell* b, uint32_t n) {
    SeriesBuffer* s = node_buffer(b->data2);
    if (n > (s->tail - s->offset) >> 4) return;
    s->tail = s->offset + (n << 4);
}
// A new empty block! (or another cell series type) written into `target`,
// with room for `capacity` cells (at least one). The target reads unset!
// while the buffer is allocated, so a collection then never sees what it held.
inline Cell* make_at(Cell* target, uint32_t capacity, int type = TYPE_BLOCK) {
    target->header = TYPE_UNSET;
    Node node = new_cell_series(capacity ? capacity : 1);
    *target = Cell{uint32_t(type), 0, node, 0};
    return target;
}
// Appends a copy of the cell (the source may live in the block's buffer: it
// is copied before the buffer can move).
inline Cell* append(Cell* block, const Cell* value) {
    Cell copy = *value;
    Cell* slot = append_cell(block);
    *slot = copy;
    return slot;
}
}  // namespace blk

}  // namespace vyx
