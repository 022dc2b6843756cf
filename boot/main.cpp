// The process entry: prepares the process, brings the runtime up, reads the
// command line and hands over: to the script runner for a script, to the
// console for the interactive loop (alone, or after the script with
// "--catch").
#include <pthread.h>
#include <sys/time.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "boot/boot_routines.h"
#include "boot/console.h"
#include "boot/init.h"
#include "boot/script_runner.h"
#include "boot/startup_split.h"
#include "datatypes/error.h"
#include "evaluator/interpreter.h"
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

// The test hook: VYX_TEST_HALT_AFTER_MS asks for one halt that many
// milliseconds after start-up, as a key that stops an evaluation would.
void arm_halt_hook() {
    const char* ms = std::getenv("VYX_TEST_HALT_AFTER_MS");
    if (!ms) return;
    struct sigaction sa{};
    sa.sa_handler = [](int) { vyx::interp::request_halt(); };
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr);
    long n = std::atol(ms);
    itimerval t{};
    t.it_value.tv_sec = n / 1000;
    t.it_value.tv_usec = (n % 1000) * 1000;
    setitimer(ITIMER_REAL, &t, nullptr);
}

// After start-up: the script runner and the console, as the command line
// asks; answers the exit status.
int hand_over(int argc, char** argv) {
    vyx::install_stop_signals();
    arm_halt_hook();
    vyx::startup_split::lap(vyx::startup_split::HAND_OVER);
    vyx::startup_split::report();
    using vyx::console::Banner;
    vyx::script_runner::Request request = vyx::script_runner::read_command_line(argc, argv);
    if (!request.script) return vyx::console::run(Banner::SHOW);
    int status = vyx::script_runner::run(request.script);
    if (!request.catch_) return status;
    return vyx::console::run(Banner::OMIT);
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
    a->status = hand_over(a->argc, a->argv);
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
