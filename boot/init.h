// Runtime initialisation in its fixed order.
#pragma once

namespace vyx {

// Brings the runtime up: memory, datatypes, first frames, stacks.
void init_runtime();
// Gives every frame back to the operating system.
void shutdown_runtime();

}  // namespace vyx
