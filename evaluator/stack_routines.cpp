// Routines over the interpreter's own state: the evaluation stack, its
// frames, tracing and the collector.
#include "evaluator/stack_routines.h"

#include "datatypes/simple.h"
#include "evaluator/interpreter.h"
#include "evaluator/routine_registry.h"
#include "runtime/stack.h"
#include "runtime/collector.h"

namespace vyx::routines {

namespace {

bool tracing_q() { return interp::tracing; }

int32_t stack_size_q() { return int32_t(stack::top - stack::bottom); }

int32_t frame_index_q() { return int32_t(stack::index_of(stack::arguments)); }

// pick-stack idx: the idx-th cell from the bottom, none outside 1 .. size - 1.
void pick_stack() {
    int32_t idx = int32_t(stack::arguments->data2);
    int32_t size = stack_size_q();
    Cell v = idx > 0 && idx < size ? stack::bottom[idx - 1] : Cell{TYPE_NONE, 0, 0, 0};
    stack::store_result_only(&v);
}

void collect_calls() {
    Cell block = stack::arguments[0];
    stack::collect_calls(&block);
    stack::store_result_only(&block);
}

bool gc_active_q() { return collector::active; }
int32_t gc_series_cycles() { return int32_t(collector::cycles); }
int32_t gc_nodes_cycles() { return int32_t(collector::nodes_cycles); }

}  // namespace

bool called_from_interpreter() {
    for (const stack::Frame* f = stack::frame_top - 1; f >= stack::frame_bottom; f--) {
        if (f->header & stack::FRAME_LIBRARY) continue;
        if (f->header & stack::FRAME_EVAL) return true;
    }
    return false;
}

void define_stack_routines() {
    add("tracing?", R"~("whether the interpreter is tracing" return: [logic!])~", typed<tracing_q>);
    add("stack-size?", R"~("the number of cells on the evaluation stack" return: [integer!])~", typed<stack_size_q>);
    add("pick-stack", R"~("a cell of the evaluation stack, counted from its bottom" idx [integer!])~", pick_stack);
    add("frame-index?", R"~("the stack index of the current call's arguments" return: [integer!])~",
        typed<frame_index_q>);
    add("collect-calls", R"~("appends the calls on the frame stack to a block" blk [block!])~", collect_calls);
    add("system/state/interpreted?", R"~("Return TRUE if called from the interpreter" return: [logic!])~",
        typed<called_from_interpreter>);
    add("system/state/GC/active?", R"~("whether the collector is on" return: [logic!])~", typed<gc_active_q>);
    add("system/state/GC/series-cycles", R"~("the number of series collection cycles" return: [integer!])~",
        typed<gc_series_cycles>);
    add("system/state/GC/nodes-cycles", R"~("the number of node collection cycles" return: [integer!])~",
        typed<gc_nodes_cycles>);
}

}  // namespace vyx::routines
