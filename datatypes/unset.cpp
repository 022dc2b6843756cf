// unset!: the absence of a value.
#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/cells.h"

namespace vyx {

const Cell UNSET_CELL{TYPE_UNSET, 0, 0, 0};

namespace unset {

Cell* box() {
    *stack::arguments = UNSET_CELL;
    return stack::arguments;
}

namespace {

const Cell* make(Cell*, Cell*, int) { return &UNSET_CELL; }

int form(Cell*, Cell*, int part) { return part; }

int mold(Cell*, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    return string::concatenate_literal(buffer, all ? "#(unset)" : "unset", part);
}

int compare(Cell*, Cell* b, int op) {
    if (type_of(b) != TYPE_UNSET || !is_unordered_compare(op)) return NOT_COMPARABLE;
    return 0;
}

}  // namespace

void register_type() {
    Registration(TYPE_UNSET, 0, "unset!")
        .hasher([](const Cell*, bool) { return uint32_t(-2); })
        .on<A_MAKE>(make)
        .on<A_TO>(make)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .commit();
}

}  // namespace unset
}  // namespace vyx
