// Calling a function value from C++: sort comparators, change handlers,
// tracers and callbacks all come through here.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::call {

// Calls any callable (native!, action!, op!, function!, routine!) with
// `count` argument cells given in spec order. Arguments the callable has
// beyond them are filled as an unused refinement is: logic false for a
// refinement and none for each of its arguments (and for locals). The result
// becomes the new top of the current call and is returned. A pending exit
// (stack::thrown) that the callee did not handle is left to the caller.
Cell* call_function(const Cell* fn, const Cell* args, uint32_t count, const Cell* name = nullptr);

}  // namespace vyx::call
