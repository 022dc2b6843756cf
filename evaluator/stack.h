// The evaluation stack: one stack of 16-byte cells shared by the interpreter,
// natives, actions and functions. The current call's arguments start at
// `arguments`; its first cell is also the result slot. The stack's buffer lives
// outside the collected frames, so addresses of its cells stay valid.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::stack {

constexpr uint32_t VALUE_STACK_CELLS = 20000;

extern Cell* bottom;
extern Cell* top;        // next free cell
extern Cell* arguments;  // base of the current call; cell 0 is the result slot
extern Cell* limit;

void init();
// Reserves one cell at the top and returns it (content left as it is).
Cell* push_slot();
// Copies a cell onto the top.
Cell* push(const Cell* cell);
inline Cell* result() { return arguments; }
// Copies the cell into the result slot.
inline void set_last(const Cell* cell) { copy_cell(cell, arguments); }

}  // namespace vyx::stack
