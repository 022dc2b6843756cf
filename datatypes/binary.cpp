#include "datatypes/binary.h"

#include "datatypes/registry.h"
#include "datatypes/types.h"
#include "runtime/memory.h"

namespace vyx::binary {

Cell* make_at(Cell* target, uint32_t capacity) {
    Node n = new_byte_series(capacity);
    target->header = (target->header & ~TYPE_MASK) | TYPE_BINARY;
    target->data1 = 0;
    target->data2 = n;
    target->data3 = 0;
    return target;
}

void register_type() { Registration(TYPE_BINARY, TYPE_STRING, "binary!").commit(); }

}  // namespace vyx::binary
