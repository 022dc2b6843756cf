#include "datatypes/typeset.h"

#include <cstring>

#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/raise.h"

namespace vyx::typeset {

Cell all_but_unset() {
    Cell ts{TYPE_TYPESET, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    remove(&ts, TYPE_UNSET);
    return ts;
}

Cell any_type() { return Cell{TYPE_TYPESET, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}; }

static void merge(Cell* ts, const Cell* other) {
    ts->data1 |= other->data1;
    ts->data2 |= other->data2;
    ts->data3 |= other->data3;
}

Cell from_block(const Cell* spec) {
    Cell ts = empty();
    uint32_t n = node_buffer(spec->data2)->length();
    for (uint32_t i = spec->data1; i < n; i++) {
        Cell item = node_buffer(spec->data2)->cell_head()[i];
        if (is_any_word(type_of(&item))) item = *interp::word_value(&item);
        switch (type_of(&item)) {
        case TYPE_DATATYPE: add(&ts, int(item.data1)); break;
        case TYPE_TYPESET: merge(&ts, &item); break;
        case TYPE_BLOCK: break;
        default: raise_error(err::script_invalid_type_spec, &item);
        }
    }
    return ts;
}

void set_type(Cell* ts, const Cell* value) {
    const Cell* v = value;
    if (is_any_word(type_of(v))) v = interp::word_value(v);
    switch (type_of(v)) {
    case TYPE_TYPESET: merge(ts, v); break;
    case TYPE_DATATYPE: add(ts, int(v->data1)); break;
    default: raise_error(err::script_invalid_arg, value);
    }
}

int count(const Cell* ts) {
    int n = 0;
    for (int t = 1; t <= max_type_id; t++) n += has(ts, t);
    return n;
}

bool by_name(const char* name, Cell* out) {
    struct Named {
        const char* name;
        std::initializer_list<int> types;
    };
    static const Named table[] = {
        {"number!", {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT}},
        {"any-word!", {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}},
        {"all-word!", {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE}},
        {"any-block!", {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_HASH}},
        {"any-list!", {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH}},
        {"any-path!", {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}},
        {"any-string!", {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF}},
        {"any-function!", {TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE}},
        {"any-object!", {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}},
        {"series!", {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_HASH,
                     TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF, TYPE_BINARY,
                     TYPE_VECTOR, TYPE_IMAGE}},
    };
    if (std::strcmp(name, "any-type!") == 0) {
        *out = any_type();
        return true;
    }
    for (const Named& n : table) {
        if (std::strcmp(name, n.name) != 0) continue;
        *out = empty();
        for (int t : n.types) add(out, t);
        return true;
    }
    return false;
}

namespace {

const Cell* make(Cell* proto, Cell* spec, int type) {
    switch (type_of(spec)) {
    case TYPE_TYPESET: return spec;
    case TYPE_BLOCK: {
        Cell* result = stack::push_slot();
        *result = empty();
        SeriesBuffer* b = node_buffer(spec->data2);
        uint32_t n = b->length();
        for (uint32_t i = spec->data1; i < n; i++) set_type(result, blk::at(spec->data2, i));
        return result;
    }
    default: {
        Cell dt{TYPE_DATATYPE, TYPE_TYPESET, 0, 0};
        raise_error(err::script_bad_to_arg, &dt, spec);
    }
    }
}

int mold(Cell* ts, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    bool limited = part != NO_LIMIT;
    if (!only) part = string::concatenate_literal(buffer, "make typeset! [", part);
    bool any = false;
    for (int t = 1; t <= max_type_id; t++) {
        if (!has(ts, t)) continue;
        if (limited && part < 0) break;
        part = string::concatenate_literal(buffer, type_names[t].name, part);
        part = string::concatenate_literal(buffer, " ", part);
        any = true;
    }
    SeriesBuffer* b = node_buffer(buffer->data2);
    if (only) {
        if (b->tail > b->offset + buffer->data1 * b->unit() && any) {
            b->tail -= b->unit();
            part++;
        }
        return part;
    }
    if (any) {
        b->tail -= b->unit();
        part++;
    }
    return string::concatenate_literal(buffer, "]", part);
}

int form(Cell* ts, Cell* buffer, int part) { return mold(ts, buffer, false, false, false, part, 0); }

int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_TYPESET) return NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
        return (a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3) ? 0 : 1;
    case COMP_SORT: case COMP_CASE_SORT: {
        int x = count(a), y = count(b);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    default: return NOT_COMPARABLE;
    }
}

const Cell* complement(Cell* ts) {
    *ts = Cell{TYPE_TYPESET, ~ts->data1, ~ts->data2, ~ts->data3};
    return ts;
}

// and~, or~, xor~: stack handlers on the call's two arguments.
template <int Op>
void bitwise() {
    Cell* a = stack::arguments;
    Cell* b = a + 1;
    Cell other;
    if (type_of(b) == TYPE_DATATYPE) {
        other = empty();
        add(&other, int(b->data1));
    } else if (type_of(b) == TYPE_TYPESET) {
        other = *b;
    } else {
        raise_error(err::script_invalid_arg, b);
    }
    Cell r = *a;
    if (Op == OP_AND) { r.data1 &= other.data1; r.data2 &= other.data2; r.data3 &= other.data3; }
    if (Op == OP_OR) { r.data1 |= other.data1; r.data2 |= other.data2; r.data3 |= other.data3; }
    if (Op == OP_XOR) { r.data1 ^= other.data1; r.data2 ^= other.data2; r.data3 ^= other.data3; }
    r.header = TYPE_TYPESET;
    stack::set_last(&r);
}

const Cell TRUE_CELL{TYPE_LOGIC, 1, 0, 0};
const Cell FALSE_CELL{TYPE_LOGIC, 0, 0, 0};

const Cell* find(Cell* ts, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    if (type_of(value) != TYPE_DATATYPE) raise_error(err::script_invalid_arg, value);
    return has(ts, int(value->data1)) ? &TRUE_CELL : &FALSE_CELL;
}

}  // namespace

void register_type() {
    Registration(TYPE_TYPESET, 0, "typeset!")
        .hasher(hash_payload_bytes<1, 12>)
        .on<A_MAKE>(make)
        .on<A_TO>(make)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .on<A_AND_T>(bitwise<OP_AND>)
        .on<A_COMPLEMENT>(complement)
        .on<A_OR_T>(bitwise<OP_OR>)
        .on<A_XOR_T>(bitwise<OP_XOR>)
        .on<A_FIND>(find)
        .commit();
}

}  // namespace vyx::typeset
