#include "datatypes/point3d.h"

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::point3d {

void register_type() { Registration(TYPE_POINT3D, 0, "point3D!").hasher(hash_payload_bytes<1, 12>).commit(); }

}  // namespace vyx::point3d
