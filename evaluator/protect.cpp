#include "evaluator/protect.h"

#include "evaluator/interpreter.h"
#include "runtime/collector.h"
#include "runtime/cycle_stack.h"

namespace vyx::protect {

namespace {

VyxError no_error() {
    const Cell none{TYPE_NONE, 0, 0, 0};
    return VyxError{err::Id{}, {none, none, none}, none};
}

Guard* innermost = nullptr;
// An error raised with no guard around it (start-up, tests driving the
// interpreter directly) is held here until the next one.
VyxError unguarded = no_error();

void mark_error(const VyxError& e) {
    collector::mark_cells(e.args, e.args + 3);
    collector::mark_cell(&e.value);
}

}  // namespace

State State::save() {
    return State{stack::frame_top,      stack::arguments,   stack::top,
                 stack::thrown,         stack::throw_origin, interp::running,
                 interp::tracing, interp::trace_requested,
                 cycle_depth(), interp::library_frames};
}

void State::restore() const {
    stack::restore_frame_top(frame_top);
    stack::arguments = arguments;
    stack::top = top;
    stack::thrown = thrown;
    stack::throw_origin = throw_origin;
    interp::running = running;
    interp::tracing = tracing;
    interp::trace_requested = trace_requested;
    interp::library_frames = library_frames;
    if (cycle_depth() > cycles) drop_cycles(cycle_depth() - cycles);
}

Guard::Guard() : saved_(State::save()), held_(no_error()), error_(no_error()), outer_(innermost) { innermost = this; }

Guard::~Guard() { innermost = outer_; }

void Guard::caught(const VyxError& e) {
    // The error is ours before anything below can allocate.
    error_ = e;
    saved_.restore();
}

void Guard::rethrow() const {
    VyxError e = error_;
    if (outer_)
        outer_->held_ = e;
    else
        unguarded = e;
    throw e;
}

void hold(const VyxError& e) {
    if (innermost)
        innermost->held_ = e;
    else
        unguarded = e;
}

void reset() { unguarded = no_error(); }

void mark_roots() {
    mark_error(unguarded);
    for (Guard* g = innermost; g; g = g->outer_) {
        mark_error(g->held_);
        mark_error(g->error_);
    }
}

}  // namespace vyx::protect
