// What the number types' binary math shares: the action behind each math
// operator, its name for error messages, and handing the operation over to
// the other operand's type.
#pragma once
#include "datatypes/actions.h"

namespace vyx::math {

// A_ADD ... A_XOR_T for OP_ADD ... OP_XOR.
int action_of(int op);
// The action's word ("add" ... "xor~"); "???" for no math operator.
const char* action_name(int op);

// Raises script/not-related: the action has no meaning for the type.
[[noreturn]] void not_related(const char* action, int type);
// Runs the type's handler for the action on the current arguments (raises
// internal/not-done when the type has none yet).
void run_stack_handler(int type, int action);
// Exchanges the two arguments, for types that take the number second.
void swap_arguments();

// The "stack" handler of one operator, for a type whose math goes through a
// single `do_math(op)`.
template <void (*DoMath)(int), int Op>
void handler() {
    DoMath(Op);
}

}  // namespace vyx::math
