#include "evaluator/trace.h"

#include <vector>

#include "datatypes/pair.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/call.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/raise.h"

namespace vyx::trace {

namespace {

const char* const EVENT_NAMES[] = {"init",  "end",  "prolog", "epilog", "enter", "exit",  "open",  "return",
                                   "fetch", "push", "set",    "call",   "error", "throw", "catch", "expr"};
constexpr int EVENT_COUNT = 16;

// The tracer while do/trace runs (none otherwise), seen by the collector.
Cell tracer_slot{TYPE_NONE, 0, 0, 0};
uint32_t mask = 0;
bool rooted = false;

// The event words, made when a trace begins (an event then costs no lookup).
Cell event_words[EVENT_COUNT];

Cell event_word(uint32_t event) { return event_words[__builtin_ctz(event)]; }

// Each error raised while tracing is one error event, before the unwinding.
void on_error(const VyxError& e) {
    if (!interp::tracing) return;
    fire(EV_ERROR, 0, 0, nullptr, &e.value);
}

void mark_series(Node node, std::vector<Node>& seen) {
    SeriesBuffer* b = node_buffer(node);
    if (!b || (b->flags & series_flag::LIBRARY)) return;
    b->flags |= series_flag::LIBRARY;
    if (b->unit() != 16) return;
    seen.push_back(node);
}

}  // namespace

uint32_t events_mask(const Cell* tracer) {
    // The names first: making symbols may move the spec.
    int32_t names[EVENT_COUNT];
    for (int k = 0; k < EVENT_COUNT; k++) names[k] = symbol::resolve(symbol::make(EVENT_NAMES[k]));
    SeriesBuffer* spec = node_buffer(tracer->data2);
    if (spec->length() == 0) return ALL_EVENTS;
    const Cell* first = spec->cell_head();
    if (type_of(first) != TYPE_BLOCK) return ALL_EVENTS;
    uint32_t bits = 0;
    SeriesBuffer* words = node_buffer(first->data2);
    for (uint32_t i = first->data1; i < words->length(); i++) {
        const Cell* w = words->cell_head() + i;
        if (type_of(w) != TYPE_WORD) continue;
        int32_t s = symbol::resolve(int32_t(w->data2));
        for (int k = 0; k < EVENT_COUNT; k++)
            if (s == names[k]) bits |= 1u << k;
    }
    return bits;
}

void mark_library(const Cell* block) {
    std::vector<Node> pending;
    mark_series(block->data2, pending);
    while (!pending.empty()) {
        Node n = pending.back();
        pending.pop_back();
        SeriesBuffer* b = node_buffer(n);
        for (uint32_t i = 0, len = b->length(); i < len; i++) {
            const Cell* c = b->cell_head() + i;
            int t = type_of(c);
            if (is_any_block(t) || is_any_string(t)) mark_series(c->data2, pending);
        }
    }
}

void fire(uint32_t event, Node code, uint32_t position, const Cell* ref, const Cell* value) {
    if (!interp::tracing || !(mask & event) || type_of(&tracer_slot) != TYPE_FUNCTION) return;
    if (code && is_library(code)) return;
    Cell* saved_arguments = stack::arguments;
    Cell* saved_top = stack::top;
    stack::Frame* saved_frames = stack::frame_top;
    // The event word first: making it may allocate.
    Cell args[6]{};  // (the pair keeps its cell's flags: none)
    args[0] = event_word(event);
    if (code) {
        uint32_t length = node_buffer(code)->length();
        args[1] = Cell{TYPE_BLOCK, 0, code, 0};
        args[2] = Cell{TYPE_INTEGER, 0, position < length ? position : uint32_t(-1), 0};
    } else {
        args[1] = Cell{TYPE_NONE, 0, 0, 0};
        args[2] = Cell{TYPE_INTEGER, 0, uint32_t(-1), 0};
    }
    args[3] = value ? *value : Cell{TYPE_NONE, 0, 0, 0};
    args[4] = ref ? *ref : Cell{TYPE_NONE, 0, 0, 0};
    pair::make_at(&args[5], int32_t(stack::index_of(saved_arguments)), int32_t(stack::index_of(saved_top)));
    // The cell under observation stays as it is.
    stack::top++;
    Cell tracer = tracer_slot;
    interp::tracing = false;
    call::call_function(&tracer, args, 6, &words::interp_callback);
    interp::tracing = true;
    if (stack::thrown) return;
    stack::frame_top = saved_frames;
    stack::arguments = saved_arguments;
    stack::top = saved_top;
}

bool begin(const Cell* tracer) {
    if (interp::tracing || interp::trace_requested) return false;
    if (!rooted) {
        rooted = true;
        collector::add_gc_root_callback([] { collector::mark_cell(&tracer_slot); });
        error_raised_hook = on_error;
    }
    tracer_slot = *tracer;
    mask = events_mask(tracer);
    for (int k = 0; k < EVENT_COUNT; k++) event_words[k] = word::load(EVENT_NAMES[k]);
    interp::trace_requested = interp::tracing = true;
    fire(EV_INIT, 0, 0, nullptr, nullptr);
    return true;
}

void end() {
    // A pending exit is set aside while the tracer hears the end.
    uint32_t pending = stack::thrown;
    stack::thrown = stack::EXIT_NONE;
    fire(EV_END, 0, 0, nullptr, nullptr);
    if (!stack::thrown) stack::thrown = pending;
    clear();
}

void clear() {
    tracer_slot = Cell{TYPE_NONE, 0, 0, 0};
    mask = 0;
    interp::trace_requested = interp::tracing = false;
}

}  // namespace vyx::trace
