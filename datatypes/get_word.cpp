// get-word!: a word that fetches its value without calling it (:name).
#include "datatypes/registry.h"
#include "datatypes/word.h"

namespace vyx::get_word {

Cell* push(const Cell* word) { return word::push(word, TYPE_GET_WORD); }
Cell* push_in(Node ctx, uint32_t n) { return word::push_in(ctx, n, TYPE_GET_WORD); }

void register_type() {
    Registration(TYPE_GET_WORD, TYPE_WORD, "get-word!")
        .on<A_MOLD>(word::mold)
        .inherit({A_MAKE, A_TO, A_FORM, A_COMPARE, A_INDEX_Q})
        .commit();
}

}  // namespace vyx::get_word
