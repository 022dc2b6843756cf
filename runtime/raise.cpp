#include "runtime/raise.h"

#include "runtime/fatal.h"

namespace vyx {

void (*error_raised_hook)(const VyxError& e) = nullptr;
RaiseHooks raise_hooks = {};

[[noreturn]] void raise_error(err::Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    VyxError e{id, {}, Cell{TYPE_NONE, 0, 0, 0}};
    const Cell* args[3] = {arg1, arg2, arg3};
    for (int i = 0; i < 3; i++) e.args[i] = args[i] ? *args[i] : Cell{TYPE_NONE, 0, 0, 0};
    if (raise_hooks.attach_value) raise_hooks.attach_value(e);
    if (raise_hooks.hold) raise_hooks.hold(e);
    if (error_raised_hook) error_raised_hook(e);
    throw e;
}

[[noreturn]] void raise_error_value(const Cell* error, bool skip_top) {
    // error! values exist only once the error module has installed its hooks.
    if (!raise_hooks.to_raised) fatal_error(FATAL_ASSERTION);
    VyxError e = raise_hooks.to_raised(error);
    if (raise_hooks.hold) raise_hooks.hold(e);
    raise_hooks.note_raise(&e.value, skip_top);
    if (error_raised_hook) error_raised_hook(e);
    throw e;
}

}  // namespace vyx
