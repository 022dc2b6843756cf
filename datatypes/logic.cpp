// logic!: true and false, and the truth rule every conditional uses.
#include <cmath>

#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "evaluator/helpers.h"
#include "evaluator/random.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/raise.h"

namespace vyx::logic {

Cell* push(bool value) {
    Cell* c = stack::push_slot();
    *c = Cell{TYPE_LOGIC, value ? 1u : 0u, 0, 0};
    return c;
}

Cell* box(bool value) {
    *stack::arguments = Cell{TYPE_LOGIC, value ? 1u : 0u, 0, 0};
    return stack::arguments;
}

bool is_true() {
    const Cell* c = stack::arguments;
    if (type_of(c) == TYPE_UNSET) raise_error(err::script_no_return);
    return truth(c);
}

bool is_false() { return !truth(stack::arguments); }

namespace {

const Cell TRUE_CELL{TYPE_LOGIC, 1, 0, 0};
const Cell FALSE_CELL{TYPE_LOGIC, 0, 0, 0};

const Cell* to(Cell*, Cell* spec, int) {
    switch (type_of(spec)) {
    case TYPE_LOGIC: return spec;
    case TYPE_NONE: return &FALSE_CELL;
    default: return &TRUE_CELL;
    }
}

const Cell* make(Cell* proto, Cell* spec, int type) {
    switch (type_of(spec)) {
    case TYPE_INTEGER:
        return spec->data2 != 0 ? &TRUE_CELL : &FALSE_CELL;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
        // NaN compares unequal to 0.0, so it is true.
        return cell_float(spec) != 0.0 ? &TRUE_CELL : &FALSE_CELL;
    default:
        return to(proto, spec, type);
    }
}

int form(Cell* value, Cell* buffer, int part) {
    return string::concatenate_literal(buffer, get(value) ? "true" : "false", part);
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    if (all) return string::concatenate_literal(buffer, get(value) ? "#(true)" : "#(false)", part);
    return form(value, buffer, part);
}

int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_LOGIC || !is_unordered_compare(op)) return NOT_COMPARABLE;
    return int(a->data1) - int(b->data1);
}

const Cell* complement(Cell* value) {
    value->data1 = value->data1 ? 0 : 1;
    return value;
}

// The bitwise actions read both arguments at the call's base.
template <int Op>
void bitwise() {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    if (type_of(b) != TYPE_LOGIC) helpers::raise_expect_arg(1, type_of(b));
    uint32_t x = a->data1, y = b->data1;
    box(Op == OP_AND ? (x & y) : Op == OP_OR ? (x | y) : (x ^ y));
}

}  // namespace

namespace {

void randomize(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_gen::random_seed(get(value) ? 1 : 0);
        *value = UNSET_CELL;
        return;
    }
    int32_t d = secure ? random_gen::random_next_secure() : random_gen::random_next();
    *value = Cell{TYPE_LOGIC, d > 0x3FFFFFFF ? 1u : 0u, 0, 0};
}

}  // namespace

void register_type() {
    Registration(TYPE_LOGIC, 0, "logic!")
        .hasher(hash_payload_word<1>)
        .on<A_MAKE>(make)
        .on<A_RANDOM>(randomize)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .on<A_AND_T>(bitwise<OP_AND>)
        .on<A_COMPLEMENT>(complement)
        .on<A_OR_T>(bitwise<OP_OR>)
        .on<A_XOR_T>(bitwise<OP_XOR>)
        .commit();
}

}  // namespace vyx::logic
