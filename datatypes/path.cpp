#include "datatypes/path.h"

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/cycle_stack.h"
#include "runtime/raise.h"

namespace vyx::path {

namespace {

int write_items(Cell* value, Cell* buffer, bool mold, bool all, bool flat, int part, int indent) {
    Cell p = *value;
    if (mold_cycle_marker(&p, buffer, &part, mold)) return part;
    CycleGuard guard(p.data2);
    uint32_t first = p.data1;
    for (uint32_t k = first; k < series::length_from_head(&p); k++) {
        if (part <= 0) break;
        if (k != first) part = string::concatenate_literal(buffer, "/", part);
        Cell item = *blk::at(p.data2, k);
        part = mold ? block::mold_cell(&item, buffer, false, all, flat, part, indent)
                    : block::form_cell(&item, buffer, part);
    }
    return part;
}

}  // namespace

int mold_with(Cell* value, Cell* buffer, bool all, bool flat, int part, int indent, const char* prefix,
              const char* suffix) {
    if (*prefix) part = string::concatenate_literal(buffer, prefix, part);
    part = write_items(value, buffer, true, all, flat, part, indent);
    if (*suffix) part = string::concatenate_literal(buffer, suffix, part);
    return part;
}

const Cell* make(Cell* proto, Cell* spec, int type) {
    int t = type_of(spec);
    if (is_any_block(t)) return block::make(proto, spec, type);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT) {
        double d = t == TYPE_INTEGER ? double(int32_t(spec->data2)) : cell_float(spec);
        uint32_t n = !(d >= 1.0) ? 1 : d > double(blk::MAX_CELLS) ? blk::MAX_CELLS : uint32_t(d);
        return blk::make_at(stack::push_slot(), n, type);
    }
    Cell dt{TYPE_DATATYPE, uint32_t(type), 0, 0};
    raise_error(err::script_bad_make_arg, &dt, spec);
}

const Cell* to(Cell* proto, Cell* spec, int type) {
    int t = type_of(spec);
    if (t == TYPE_OBJECT || t == TYPE_TYPESET || t == TYPE_MAP) {
        Cell* slot = stack::push_slot();
        slot->header = TYPE_UNSET;
        block::make_from_value(slot, spec);
        set_cell_type(slot, type);
        return slot;
    }
    return block::to(proto, spec, type);
}

int form(Cell* value, Cell* buffer, int part) { return write_items(value, buffer, false, false, false, part, 0); }

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    return mold_with(value, buffer, all, flat, part, indent, "", "");
}

const Cell* copy(Cell* s, Cell* result, Cell* part, bool deep, Cell* types) {
    int t = type_of(s);
    block::copy(s, result, part, deep, types);
    set_cell_type(result, t);
    return result;
}

void register_type() {
    // random, sort and trim are not for paths.
    Registration(TYPE_PATH, TYPE_BLOCK, "path!")
        .on<A_MAKE>(make)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COPY>(copy)
        .inherit({A_REFLECT, A_EVAL_PATH, A_COMPARE, A_APPEND, A_AT, A_BACK, A_CHANGE, A_CLEAR, A_FIND, A_HEAD,
                  A_HEAD_Q, A_INDEX_Q, A_INSERT, A_LENGTH_Q, A_MOVE, A_NEXT, A_PICK, A_POKE, A_PUT, A_REMOVE,
                  A_REVERSE, A_SELECT, A_SKIP, A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE, A_MODIFY})
        .commit();
}

void register_kind(int type, const char* name, act::Mold mold) {
    Registration(type, TYPE_PATH, name)
        .on<A_MOLD>(mold)
        .inherit({A_MAKE, A_TO, A_FORM, A_REFLECT, A_EVAL_PATH, A_COMPARE, A_APPEND, A_AT, A_BACK, A_CHANGE,
                  A_CLEAR, A_COPY, A_FIND, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_INSERT, A_LENGTH_Q, A_MOVE, A_NEXT,
                  A_PICK, A_POKE, A_PUT, A_REMOVE, A_REVERSE, A_SELECT, A_SKIP, A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE,
                  A_MODIFY})
        .commit();
}

}  // namespace vyx::path
