// Where start-up spends its time: the runtime's initialisation, reading the
// library's code, defining its modules and handing over to the console.
// With VYX_STARTUP_SPLIT set in the environment the console prints the
// split on standard error before it starts.
#pragma once

namespace vyx::startup_split {

enum Phase { INIT, DECODE, MODULES, HAND_OVER, PHASES };

// Starts the clock.
void begin();
// Adds the time since the last lap (or begin) to the phase.
void lap(Phase phase);
// Prints the split when asked for.
void report();

}  // namespace vyx::startup_split
