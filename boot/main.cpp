// The process entry: prepares the process, brings the runtime up and hands
// over to the console.
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boot/boot_routines.h"
#include "boot/console.h"
#include "boot/init.h"
#include "boot/startup_split.h"
#include "datatypes/error.h"
#include "runtime/console_output.h"
#include "runtime/raise.h"
#include "runtime/fatal.h"

// Under the address sanitizer, processor faults stay ours: the fatal report
// and its status are part of what the executable promises.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() {
    return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0";
}
#endif

namespace {

// A real integer division by zero inside the runtime, to see the fatal report
// that the processor fault produces (a test hook).
__attribute__((no_sanitize("undefined"))) int divide_by_zero() {
    volatile int zero = 0;
    volatile int one = 1;
    return one / zero;
}

struct Args {
    int argc;
    char** argv;
    int status;
};

void* run(void* p) {
    auto* a = static_cast<Args*>(p);
    if (const char* f = std::getenv("VYX_FORCE_FATAL"); f && std::strcmp(f, "divide") == 0) {
        a->status = divide_by_zero();
        return nullptr;
    }
    vyx::startup_split::begin();
    vyx::boot_routines::set_command_line(a->argc, a->argv);
    try {
        vyx::init_runtime();
    } catch (const vyx::VyxError& e) {
        // Nothing can catch an error this early: report it plainly and end.
        a->status = vyx::error::report_uncaught(e);
        return nullptr;
    }
    a->status = vyx::console::run(a->argc, a->argv);
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    vyx::install_fatal_handlers();
    // The interpreter recurses on the C stack; give it room enough that the
    // language's own stack limits are always reached first. Only this one
    // thread runs; main just waits for it.
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t(512) << 20);
    Args args{argc, argv, 0};
    pthread_t thread;
    if (pthread_create(&thread, &attr, run, &args) != 0) vyx::fatal_error(vyx::FATAL_NO_MEMORY);
    pthread_join(thread, nullptr);
    int status = args.status & 255;
    // Output that could not be written is a failure of the whole run.
    if (status == 0 && vyx::standard_output_lost()) status = 1;
    return status;
}
