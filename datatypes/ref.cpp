// ref!: a reference written after a leading "@". A string in storage and in
// its series actions, but it cannot be appended to or put into, nor reached
// by path; it forms as its bare text and molds with the "@".
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/types.h"

namespace vyx::ref {

namespace {

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) {
    part = string::concatenate_literal(buffer, "@", part);
    return string::form(value, buffer, part);
}

}  // namespace

void register_type() {
    Registration(TYPE_REF, TYPE_STRING, "ref!")
        .on<A_MOLD>(mold)
        .inherit({A_MAKE, A_REFLECT, A_TO, A_FORM, A_COMPARE, A_AT, A_BACK, A_CHANGE, A_CLEAR, A_COPY, A_FIND,
                  A_HEAD, A_HEAD_Q, A_INDEX_Q, A_INSERT, A_LENGTH_Q, A_MOVE, A_NEXT, A_PICK, A_POKE, A_REMOVE,
                  A_REVERSE, A_SELECT, A_SKIP, A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE, A_MODIFY})
        .commit();
}

}  // namespace vyx::ref
