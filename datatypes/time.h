// time!: seconds as a double in payload words 2 and 3 (any finite value).
#pragma once
#include "runtime/cell.h"

namespace vyx::time {

inline Cell* make_at(double seconds, Cell* target) {
    set_cell_type(target, TYPE_TIME);
    target->data1 = 0;
    set_cell_float(target, seconds);
    return target;
}

}  // namespace vyx::time
