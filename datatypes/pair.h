// pair!: two signed 32-bit integers, x in payload word 2 and y in word 3.
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

}  // namespace vyx::pair
