#include "datatypes/time.h"

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::time {

void register_type() { Registration(TYPE_TIME, TYPE_FLOAT, "time!").commit(); }

}  // namespace vyx::time
