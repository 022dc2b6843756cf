// native!: built-in functions whose body is runtime code, selected by their
// number in the natives table; action! shares the layout, numbered in the
// generic action table.
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/cells.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::native {

Cell* make_at(Cell* target, const Cell* spec, uint32_t number, int type) {
    collector::Rooted<2> r;
    Cell& s = r[0];
    s = *spec;
    Node more = new_cell_series(2);
    r[1] = Cell{TYPE_BLOCK, 0, more, 0};
    Node ctx = context::make_from_block(&s, true, false, context::KIND_FUNCTION);
    SeriesBuffer* b = node_buffer(more);
    *append_cell_to_buffer(b) = *context::cell_of(ctx);
    *append_cell_to_buffer(b) = Cell{TYPE_NONE, 0, 0, 0};
    // The record keeps the spec context by node, under a type of its own: the
    // context! cell layout (word index, values) is the context record's.
    node_buffer(more)->cell_head()[0] = Cell{TYPE_CONTEXT_REF, ctx, 0, 0};
    *target = Cell{uint32_t(type), number, s.data2, more};
    *context::owner_of(ctx) = *target;
    return target;
}

namespace {

const Cell* make_checked(Cell* spec, int type, uint32_t max) {
    Cell dt{TYPE_DATATYPE, uint32_t(type), 0, 0};
    if (type_of(spec) != TYPE_BLOCK || blk::length(spec) != 2) raise_error(err::script_bad_make_arg, &dt, spec);
    Cell s = *blk::at(spec->data2, spec->data1);
    Cell n = *blk::at(spec->data2, spec->data1 + 1);
    if (type_of(&s) != TYPE_BLOCK || type_of(&n) != TYPE_INTEGER || int32_t(n.data2) < 1 || n.data2 > max)
        raise_error(err::script_bad_make_arg, &dt, spec);
    Cell* slot = stack::push_slot();
    *slot = Cell{TYPE_UNSET, 0, 0, 0};
    return make_at(slot, &s, n.data2, type);
}

const Cell* make(Cell*, Cell* spec, int) { return make_checked(spec, TYPE_NATIVE, CAPACITY); }

}  // namespace

// Shared by action! and op!.
void reflect(Cell* value, int field) {
    int32_t f = symbol::resolve(field);
    Cell v = *value;
    if (f == symbol::resolve(sym::spec)) {
        *stack::arguments = Cell{TYPE_BLOCK, 0, v.data2, 0};
    } else if (f == symbol::resolve(sym::body)) {
        if (type_of(&v) == TYPE_OP && (op::source_type(&v) == TYPE_FUNCTION || op::source_type(&v) == TYPE_ROUTINE))
            *stack::arguments = function::more(&v)[function::MORE_BODY];
        else
            *stack::arguments = Cell{TYPE_INTEGER, 0, v.data1, 0};
    } else {
        raise_error(err::internal_not_done);
    }
}

int form(Cell* value, Cell* buffer, int part) {
    const char* text = type_of(value) == TYPE_NATIVE ? "?native?" : type_of(value) == TYPE_ACTION ? "?action?" : "?op?";
    return string::concatenate_literal(buffer, text, part);
}

int mold_spec(const Cell* value, Cell* buffer, bool all, bool flat, int part, int indent) {
    Cell spec{TYPE_BLOCK, 0, value->data2, 0};
    return function::mold_block(&spec, buffer, all, flat, part, indent);
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    part = string::concatenate_literal(buffer, type_of(value) == TYPE_NATIVE ? "make native! [" : "make action! [", part);
    part = mold_spec(value, buffer, all, flat, part, indent);
    return string::concatenate_literal(buffer, "]", part);
}

int compare(Cell* a, Cell* b, int op) {
    if (type_of(a) != type_of(b) || !is_unordered_compare(op)) return NOT_COMPARABLE;
    // An op made from a function compares by its record.
    uint32_t x = a->data1, y = b->data1;
    if (type_of(a) == TYPE_OP && op::source_type(a) >= TYPE_FUNCTION) x = a->data3, y = b->data3;
    if (type_of(a) == TYPE_OP && op::source_type(a) != op::source_type(b)) return 1;
    return x < y ? -1 : x > y ? 1 : 0;
}

namespace {

// The spec block and the record: [spec context reference, argument cache].
void mark_cell(const Cell* c) {
    if (c->data2) collector::mark_series_node(c->data2);
    if (c->data3) collector::mark_series_node(c->data3);
}

}  // namespace

void register_type() {
    Registration(TYPE_NATIVE, 0, "native!")
        .marker(mark_cell)
        .hasher(hash_payload_word<3>)
        .on<A_MAKE>(make)
        .on<A_REFLECT>(reflect)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .commit();
}

}  // namespace vyx::native

