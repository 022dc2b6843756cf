// time!: seconds as a double in payload words 2 and 3 (any finite value).
#pragma once
#include "datatypes/float.h"

namespace vyx::time {

inline Cell* make_at(double seconds, Cell* target) { return float_::make_kind_at(target, TYPE_TIME, seconds); }

}  // namespace vyx::time
