// get-word!: a word that fetches its value without calling it (:name).
#include "datatypes/registry.h"
#include "datatypes/word.h"

namespace vyx::get_word {

void register_type() {
    Registration(TYPE_GET_WORD, TYPE_WORD, "get-word!")
        .on<A_MOLD>(word::mold)
        .inherit({A_MAKE, A_TO, A_FORM, A_COMPARE, A_INDEX_Q})
        .commit();
}

}  // namespace vyx::get_word
