// tag!: a string written between "<" and ">". It stores its text as a string
// does and takes every series action from string!, but no arithmetic, sort,
// trim or port action; its text form keeps the brackets.
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/types.h"

namespace vyx::tag {

namespace {

int form(Cell* value, Cell* buffer, int part) {
    part = string::concatenate_literal(buffer, "<", part);
    part = string::form(value, buffer, part);
    string::concatenate_literal(buffer, ">", part);
    return part - 1;
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) { return form(value, buffer, part); }

}  // namespace

void register_type() {
    Registration(TYPE_TAG, TYPE_STRING, "tag!")
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .inherit({A_MAKE, A_REFLECT, A_TO, A_EVAL_PATH, A_COMPARE, A_APPEND, A_PUT, A_AT, A_BACK, A_CHANGE, A_CLEAR,
                  A_COPY, A_FIND, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_INSERT, A_LENGTH_Q, A_MOVE, A_NEXT, A_PICK, A_POKE,
                  A_REMOVE, A_REVERSE, A_SELECT, A_SKIP, A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE, A_MODIFY})
        .commit();
}

}  // namespace vyx::tag
