// percent!: a float! kept as the fraction (12.5% is 0.125).
#pragma once
#include "datatypes/float.h"

namespace vyx::percent {

inline Cell* make_at(Cell* target, double fraction) { return float_::make_kind_at(target, TYPE_PERCENT, fraction); }

}  // namespace vyx::percent
