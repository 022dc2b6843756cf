// Datatypes whose handlers are not built yet. Each registers its name and
// parent so that type ids, names and inheritance are in place; its row stays
// unsupported until the datatype gets a source of its own and moves there.
#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx {

#define VYX_PENDING_TYPE(ns, id, parent, name) \
    namespace ns {                            \
    void register_type() { Registration(id, parent, name).commit(); } \
    }

VYX_PENDING_TYPE(url, TYPE_URL, TYPE_STRING, "url!")
VYX_PENDING_TYPE(file, TYPE_FILE, TYPE_URL, "file!")
VYX_PENDING_TYPE(triple, TYPE_TRIPLE, 0, "triple!")
VYX_PENDING_TYPE(vector, TYPE_VECTOR, TYPE_STRING, "vector!")
VYX_PENDING_TYPE(hash, TYPE_HASH, TYPE_BLOCK, "hash!")
VYX_PENDING_TYPE(tag, TYPE_TAG, TYPE_STRING, "tag!")
VYX_PENDING_TYPE(email, TYPE_EMAIL, TYPE_STRING, "email!")
VYX_PENDING_TYPE(handle, TYPE_HANDLE, TYPE_INTEGER, "handle!")
VYX_PENDING_TYPE(port, TYPE_PORT, TYPE_OBJECT, "port!")
VYX_PENDING_TYPE(ref, TYPE_REF, TYPE_STRING, "ref!")
VYX_PENDING_TYPE(image, TYPE_IMAGE, TYPE_SERIES, "image!")

}  // namespace vyx
