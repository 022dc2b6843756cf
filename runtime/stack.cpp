#include "runtime/stack.h"

#include "runtime/cells.h"
#include "runtime/memory.h"
#include "runtime/raise.h"

namespace vyx::stack {

Cell* bottom = nullptr;
Cell* top = nullptr;
Cell* arguments = nullptr;
Cell* limit = nullptr;
Frame* frame_bottom = nullptr;
Frame* frame_top = nullptr;
Frame* frame_limit = nullptr;
uint32_t thrown = EXIT_NONE;
uint32_t throw_origin = 0;
uint32_t sym_body = 0;
uint32_t sym_anon = 0;

namespace {

// Cycle-stack hook: emptied on overflow so that a mold or compare that ran
// out of stack does not leave stale entries behind. The cycle stack's owner
// installs it.
void no_cycle_reset() {}

const Cell UNSET{TYPE_UNSET, 0, 0, 0};

[[noreturn]] void overflow() {
    raise_error(err::internal_stack_overflow);
}

bool named(const Frame* f) {
    if (f->symbol == 0) return false;
    return f->symbol != sym_body && f->symbol != sym_anon;
}


}  // namespace

void (*cycle_reset)() = no_cycle_reset;


void init() {
    Node n = new_series_outside_gc(VALUE_STACK_CELLS, 16, 0);
    SeriesBuffer* b = node_buffer(n);
    bottom = reinterpret_cast<Cell*>(b->data());
    limit = reinterpret_cast<Cell*>(b->data() + b->size);
    Node f = new_series_outside_gc(FRAME_STACK_RECORDS * sizeof(Frame), 1, 0);
    SeriesBuffer* fb = node_buffer(f);
    frame_bottom = reinterpret_cast<Frame*>(fb->data());
    frame_limit = frame_bottom + FRAME_STACK_RECORDS;
    reset();
}

void reset() {
    top = arguments = bottom;
    *bottom = UNSET;
    frame_top = frame_bottom;
    thrown = EXIT_NONE;
    throw_origin = 0;
}

void value_stack_overflow() {
    // Leave a few cells of room for the error's own work.
    top -= 5;
    cycle_reset();
    overflow();
}

// Frames --------------------------------------------------------------------

void frame_stack_overflow() {
    top = top - bottom < 5 ? bottom : top - 5;
    cycle_reset();
    overflow();
}


uint32_t frame_base(const Frame* f) {
    return f + 1 < frame_top ? (f + 1)->saved_arguments : index_of(arguments);
}

void restore_frame_top(Frame* position) {
    while (frame_top > position) restore_context(--frame_top);
}

// Pops ------------------------------------------------------------------------


void pop_frame_discard() {
    Frame* f = --frame_top;
    top = arguments = bottom + f->saved_arguments;
}

void pop_frames_to_kind(FrameKind kind, bool keep) {
    Frame* remembered = frame_top;
    while (frame_top > frame_bottom) {
        Frame* f = --frame_top;
        restore_context(f);
        uint32_t k = f->kind();
        if (k == uint32_t(kind) || k == FRAME_TRY_ALL) break;
    }
    if (keep) frame_top++;
    if (frame_top == remembered) {
        top = arguments + 1;
    } else if (frame_top == frame_bottom) {
        arguments = top = bottom;
    } else {
        top = arguments + 1;
        arguments = bottom + frame_top->saved_arguments;
    }
    if (!keep) frame_top++;
}

void pop_frames_to_kind_pass_result(FrameKind kind) {
    Cell* from = arguments;
    pop_frames_to_kind(kind, false);
    Cell* base = bottom + frame_top->saved_arguments;
    copy_cell(from, base);
    arguments = top = base;
}

// Non-local exits ------------------------------------------------------------

namespace {

// Finds the target of an exit, walking down from `start`. Answers null when a
// try/all frame or the bottom is met first.
template <typename Match>
Frame* find_target(Frame* start, Match match) {
    for (Frame* f = start - 1; f >= frame_bottom; f--) {
        uint32_t k = f->kind();
        if (match(f)) return f;
        if (k == FRAME_TRY_ALL) return nullptr;
    }
    return nullptr;
}

// Cuts both stacks back so that `target` is the top frame and its call holds
// nothing yet: the receiver fills its result slot.
Cell* cut_to(Frame* target) {
    uint32_t base = frame_base(target);
    restore_frame_top(target + 1);
    arguments = top = bottom + base;
    return arguments;
}

}  // namespace

void raise_break(bool with_value, bool is_continue) {
    Frame* start = frame_top > frame_bottom ? frame_top - 1 : frame_top;
    Frame* loop = find_target(start, [](const Frame* f) { return f->kind() == FRAME_LOOP; });
    if (!loop) raise_error(is_continue ? err::throw_continue : err::throw_break);
    Cell value = *arguments;
    Cell* slot = cut_to(loop);
    *slot = (with_value && !is_continue) ? value : UNSET;
    top = slot + 1;
    thrown = is_continue ? EXIT_CONTINUE : EXIT_BREAK;
}

void raise_return(bool is_return, bool start_at_top) {
    Frame* start = (!start_at_top && frame_top > frame_bottom) ? frame_top - 1 : frame_top;
    Frame* body = find_target(start, [](const Frame* f) { return f->body(); });
    if (!body) raise_error(err::throw_return);
    Cell value = *arguments;
    Cell* slot = cut_to(body);
    *slot = is_return ? value : UNSET;
    top = slot + 1;
    thrown = is_return ? EXIT_RETURN : EXIT_EXIT;
}

void raise_throw(uint32_t code) {
    Frame* start = frame_top > frame_bottom ? frame_top - 1 : frame_top;
    if (!throw_origin) throw_origin = uint32_t(frame_top - frame_bottom);
    Frame* catcher = find_target(start, [](const Frame* f) { return f->kind() == FRAME_CATCH; });
    if (!catcher) {
        throw_origin = 0;
        raise_error(err::throw_throw, arguments);
    }
    Cell value = arguments[0];
    Cell name = top > arguments + 1 ? arguments[1] : Cell{TYPE_NONE, 0, 0, 0};
    cut_to(catcher);
    push(&value);
    push(&name);
    thrown = code;
}

// Call-stack reading -----------------------------------------------------------

CallName calling_function_name(bool skip_top) {
    Frame* start = frame_top;
    if (skip_top && start > frame_bottom) start--;
    if (throw_origin) {
        Frame* origin = frame_bottom + throw_origin;
        if (origin <= frame_top) start = origin;
        throw_origin = 0;
    }
    for (Frame* f = start - 1; f >= frame_bottom; f--)
        if (named(f)) return CallName{f->symbol, f->word_context};
    return CallName{0, 0};
}

void collect_calls(Cell* block) {
    for (Frame* f = frame_top - 1; f >= frame_bottom; f--) {
        if (!named(f)) continue;
        Cell* w = append_cell(block);
        *w = Cell{TYPE_WORD, f->function_context ? f->function_context : f->word_context, f->symbol, 0xFFFFFFFF};
        Cell* n = append_cell(block);
        *n = Cell{TYPE_INTEGER, 0, f->saved_arguments, 0};
    }
}

}  // namespace vyx::stack
