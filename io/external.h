// External processes at the level of values: what the call native does with
// its command, flags and redirection values.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::external {

// Runs `command` (a string! or file!) with the flags of call; `in`, `out`
// and `err` are the redirection values or null. Captured output is appended
// to a string! target (decoded from UTF-8, CR LF folded) or inserted at a
// binary! target's index; a file! target is appended to by the child.
// Answers the exit status when the call waits, the process id when it does
// not, -1 when nothing could be started, 0 for an empty command.
int64_t call_run(const Cell* command, bool wait, bool console, bool shell, const Cell* in, const Cell* out,
                 const Cell* err);

// Opens a URL or path with the desktop's handler, detached; nothing happens
// when there is none.
void browse(const Cell* target);

}  // namespace vyx::external
