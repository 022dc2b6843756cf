#include "datatypes/point2d.h"

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::point2d {

void register_type() { Registration(TYPE_POINT2D, 0, "point2D!").hasher(hash_payload_bytes<1, 8>).commit(); }

}  // namespace vyx::point2d
