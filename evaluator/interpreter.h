// The interpreter: evaluates blocks one expression at a time on the
// evaluation stack, calling natives, actions, functions and routines with the
// arguments it gathers from the block.
//
// Positions are element indexes into the block's buffer counted from its
// head, never addresses: evaluating an expression may allocate, and
// allocation may move the very block being evaluated.
#pragma once
#include <atomic>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::interp {

// The blocks under evaluation, innermost first, each positioned at the
// expression being evaluated: records on the machine stack, linked by the
// whole-block evaluation that runs them. Library code's blocks take no
// place here, so an error's near stays the user's expression.
struct Running {
    Cell block;
    Running* outer;
};
extern Running* running;
// The innermost block under evaluation, none when there is none.
inline Cell current_block() { return running ? running->block : Cell{TYPE_NONE, 0, 0, 0}; }
// Tracing requested, and tracing active now.
extern bool trace_requested;
extern bool tracing;
// stack::FRAME_LIBRARY while library code is being evaluated, else 0: the
// frames pushed meanwhile carry it.
extern uint32_t library_frames;

// The poll word: requests the interpreter notices between two expressions
// of a block (tested with the pending exit, one load when none is set).
// Set from anywhere, a signal handler included.
enum PollBits : uint32_t { POLL_HALT = 1, POLL_EVENT = 2 };
extern std::atomic<uint32_t> poll_word;
// Asks the evaluation to stop as halt does: a throw of the word halt-request
// named console, which the console reports as "(halted)".
inline void request_halt() { poll_word.fetch_or(POLL_HALT, std::memory_order_relaxed); }

// Runtime initialisation: resets the state and measures the machine stack.
void init();

// Evaluates the whole block. The caller keeps the block reachable (natives
// evaluate their own argument cells; function bodies are held by their
// function, which the call keeps on the stack). keep: its value stays as the new top of the
// caller's call; otherwise it also goes into the caller's result slot.
// Returns early, with the stacks already cut back, when an exit is pending.
void eval_whole_block(const Cell* block, bool keep);

// Evaluates a block as a native's whole-block argument: its value goes into
// the current call's result slot, where the block waits while it runs.
void do_block(const Cell* block);

// What if, unless and either (natives::N_IF, N_UNLESS, N_EITHER) do with the
// condition in the current call's frame and the branch blocks at `branches`
// (one for if and unless, two for either), which need not be on the stack.
void conditional(uint32_t which, const Cell* branches);

// Evaluates one expression of the series from `position` (an index from the
// buffer's head); returns the position after it. push: its value is pushed;
// otherwise it is taken in a call frame named <body> and goes into the
// caller's result slot.
uint32_t eval_next_at(const Cell* series, uint32_t position, uint32_t end, bool push);

// The core step: one expression and the infix operators that follow it.
uint32_t eval_one_expression(Node code, uint32_t position, uint32_t end, bool no_infix);

// Gathers the arguments of a callable and calls it. `path` (or null)
// supplies refinements from `path_position` on; `name` (or null) names the
// call; `object` (or null) is the object through which a path reached it.
// A mode above 0 makes an applying call, whose arguments come from the
// values between `position` and `end` (a block of apply): APPLY_ALL takes
// every argument and refinement switch in spec order, APPLY_NAMED the
// arguments then the refinements named in the rest (a path names them
// instead in both); APPLY_SAFER makes every argument a single value.
enum ApplyMode : int { APPLY_NONE = 0, APPLY_ALL = 1, APPLY_NAMED = 2, APPLY_SAFER = 4 };
uint32_t invoke_callable(const Cell* callable, Node code, uint32_t position, uint32_t end, bool keep,
                         const Cell* path, uint32_t path_position, const Cell* name, bool infix,
                         const Cell* object = nullptr, int mode = APPLY_NONE);

// Runs a function! whose arguments are already in the current frame.
void invoke_function_value(const Cell* fn);
void eval_function_body(const Cell* fn, const Cell* body);
void invoke_routine_value(const Cell* routine);

// Evaluates a path!, get-path! or set-path! whose elements follow the head
// word; in set mode `value` is stored at the last element. A callable head,
// or (evaluating a path!) a function reached through an object, is called
// with the remaining elements as refinements and the arguments that follow
// `position` in the code. case_ makes selection case-sensitive. The final
// value is pushed (push) or stored in the result slot. Returns the position after what the call took.
uint32_t walk_path(const Cell* path, Node code, uint32_t position, uint32_t end, bool push, int mode,
                   const Cell* value, bool case_ = false);
enum PathMode { PATH_GET_VALUE = 0, PATH_SET = 1, PATH_GET = 2 };

// do/next on a series: the result goes into the result slot; returns the
// new index counted from the buffer's head.
uint32_t do_next_in_series(const Cell* series);

// The value of a word (any word type), by reference into its context; raises
// the context's errors. Only good until the next allocation.
const Cell* word_value(const Cell* word);

// Guard on the machine stack: raises internal/stack-overflow when the C++
// stack has grown past its budget.
void check_machine_stack();


}  // namespace vyx::interp
