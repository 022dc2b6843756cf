#include "datatypes/point2d.h"

#include "datatypes/types.h"
#include "runtime/stack.h"

namespace vyx::point3d {

Cell* push(float x, float y, float z) {
    Cell* c = stack::push_slot();
    *c = Cell{TYPE_POINT3D, 0, 0, 0};
    return make_at(c, x, y, z);
}

void register_type() { coords::register_row<3>(TYPE_POINT3D, "point3D!"); }

}  // namespace vyx::point3d
