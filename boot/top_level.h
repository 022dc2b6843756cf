// What a top-level evaluation (a script, a console input) starts from: the
// stacks emptied, an unset result cell at the bottom and above it the cell
// that will hold the loaded code, both stack cells the collector sees.
#pragma once
#include "runtime/cell.h"

namespace vyx {

// Empties the stacks and answers the code cell.
Cell* begin_top_level();

}  // namespace vyx
