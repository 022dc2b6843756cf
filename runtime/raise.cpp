#include "runtime/raise.h"

#include "datatypes/error.h"
#include "evaluator/protect.h"

namespace vyx {

[[noreturn]] void raise_error(err::Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    VyxError e{id, {}, Cell{TYPE_NONE, 0, 0, 0}};
    const Cell* args[3] = {arg1, arg2, arg3};
    for (int i = 0; i < 3; i++) e.args[i] = args[i] ? *args[i] : Cell{TYPE_NONE, 0, 0, 0};
    error::attach_value(e);
    protect::hold(e);
    throw e;
}

[[noreturn]] void raise_error_value(const Cell* error, bool skip_top) {
    VyxError e = error::to_raised(error);
    protect::hold(e);
    error::note_raise(&e.value, skip_top);
    throw e;
}

}  // namespace vyx
