#include "evaluator/stack.h"

#include "runtime/memory.h"
#include "runtime/raise.h"

namespace vyx::stack {

Cell* bottom = nullptr;
Cell* top = nullptr;
Cell* arguments = nullptr;
Cell* limit = nullptr;

void init() {
    Node n = new_series_outside_gc(VALUE_STACK_CELLS, 16, 0);
    SeriesBuffer* b = node_buffer(n);
    bottom = top = arguments = reinterpret_cast<Cell*>(b->data());
    limit = reinterpret_cast<Cell*>(b->data() + b->size);
    *bottom = Cell{TYPE_UNSET, 0, 0, 0};
}

Cell* push_slot() {
    Cell* cell = top++;
    if (top >= limit) {
        // Leave a few cells of room for the error's own work.
        top -= 5;
        raise_error(err::internal_stack_overflow);
    }
    return cell;
}

Cell* push(const Cell* cell) {
    Cell* slot = push_slot();
    *slot = *cell;
    return slot;
}

}  // namespace vyx::stack
