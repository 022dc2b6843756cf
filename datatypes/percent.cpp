#include "datatypes/percent.h"

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::percent {

void register_type() {
    Registration(TYPE_PERCENT, TYPE_FLOAT, "percent!")
        .inherit({A_MAKE, A_RANDOM, A_TO, A_COMPARE, A_ABSOLUTE, A_ADD, A_DIVIDE, A_MULTIPLY, A_NEGATE, A_POWER,
                  A_REMAINDER, A_ROUND, A_SUBTRACT, A_EVEN_Q, A_ODD_Q})
        .commit();
}

}  // namespace vyx::percent
