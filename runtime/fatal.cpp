#include "runtime/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace vyx {

const char* fatal_message(int code) {
    switch (code) {
    case 1: return "access violation";
    case 13: return "integer divide by zero";
    case 19: return "stack error or overflow";
    case 94: return "out of memory";
    case 95: return "no CATCH for THROW";
    case 98: return "assertion failed";
    case 99: return "unknown error";
    case 100: return "no value matched in CASE";
    case 101: return "no value matched in SWITCH";
    default: return "unknown error code!";
    }
}

[[noreturn]] void fatal_error(int code, uintptr_t address, bool has_address) {
    std::fflush(stdout);
    char line[128];
    int n = std::snprintf(line, sizeof line, "*** Runtime Error %d: %s\n", code, fatal_message(code));
    if (n > 0) (void)!write(1, line, size_t(n));
    if (has_address) {
        n = std::snprintf(line, sizeof line, "*** at: %08X%s\n", unsigned(address), "h");
        if (n > 0) (void)!write(1, line, size_t(n));
    }
    std::_Exit(code & 255);
}

}  // namespace vyx
