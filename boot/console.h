// The console of the executable: the read-eval-print loop over standard
// input. The process entry starts it when no script is named, or after the
// script with "--catch"; it knows nothing of the command line.
#pragma once

namespace vyx::console {

// The banner greets a console started alone; after a script it is left out.
enum class Banner { SHOW, OMIT };

// Runs the loop until standard input ends; answers the exit status.
int run(Banner banner);

}  // namespace vyx::console
