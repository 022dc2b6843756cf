// percent!: a float! kept as the fraction (12.5% is 0.125). It takes all its
// arithmetic, conversion, comparison and rounding from float! and adds only
// its text form.
#pragma once
#include "datatypes/float.h"

namespace vyx::percent {

inline Cell* make_at(Cell* target, double fraction) { return float_::make_kind_at(target, TYPE_PERCENT, fraction); }

void register_type();

}  // namespace vyx::percent
