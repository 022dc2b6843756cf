#include "runtime/fatal.h"

#include <link.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <cstdlib>
#include <cstring>

namespace vyx {

namespace {

const char* const MESSAGES[] = {
    nullptr, "access violation", "invalid alignment", "breakpoint", "single step", "bounds exceeded",
    "float denormal operan", "float divide by zero", "float inexact result", "float invalid operation",
    "float overflow", "float stack check", "float underflow", "integer divide by zero",
    "integer overflow", "privileged instruction", "invalid virtual address", "illegal instruction",
    "non-continuable exception", "stack error or overflow", "invalid disposition", "guard page",
    "invalid handle",
};

void write_all(const char* s, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(1, s, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        s += w;
        n -= size_t(w);
    }
}

// Load base of the executable, so that reported addresses are stable offsets.
uintptr_t load_base() {
    uintptr_t base = 0;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            *static_cast<uintptr_t*>(data) = info->dlpi_addr;
            return 1;  // the first entry is the executable
        },
        &base);
    return base;
}

uint8_t* alt_stack = nullptr;

void on_signal(int sig, siginfo_t* info, void* context) {
    uintptr_t pc = 0;
#if defined(__x86_64__)
    pc = uintptr_t(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#endif
    uint32_t address = uint32_t(pc - load_base());
    int code = 99;
    switch (sig) {
    case SIGSEGV:
    case SIGBUS: {
        // A fault just below the stack pointer is the stack running out.
        uintptr_t fault = reinterpret_cast<uintptr_t>(info->si_addr);
        uintptr_t sp = 0;
#if defined(__x86_64__)
        sp = uintptr_t(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RSP]);
#endif
        code = (sig == SIGBUS && info->si_code == BUS_ADRALN) ? 2
               : (sp && fault + 65536 >= sp && fault <= sp + 65536) ? 19
                                                                     : 1;
        break;
    }
    case SIGFPE:
        switch (info->si_code) {
        case FPE_INTDIV: code = 13; break;
        case FPE_INTOVF: code = 14; break;
        case FPE_FLTDIV: code = 7; break;
        case FPE_FLTOVF: code = 10; break;
        case FPE_FLTUND: code = 12; break;
        case FPE_FLTRES: code = 8; break;
        case FPE_FLTINV: code = 9; break;
        case FPE_FLTSUB: code = 5; break;
        default: code = 99;
        }
        break;
    case SIGILL: code = info->si_code == ILL_PRVOPC ? 15 : 17; break;
    case SIGTRAP: code = 3; break;
    default: code = 99;
    }
    fatal_error(code, address);
}

}  // namespace

const char* fatal_message(int code) {
    if (code >= 1 && code <= 22) return MESSAGES[code];
    switch (code) {
    case FATAL_NO_MEMORY: return "out of memory";
    case FATAL_NO_CATCH: return "no CATCH for THROW";
    case FATAL_ASSERTION: return "assertion failed";
    case FATAL_UNKNOWN: return "unknown error";
    case FATAL_NO_CASE: return "no value matched in CASE";
    case FATAL_NO_SWITCH: return "no value matched in SWITCH";
    default: return "unknown error code!";
    }
}

[[noreturn]] void fatal_error(int code, uint32_t address) {
    if (code != 0) {
        std::fflush(stdout);
        char line[160];
        int n = std::snprintf(line, sizeof line, "\n*** Runtime Error %d: %s\n*** at: %08Xh\n", code,
                              fatal_message(code), unsigned(address));
        if (n > 0) write_all(line, size_t(n));
    } else {
        std::fflush(stdout);
    }
    std::_Exit(code & 255);
}

void install_fatal_handlers() {
    if (!alt_stack) {
        size_t size = 1 << 16;
        alt_stack = static_cast<uint8_t*>(std::malloc(size));
        stack_t ss{};
        ss.ss_sp = alt_stack;
        ss.ss_size = size;
        sigaltstack(&ss, nullptr);
    }
    struct sigaction sa{};
    sa.sa_sigaction = on_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) sigaction(sig, &sa, nullptr);
    // A closed pipe is a write error for the output layer, not a reason to die.
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace vyx
