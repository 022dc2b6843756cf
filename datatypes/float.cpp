#include "datatypes/float.h"

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::float_ {

void register_type() {
    // Only the constructor is in; the actions come with the float datatype's own work.
    Registration(TYPE_FLOAT, 0, "float!").commit();
}

}  // namespace vyx::float_
