#include "datatypes/percent.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/types.h"
#include "runtime/cells.h"

namespace vyx::percent {

namespace {

// The number of percent points with up to 13 significant digits and "%";
// a NaN or an infinity has no "%".
int form(Cell* value, Cell* buffer, int part) {
    char text[float_::FORM_DOUBLE_MAX];
    int n = float_::form_double(cell_float(value) * 100.0, float_::FORM_PERCENT, text);
    return string::concatenate_literal(buffer, std::string_view(text, size_t(n)), part);
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) { return form(value, buffer, part); }

}  // namespace

void register_type() {
    Registration(TYPE_PERCENT, TYPE_FLOAT, "percent!")
        .inherit({A_MAKE, A_RANDOM, A_TO, A_COMPARE, A_ABSOLUTE, A_ADD, A_DIVIDE, A_MULTIPLY, A_NEGATE, A_POWER,
                  A_REMAINDER, A_ROUND, A_SUBTRACT, A_EVEN_Q, A_ODD_Q})
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .commit();
}

}  // namespace vyx::percent
