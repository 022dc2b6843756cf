// none!: the empty value. The series actions that make sense on "nothing"
// answer none.
#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/cells.h"

namespace vyx {

const Cell NONE_CELL{TYPE_NONE, 0, 0, 0};

namespace none {

Cell* push() {
    Cell* c = stack::push_slot();
    *c = NONE_CELL;
    return c;
}

Cell* box() {
    *stack::arguments = NONE_CELL;
    return stack::arguments;
}

namespace {

const Cell* make(Cell*, Cell*, int) { return &NONE_CELL; }

int form(Cell*, Cell* buffer, int part) { return string::concatenate_literal(buffer, "none", part); }

int mold(Cell*, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    return string::concatenate_literal(buffer, all ? "#(none)" : "none", part);
}

int compare(Cell*, Cell* b, int op) {
    if (type_of(b) != TYPE_NONE || !is_unordered_compare(op)) return NOT_COMPARABLE;
    return 0;
}

void clear(Cell*) { box(); }
void remove(Cell*, Cell*, Cell*) { box(); }
const Cell* find(Cell*, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    return &NONE_CELL;
}
const Cell* take(Cell*, Cell*, bool, bool) { return &NONE_CELL; }
int length(Cell*) { return -1; }

}  // namespace

void register_type() {
    Registration(TYPE_NONE, 0, "none!")
        .hasher([](const Cell*, bool) { return uint32_t(-1); })
        .on<A_MAKE>(make)
        .on<A_TO>(make)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .on<A_CLEAR>(clear)
        .on<A_FIND>(find)
        .on<A_LENGTH_Q>(length)
        .on<A_REMOVE>(remove)
        .on<A_SELECT>(find)
        .on<A_TAKE>(take)
        .commit();
}

}  // namespace none
}  // namespace vyx
