// action!: the generic actions as values; their entries dispatch on the type
// of the first argument.
#include "datatypes/function.h"
#include "datatypes/registry.h"
#include "runtime/cells.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::action {

namespace {
const Cell* make(Cell*, Cell* spec, int) {
    Cell dt{TYPE_DATATYPE, TYPE_ACTION, 0, 0};
    if (type_of(spec) != TYPE_BLOCK || blk::length(spec) != 2) raise_error(err::script_bad_make_arg, &dt, spec);
    Cell s = *blk::at(spec->data2, spec->data1);
    Cell n = *blk::at(spec->data2, spec->data1 + 1);
    if (type_of(&s) != TYPE_BLOCK || type_of(&n) != TYPE_INTEGER || int32_t(n.data2) < 1 || n.data2 > ACTION_COUNT)
        raise_error(err::script_bad_make_arg, &dt, spec);
    Cell* slot = stack::push_slot();
    *slot = Cell{TYPE_UNSET, 0, 0, 0};
    return native::make_at(slot, &s, n.data2, TYPE_ACTION);
}
}  // namespace

void register_type() {
    Registration(TYPE_ACTION, TYPE_NATIVE, "action!")
        .on<A_MAKE>(make)
        .inherit(A_REFLECT)
        .on<A_FORM>(native::form)
        .on<A_MOLD>(native::mold)
        .on<A_COMPARE>(native::compare)
        .commit();
}

}  // namespace vyx::action
