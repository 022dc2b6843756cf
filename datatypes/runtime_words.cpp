#include "datatypes/runtime_words.h"

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"

namespace vyx {

#define VYX_DEFINE_INT(name, text) int32_t name = 0;
#define VYX_DEFINE_CELL(name, text) Cell name{};
namespace sym {
VYX_RUNTIME_SYMBOLS(VYX_DEFINE_INT)
int32_t changed = 0;
}  // namespace sym
namespace gword { VYX_RUNTIME_GLOBAL_ENTRIES(VYX_DEFINE_INT) }
namespace words { VYX_RUNTIME_WORDS(VYX_DEFINE_CELL) }
namespace refinements { VYX_RUNTIME_REFINEMENTS(VYX_DEFINE_CELL) }
#undef VYX_DEFINE_INT
#undef VYX_DEFINE_CELL

namespace {

// The runtime's own words keep their exact spelling.
Cell runtime_word(const char* text) {
    Cell w = *context::add_word(symbol::make(text), false, true);
    if (word::collecting) context::keep_in_root(&w);
    return w;
}

}  // namespace

void set_type_words() {
    for (int id = 1; id <= max_type_id; id++) {
        if (!type_names[id].name) continue;
        Cell w = word::load(type_names[id].name);
        type_names[id].word = uint32_t(word::symbol_of(&w));
    }
}

void init_runtime_words() {
#define VYX_INTERN(name, text) sym::name = symbol::make(text);
    VYX_RUNTIME_SYMBOLS(VYX_INTERN)
#undef VYX_INTERN
#define VYX_ENTRY(name, text) gword::name = word::index_of(context::add_word(symbol::make(text), false, true));
    VYX_RUNTIME_GLOBAL_ENTRIES(VYX_ENTRY)
#undef VYX_ENTRY
#define VYX_WORD(name, text) words::name = runtime_word(text);
    VYX_RUNTIME_WORDS(VYX_WORD)
#undef VYX_WORD
    sym::changed = word::symbol_of(&words::changed);
}

void init_refinement_words() {
#define VYX_REFINEMENT(name, text) refinements::name = refinement::load(text);
    VYX_RUNTIME_REFINEMENTS(VYX_REFINEMENT)
#undef VYX_REFINEMENT
}

}  // namespace vyx
