#include "boot/top_level.h"

#include "runtime/stack.h"

namespace vyx {

Cell* begin_top_level() {
    stack::reset();
    Cell* result = stack::push_slot();
    *result = Cell{TYPE_UNSET, 0, 0, 0};
    Cell* code = stack::push_slot();
    code->header = TYPE_UNSET;
    return code;
}

}  // namespace vyx
