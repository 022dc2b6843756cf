#include "datatypes/point2d.h"

#include "datatypes/types.h"
#include "runtime/stack.h"

namespace vyx::point3d {

void register_type() { coords::register_row<3>(TYPE_POINT3D, "point3D!"); }

}  // namespace vyx::point3d
