// Routines over the interpreter's state: tracing?, stack-size?, pick-stack,
// frame-index?, collect-calls, system/state/interpreted? and the collector's
// system/state/GC fields.
#pragma once

namespace vyx::routines {

// Registers them in the routine registry.
void define_stack_routines();

// The frame test behind system/state/interpreted?: whether a frame pushed by
// the interpreter for user code (frames of library code are passed over) is on
// the frame stack.
bool called_from_interpreter();

}  // namespace vyx::routines
