// paren!: a block that evaluates when met; molds between parentheses.
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::paren {

namespace {

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    return block::mold_items(value, buffer, only, all, flat, part, indent, "(", ")");
}

}  // namespace

void register_type() {
    Registration(TYPE_PAREN, TYPE_BLOCK, "paren!")
        .on<A_MOLD>(mold)
        .inherit({A_MAKE, A_RANDOM, A_REFLECT, A_TO, A_FORM, A_EVAL_PATH, A_COMPARE, A_APPEND, A_AT, A_BACK,
                  A_CHANGE, A_CLEAR, A_COPY, A_FIND, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_INSERT, A_LENGTH_Q, A_MOVE,
                  A_NEXT, A_PICK, A_POKE, A_PUT, A_REMOVE, A_REVERSE, A_SELECT, A_SORT, A_SKIP, A_SWAP, A_TAIL,
                  A_TAIL_Q, A_TAKE, A_TRIM, A_MODIFY})
        .commit();
}

}  // namespace vyx::paren
