#include "datatypes/tuple.h"

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::tuple {

void register_type() { Registration(TYPE_TUPLE, 0, "tuple!").commit(); }

}  // namespace vyx::tuple
