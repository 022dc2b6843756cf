// Small operations on value cells used on every evaluation step, and the
// literal table that the boot loader fills.
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

}  // namespace vyx
