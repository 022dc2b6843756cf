// binary!: a byte series (unit 1); head index in payload word 1, node in word 2.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::binary {

// Writes an empty binary! with room for `capacity` bytes into `target`.
Cell* make_at(Cell* target, uint32_t capacity);

}  // namespace vyx::binary
