// refinement!: names an option of a function (/name).
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"

namespace vyx::refinement {

Cell load(std::string_view name) {
    // Spec tables compare refinements by symbol only, so these stay unbound.
    Cell r = word::make_cell(TYPE_REFINEMENT, 0, symbol::make(name), -1);
    context::keep_in_root(&r);
    return r;
}

void register_type() {
    Registration(TYPE_REFINEMENT, TYPE_WORD, "refinement!")
        .on<A_MOLD>(word::mold)
        .inherit({A_MAKE, A_TO, A_FORM, A_COMPARE})
        .commit();
}

}  // namespace vyx::refinement
