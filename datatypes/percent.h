// percent!: a float! kept as the fraction (12.5% is 0.125).
#pragma once
#include "runtime/cell.h"

namespace vyx::percent {

inline Cell* make_at(Cell* target, double fraction) {
    set_cell_type(target, TYPE_PERCENT);
    target->data1 = 0;
    set_cell_float(target, fraction);
    return target;
}

}  // namespace vyx::percent
