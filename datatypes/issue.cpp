// issue!: a name used as data (#name). Its name is kept as written and never
// added to a context.
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/cells.h"

namespace vyx::issue {

namespace {

Cell of_symbol(int32_t symbol) { return word::make_cell(TYPE_ISSUE, context::global, symbol, -1); }

const Cell* make(Cell* proto, Cell* spec, int type) {
    switch (type_of(spec)) {
    case TYPE_STRING: {
        *spec = of_symbol(symbol::make_from_string(spec));
        return spec;
    }
    case TYPE_CHAR: {
        uint32_t c = spec->data2;
        *spec = of_symbol(symbol::make_chars(&c, 1, 4));
        return spec;
    }
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
    case TYPE_ISSUE: {
        set_cell_type(spec, TYPE_ISSUE);
        return spec;
    }
    default:
        return word::make(proto, spec, TYPE_ISSUE);
    }
}

int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_ISSUE) return NOT_COMPARABLE;
    return word::compare(a, b, op);
}

}  // namespace

Cell load(std::string_view name) {
    Cell issue = of_symbol(symbol::make(name));
    if (word::collecting)
        context::keep_in_root(&issue);
    else
        stack::push(&issue);
    return issue;
}

void register_type() {
    Registration(TYPE_ISSUE, TYPE_WORD, "issue!")
        .on<A_MAKE>(make)
        .on<A_TO>(make)
        .on<A_MOLD>(word::mold)
        .on<A_COMPARE>(compare)
        .inherit(A_FORM)
        .commit();
}

}  // namespace vyx::issue
