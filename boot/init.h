// Runtime initialisation in its fixed order.
#pragma once

namespace vyx {

// Brings the runtime up (memory, datatypes, first frames, stacks) and
// defines the library from its boot data.
void init_runtime();
// The runtime without the library: what the boot data generator runs on.
void init_core();
// Gives every frame back to the operating system.
void shutdown_runtime();

}  // namespace vyx
