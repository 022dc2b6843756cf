// Fatal runtime errors: conditions the runtime cannot turn into a language
// error. The report goes to standard output and the process ends with the code.
#pragma once
#include <cstdint>

namespace vyx {

// The codes the runtime itself ends with (1 to 22 are the processor faults).
enum FatalCode : int {
    FATAL_NO_MEMORY = 94,
    FATAL_NO_CATCH = 95,
    FATAL_ASSERTION = 98,
    FATAL_UNKNOWN = 99,
    FATAL_NO_CASE = 100,
    FATAL_NO_SWITCH = 101,
};

// The message of a fatal error code ("unknown error code!" for codes it does not know).
const char* fatal_message(int code);
// Prints, after a line feed, "*** Runtime Error <code>: <message>" and
// "*** at: <address>h" (the address as 8 upper-case hex digits), flushes all
// output and ends the process with status code & 255. Code 0 prints nothing.
// Safe to call from a signal handler.
[[noreturn]] void fatal_error(int code, uint32_t address = 0);

// Installs the handlers that turn processor faults into fatal reports.
void install_fatal_handlers();

}  // namespace vyx
