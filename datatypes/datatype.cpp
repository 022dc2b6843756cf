// datatype!: the value of a type name such as integer!. Its text comes from the
// type-name table.
#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/cells.h"

namespace vyx::datatype {

namespace {

std::string_view name_of(const Cell* value) {
    const TypeName& n = type_names[value->data1];
    return n.name ? std::string_view(n.name, size_t(n.length) + 1) : std::string_view("?!");
}

int form(Cell* value, Cell* buffer, int part) {
    std::string_view name = name_of(value);
    return string::concatenate_literal(buffer, name.substr(0, name.size() - 1), part);
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    if (all) part = string::concatenate_literal(buffer, "#(", part);
    part = string::concatenate_literal(buffer, name_of(value), part);
    if (all) part = string::concatenate_literal(buffer, ")", part);
    return part;
}

int compare(Cell* a, Cell* b, int op) {
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
        return type_of(b) == TYPE_DATATYPE && b->data1 == a->data1 ? 0 : 1;
    default:
        return NOT_COMPARABLE;
    }
}

}  // namespace

void register_type() {
    Registration(TYPE_DATATYPE, 0, "datatype!")
        .hasher(hash_payload_word<1>)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .commit();
}

}  // namespace vyx::datatype
