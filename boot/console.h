// The console of the executable: the read-eval-print loop over standard input,
// or a script named on the command line.
#pragma once

namespace vyx::console {

// Runs the console with the process arguments; answers the exit status.
int run(int argc, char** argv);

}  // namespace vyx::console
