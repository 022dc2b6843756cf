// set-word!: a word that assigns (name:).
#include "datatypes/registry.h"
#include "datatypes/word.h"

namespace vyx::set_word {

void register_type() {
    Registration(TYPE_SET_WORD, TYPE_WORD, "set-word!")
        .on<A_MOLD>(word::mold)
        .inherit({A_MAKE, A_TO, A_FORM, A_COMPARE, A_INDEX_Q})
        .commit();
}

}  // namespace vyx::set_word
