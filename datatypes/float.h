// float!: an IEEE double in payload words 2 and 3.
#pragma once
#include "runtime/cell.h"

namespace vyx::float_ {

// Writes a float! holding `value` into `target`, keeping its header flags.
inline Cell* make_at(Cell* target, double value) {
    set_cell_type(target, TYPE_FLOAT);
    target->data1 = 0;
    set_cell_float(target, value);
    return target;
}

}  // namespace vyx::float_
