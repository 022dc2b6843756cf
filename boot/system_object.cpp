#include "boot/system_object.h"

#include <string>
#include <utility>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/routine_registry.h"
#include "runtime/stack.h"
#include "runtime/collector.h"

namespace vyx::system_object {

namespace {
// The symbols of the names asked for, by the address of the caller's text;
// emptied at each start-up, whose symbol table is new.
std::vector<std::pair<const char*, int32_t>> names;

int32_t symbol_of(const char* name) {
    for (const auto& [text, id] : names)
        if (text == name) return id;
    int32_t id = symbol::make(name);
    names.emplace_back(name, id);
    return id;
}
}  // namespace

void init() { names.clear(); }

const Cell* field(std::initializer_list<const char*> path) {
    Cell* v = context::get_value_ptr(symbol_of("system"), context::global);
    for (const char* name : path) {
        if (!v || type_of(v) != TYPE_OBJECT) return nullptr;
        int32_t at = object::find_field(v, symbol_of(name));
        if (at < 0) return nullptr;
        v = object::value_at(v, uint32_t(at));
    }
    return v;
}

}  // namespace vyx::system_object
