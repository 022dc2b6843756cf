// lit-word!: a word that evaluates to the word itself ('name).
#include "datatypes/registry.h"
#include "datatypes/word.h"

namespace vyx::lit_word {

void register_type() {
    Registration(TYPE_LIT_WORD, TYPE_WORD, "lit-word!")
        .on<A_MOLD>(word::mold)
        .inherit({A_MAKE, A_TO, A_FORM, A_COMPARE, A_INDEX_Q})
        .commit();
}

}  // namespace vyx::lit_word
