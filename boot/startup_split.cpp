#include "boot/startup_split.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace vyx::startup_split {

namespace {
using Clock = std::chrono::steady_clock;
Clock::time_point last = Clock::now();
double spent[PHASES];
}  // namespace

void begin() {
    last = Clock::now();
    for (double& s : spent) s = 0;
}

void lap(Phase phase) {
    Clock::time_point now = Clock::now();
    spent[phase] += std::chrono::duration<double, std::milli>(now - last).count();
    last = now;
}

void report() {
    if (!std::getenv("VYX_STARTUP_SPLIT")) return;
    double total = spent[INIT] + spent[DECODE] + spent[MODULES] + spent[HAND_OVER];
    std::fprintf(stderr, "start-up: init %.3f ms, decode %.3f ms, modules %.3f ms, hand-over %.3f ms, total %.3f ms\n",
                 spent[INIT], spent[DECODE], spent[MODULES], spent[HAND_OVER], total);
}

}  // namespace vyx::startup_split
