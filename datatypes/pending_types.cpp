// Datatypes whose handlers are not built yet. Each registers its name and
// parent so that type ids, names and inheritance are in place; its row stays
// unsupported until the datatype gets a source of its own and moves there.
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx {

// The row's services (marker, hasher) follow the name when the parent's do not fit.
#define VYX_PENDING_TYPE(ns, id, parent, name, ...)                          \
    namespace ns {                                                           \
    void register_type() { Registration(id, parent, name) __VA_ARGS__.commit(); } \
    }


}  // namespace vyx
