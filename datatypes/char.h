// char!: one Unicode code point (0 to 0x10FFFF) in the integer! cell layout.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::char_ {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;

// Char math: the result stays a char! in the code point range, or raises
// math/overflow.
void do_math(int op);

int form(Cell* value, Cell* buffer, int part);
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent);
int compare(Cell* a, Cell* b, int op);

void register_type();

}  // namespace vyx::char_
