// Child processes over POSIX: posix_spawn with the three standard streams
// taken from the parent, the null device, files or pipes. The pipes are served
// together (poll), so a child that writes much to one stream while we feed
// another never blocks both processes; a child that stops reading ends our
// writing, never us. Children are started with default signal dispositions
// and an empty signal mask; those not waited for are reaped when they end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/platform/files.h"

namespace vyx::platform {

struct Stream {
    enum Kind { PARENT, NUL, DATA, CAPTURE, FILE_PATH } kind = PARENT;
    std::string path;                    // FILE_PATH: read for input, appended to for output
    const uint8_t* data = nullptr;       // DATA: the bytes to send to the child's input
    size_t size = 0;
    Bytes captured;                      // CAPTURE: what the child wrote
};

struct SpawnRequest {
    std::vector<std::string> argv;  // argv[0] is looked up in PATH
    bool wait = false;
    // With wait: a child (and the processes it started) still running after
    // this many milliseconds is killed, and spawn answers TIMED_OUT.
    int timeout_ms = -1;
    Stream in, out, err;
};

constexpr int64_t TIMED_OUT = -2;

// Runs the request: the exit status when waiting (128 + the signal's number
// for a child killed by a signal), else the process id; -1 when the child
// could not be started or a redirection file could not be opened. `not_found`
// tells whether the program was not found (nothing was started).
int64_t spawn(SpawnRequest& request, bool& not_found);

// Splits a command at blanks outside double quotes; the quotes are removed,
// nothing is expanded.
std::vector<std::string> split_command(const std::string& command);

// Starts a program detached (its output to the null device, never waited
// for); false when it could not be started.
bool spawn_detached(const std::vector<std::string>& argv);

}  // namespace vyx::platform
