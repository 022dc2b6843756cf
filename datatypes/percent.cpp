#include "datatypes/percent.h"

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::percent {

void register_type() { Registration(TYPE_PERCENT, TYPE_FLOAT, "percent!").commit(); }

}  // namespace vyx::percent
