// Fatal runtime errors: a report on standard output and the end of the process.
#pragma once
#include <cstdint>

namespace vyx {

// The message of a fatal error code ("unknown error code!" for codes it does not know).
const char* fatal_message(int code);
// Prints "*** Runtime Error <code>: <message>", and "*** at: <address>h" when an
// address is known, releases the runtime's memory and ends the process with `code`.
[[noreturn]] void fatal_error(int code, uintptr_t address = 0, bool has_address = false);

}  // namespace vyx
