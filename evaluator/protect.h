// Protected evaluation: the one way the runtime catches a raised error.
//
// A Guard notes all interpreter state when it is made: the frame top, the
// argument and value tops, any pending exit and where a throw began, the
// blocks under evaluation, the tracing switches and the cycle stack. When
// the code run under it raises, it puts every piece back, giving each
// function context above the saved frame top its saved values, so that no
// word bound to an abandoned call can reach the cells of a later one.
//
// Guards nest, innermost first. A raised error is held by the innermost
// guard from the moment it is raised, and the guard that catches it keeps it
// for as long as that guard lives, whatever is raised after: the collector
// marks both there.
#pragma once
#include <cstdint>
#include <utility>

#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::interp {
struct Running;
}

namespace vyx::protect {

struct State {
    stack::Frame* frame_top;
    Cell* arguments;
    Cell* top;
    uint32_t thrown;
    uint32_t throw_origin;
    interp::Running* running;
    bool tracing;
    bool trace_requested;
    uint32_t cycles;
    uint32_t library_frames;

    static State save();
    // Back to the saved state; frame records above the saved top are left
    // as they are (an error's call stack is read from them afterwards).
    void restore() const;
};

class Guard {
public:
    Guard();
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

    // Runs body. True when it ended normally (a pending exit included);
    // false when it raised an error: the state is then restored and the
    // error is held here.
    template <class Body>
    bool run(Body&& body) {
        try {
            std::forward<Body>(body)();
            return true;
        } catch (const VyxError& e) {
            caught(e);
            return false;
        }
    }

    // Raises the caught error again, towards the next guard out.
    [[noreturn]] void rethrow() const;

    // The error caught, and its error! value (none! when it has none).
    const VyxError& error() const { return error_; }
    const Cell* value() const { return &error_.value; }
    const State& saved() const { return saved_; }

private:
    friend void hold(const VyxError& e);
    friend void mark_roots();
    void caught(const VyxError& e);

    State saved_;
    VyxError held_;   // the last error raised under this guard, in flight
    VyxError error_;  // the error it caught
    Guard* outer_;
};

// The raise gives its error to the innermost guard (or, with none, to a
// process-wide cell) before it leaves.
void hold(const VyxError& e);
// Collector root: every guard's error.
void mark_roots();
// A fresh runtime: no error held from the last one (its values name nodes
// that mean nothing now).
void reset();

}  // namespace vyx::protect
