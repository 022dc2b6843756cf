// get-path!: a path! that molds with ":" in front.
#include "datatypes/path.h"
#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::get_path {

namespace {

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    return path::mold_with(value, buffer, all, flat, part, indent, ":", "");
}

}  // namespace

void register_type() {
    Registration(TYPE_GET_PATH, TYPE_PATH, "get-path!")
        .on(A_MOLD, act::Mold(mold))
        .inherit({A_MAKE, A_TO, A_FORM, A_REFLECT, A_EVAL_PATH, A_COMPARE, A_APPEND, A_AT, A_BACK, A_CHANGE,
                  A_CLEAR, A_COPY, A_FIND, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_INSERT, A_LENGTH_Q, A_MOVE, A_NEXT,
                  A_PICK, A_POKE, A_PUT, A_REMOVE, A_REVERSE, A_SELECT, A_SKIP, A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE,
                  A_MODIFY})
        .commit();
}

}  // namespace vyx::get_path
