// op!: an infix operator made from any two-argument native, action, function
// or routine. The cell keeps the source's payload and its type id in header
// bits 16-23; the interpreter retypes a copy to call it.
#include "datatypes/function.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/cells.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::op {

void check_spec(const Cell* spec) {
    int args = 0;
    bool plain_seen = false;
    int32_t local = symbol::resolve(int32_t(refinements::local.data2));
    int32_t ext = symbol::resolve(int32_t(refinements::extern_.data2));
    uint32_t n = blk::size(spec->data2);
    for (uint32_t i = spec->data1; i < n; i++) {
        const Cell* c = blk::at(spec->data2, i);
        int t = type_of(c);
        if (t == TYPE_SET_WORD) break;
        if (t == TYPE_REFINEMENT) {
            int32_t s = symbol::resolve(int32_t(c->data2));
            if (s == local || s == ext) break;
            args = -1;
            break;
        }
        if (t == TYPE_WORD) {
            plain_seen = true;
            args++;
        } else if (t == TYPE_LIT_WORD || t == TYPE_GET_WORD) {
            if (!plain_seen) {
                args = -1;
                break;
            }
            args++;
        }
    }
    if (args != 2) raise_error(err::script_bad_op_spec);
}

namespace {

const Cell* make(Cell*, Cell* spec, int) {
    int t = type_of(spec);
    if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
        Cell dt{TYPE_DATATYPE, uint32_t(t), 0, 0};
        raise_error(err::script_invalid_type, &dt);
    }
    Cell source = *spec;
    Cell s{TYPE_BLOCK, 0, source.data2, 0};
    check_spec(&s);
    if (t == TYPE_FUNCTION || t == TYPE_ROUTINE) function::more(&source)[function::MORE_OP_SOURCE] = source;
    Cell* slot = stack::push_slot();
    *slot = Cell{header_for(t), source.data1, source.data2, source.data3};
    return slot;
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    part = string::concatenate_literal(buffer, "make op! ", part);
    if (source_type(value) == TYPE_FUNCTION) {
        part = string::concatenate_literal(buffer, "func ", part);
        part = native::mold_spec(value, buffer, all, flat, part, indent);
        Cell body = function::more(value)[function::MORE_BODY];
        if (type_of(&body) == TYPE_BLOCK) part = function::mold_block(&body, buffer, all, flat, part, indent);
        return part;
    }
    part = string::concatenate_literal(buffer, "[", part);
    part = native::mold_spec(value, buffer, all, flat, part, indent);
    return string::concatenate_literal(buffer, "]", part);
}

}  // namespace

namespace {

// The source's payload: spec and record, and a function's context.
void mark_cell(const Cell* c) {
    if (c->data2) collector::mark_series_node(c->data2);
    if (c->data3) collector::mark_series_node(c->data3);
    int source = source_type(c);
    if ((source == TYPE_FUNCTION || source == TYPE_ROUTINE) && c->data1) collector::mark_context_node(c->data1);
}

}  // namespace

void register_type() {
    Registration(TYPE_OP, TYPE_NATIVE, "op!")
        .marker(mark_cell)
        .hasher(hash_payload_bytes<1, 12>)
        .on<A_MAKE>(make)
        .inherit(A_REFLECT)
        .on<A_FORM>(native::form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(native::compare)
        .commit();
}

}  // namespace vyx::op
