// map!: key/value pairs in a cell series (payload word 2) with a hash index
// over the keys (payload word 3).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::map {

// Whether values of the type may be map keys.
bool is_valid_key_type(int type);
// Turns the block held in `block` (its `count` cells from the head, keys at
// even positions) into a map! written into `target`.
Cell* make_at(const Cell* block, Cell* target, uint32_t count);
// What a cell of a block with a hash index (map!, hash!) keeps alive: the
// block (word 2) and the index (word 3).
void mark_cell(const Cell* cell);

}  // namespace vyx::map
