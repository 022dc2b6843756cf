// The evaluation stack: one stack of 16-byte cells shared by the interpreter,
// natives, actions and functions, and beside it the stack of call frames.
//
// The current call's arguments start at `arguments`; its first cell is also the
// result slot. Both stacks live outside the collected frames, so their cells
// never move; frame records still keep value-stack *indexes*, never addresses,
// so that nothing the collector might one day rewrite holds a raw pointer.
//
// Non-local exits. Errors travel as the C++ exception VyxError. break,
// continue, return, exit and throw travel as a pending code in `thrown`: the
// raising routine cuts the stacks back to the target frame, sets the code and
// returns normally; every evaluating routine checks `thrown` after each
// evaluation it starts and, when set, returns at once without touching the
// stacks. The receiving native (a loop, `catch`, a function body) clears it.
// A pending code costs one load and branch per step, while an exception costs
// microseconds per exit, which `return` in a hot function cannot afford.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::stack {

constexpr uint32_t VALUE_STACK_CELLS = 20000;
constexpr uint32_t FRAME_STACK_RECORDS = 12000;

extern Cell* bottom;
extern Cell* top;        // next free cell
extern Cell* arguments;  // base of the current call; cell 0 is the result slot
extern Cell* limit;

// Frame kinds, kept in header bits 24-27.
enum FrameKind : uint32_t {
    FRAME_FUNCTION = 1,
    FRAME_CALL = 2,
    FRAME_TRY = 4,
    FRAME_TRY_ALL = 5,
    FRAME_CATCH = 6,
    FRAME_LOOP = 8,
};
constexpr uint32_t KIND_SHIFT = 24;
constexpr uint32_t KIND_MASK = 0x0F000000;
constexpr uint32_t FRAME_BODY = 0x10000000;  // target of return and exit
constexpr uint32_t FRAME_EVAL = 0x80000000;  // pushed by the interpreter
constexpr uint32_t FRAME_LIBRARY = 0x40000000;  // pushed while library code runs

constexpr uint32_t kind_bits(FrameKind k) { return uint32_t(k) << KIND_SHIFT; }

// One call in progress. The naming symbol is kept whole: symbol ids grow
// without bound and a truncated id would name a frame after another word.
struct Frame {
    uint32_t header;            // kind, body and eval bits
    uint32_t symbol;            // symbol id of the naming word (0: none)
    uint32_t saved_arguments;   // the caller's arguments base, as a value-stack index
    uint32_t word_context;      // context node of the naming word (0: none)
    uint32_t function_context;  // kind 1: the function's context node, else 0
    uint32_t saved_values;      // kind 1: that context's values reference at push time

    uint32_t kind() const { return (header & KIND_MASK) >> KIND_SHIFT; }
    bool body() const { return header & FRAME_BODY; }
};

extern Frame* frame_bottom;
extern Frame* frame_top;  // next free record
extern Frame* frame_limit;

// Pending non-local exit codes (compared unsigned: higher codes pass more catch points).
enum ExitCode : uint32_t {
    EXIT_NONE = 0,
    EXIT_THROW = 0x7FFFFFFA,
    EXIT_EXIT = 0x7FFFFFFB,
    EXIT_RETURN = 0x7FFFFFFC,
    EXIT_CONTINUE = 0x7FFFFFFD,
    EXIT_BREAK = 0x7FFFFFFE,
};
// The exit in flight, 0 when none.
extern uint32_t thrown;

// Called on overflow to empty the cycle stack (the series being molded or
// compared); its owner installs it.
extern void (*cycle_reset)();

// Brings both stacks up (runtime initialisation) and resets them.
void init();
// Drops every value and frame and any pending exit: the state after init.
void reset();

inline uint32_t index_of(const Cell* c) { return uint32_t(c - bottom); }
inline Cell* cell_at(uint32_t index) { return bottom + index; }

// Value stack operations.
[[noreturn, gnu::cold]] void value_stack_overflow();
inline Cell* push_slot() {
    Cell* cell = top++;
    if (top >= limit) [[unlikely]] value_stack_overflow();
    return cell;
}
inline Cell* push(const Cell* cell) {
    Cell* slot = push_slot();
    *slot = *cell;
    return slot;
}
inline Cell* result() { return arguments; }
inline void set_last(const Cell* cell) { copy_cell(cell, arguments); }
inline void keep_result_only() { top = arguments + 1; }
inline void store_result_only(const Cell* cell) {
    top = arguments + 1;
    copy_cell(cell, arguments);
}

// Frame operations. Each push makes the value top the new arguments base.
[[noreturn, gnu::cold]] void frame_stack_overflow();
inline Frame* new_record() {
    if (frame_top >= frame_limit) [[unlikely]] frame_stack_overflow();
    return frame_top++;
}
inline void push_frame(uint32_t symbol, uint32_t word_context, uint32_t bits) {
    Frame* f = new_record();
    *f = Frame{bits, symbol, uint32_t(arguments - bottom), word_context, 0, 0};
    arguments = top;
}
inline void push_function_frame(uint32_t symbol, uint32_t word_context, Node function_context, uint32_t bits = 0);
inline void push_frame(const Cell* word, uint32_t bits) { push_frame(word->data2, word->data1, bits); }
inline void push_call_frame(const Cell* word) { push_frame(word, kind_bits(FRAME_CALL)); }
inline void push_try_frame(const Cell* word) { push_frame(word, kind_bits(FRAME_TRY)); }
inline void push_try_all_frame(const Cell* word) { push_frame(word, kind_bits(FRAME_TRY_ALL)); }
inline void push_catch_frame(const Cell* word) { push_frame(word, kind_bits(FRAME_CATCH)); }
inline void push_loop_frame(const Cell* word) { push_frame(word, kind_bits(FRAME_LOOP)); }
inline Frame* current_frame() { return frame_top - 1; }
inline uint32_t frame_depth() { return uint32_t(frame_top - frame_bottom); }
// The value-stack index at which frame f's call begins.
uint32_t frame_base(const Frame* f);
// Sets the frame top back to a saved position, giving every function
// context above it its saved values back.
void restore_frame_top(Frame* position);

// Pops (the popped frame is the callee; its base is the current arguments base).
inline void pop_frame_keep_result() {
    Frame* f = --frame_top;
    top = arguments + 1;
    arguments = bottom + f->saved_arguments;
}
inline void pop_frame_pass_result() {
    Cell* result = arguments;
    pop_frame_keep_result();
    copy_cell(result, arguments);
}
inline void pop_function_frame();
inline void pop_function_frame_pass_result();
void pop_frame_discard();
void pop_frames_to_kind(FrameKind kind, bool keep);
void pop_frames_to_kind_pass_result(FrameKind kind);

// Non-local exits. Each cuts the stacks back to its target frame, sets
// `thrown` and returns; with no target it raises the throw error instead.
void raise_break(bool with_value, bool is_continue);
void raise_return(bool is_return, bool start_at_top);
void raise_throw(uint32_t code = EXIT_THROW);
// Frame position where the pending throw began, 0 when none (read and cleared
// by calling_function_name).
extern uint32_t throw_origin;

// The symbol and context of the nearest frame not named <body> or <anon>;
// skip_top passes over the top frame (a native naming its caller).
struct CallName {
    uint32_t symbol;  // 0 when no frame qualifies
    uint32_t context;
};
CallName calling_function_name(bool skip_top = false);
// Appends, innermost first, the naming word and the saved arguments index of
// every named frame.
void collect_calls(Cell* block);

// Frame-top position recorded for an error (its `stack` field): the frames
// below it are what the error report lists.
inline uint32_t frame_position() { return uint32_t(frame_top - frame_bottom); }

// Symbols of the runtime words that name frames, set by init_frame_names once
// the symbol table exists (0 before: then every frame counts as named).
extern uint32_t sym_body, sym_anon;

// A value-stack index stored in a function context's values word: 0 means
// "not running", so indexes are kept one up.
inline uint32_t values_ref_of(const Cell* base) { return index_of(base) + 1; }
inline Cell* cell_of_values_ref(uint32_t ref) { return ref ? bottom + (ref - 1) : nullptr; }
inline uint32_t context_values_ref(Node context) { return node_buffer(context)->read_cells()->data2; }
inline void set_context_values_ref(Node context, uint32_t ref) {
    node_buffer(context)->cell_head()->data2 = ref;
    if (ref)
        know_values(context, cell_of_values_ref(ref));
    else
        forget_values(context);
}

// Gives a function frame's context its values reference back.
inline void restore_context(const Frame* f) {
    if (f->function_context) set_context_values_ref(f->function_context, f->saved_values);
}

inline void push_function_frame(uint32_t symbol, uint32_t word_context, Node function_context, uint32_t bits) {
    Frame* f = new_record();
    uint32_t saved = function_context ? context_values_ref(function_context) : 0;
    *f = Frame{kind_bits(FRAME_FUNCTION) | bits, symbol, index_of(arguments), word_context, function_context, saved};
    arguments = top;
}
inline void pop_function_frame() {
    restore_context(frame_top - 1);
    pop_frame_keep_result();
}
inline void pop_function_frame_pass_result() {
    restore_context(frame_top - 1);
    pop_frame_pass_result();
}

}  // namespace vyx::stack
