// Evaluation tracing: `do/trace` runs a block with a tracer function that the
// interpreter calls at chosen points (a value fetched, pushed or set, a block
// entered or left, a call opened, made or returned, an error, throw or catch).
//
// Library code is marked (a flag on its series and on the frames pushed while
// it runs) and behaves towards tracing as compiled code would: it fires no
// events of its own, and its bodies get no prolog or epilog.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::trace {

enum Event : uint32_t {
    EV_INIT = 0x0001,
    EV_END = 0x0002,
    EV_PROLOG = 0x0004,
    EV_EPILOG = 0x0008,
    EV_ENTER = 0x0010,
    EV_EXIT = 0x0020,
    EV_OPEN = 0x0040,
    EV_RETURN = 0x0080,
    EV_FETCH = 0x0100,
    EV_PUSH = 0x0200,
    EV_SET = 0x0400,
    EV_CALL = 0x0800,
    EV_ERROR = 0x1000,
    EV_THROW = 0x2000,
    EV_CATCH = 0x4000,
    EV_EXPR = 0x8000,
};
constexpr uint32_t ALL_EVENTS = 0x1FFFF;

// The events a tracer asks for: the event words of the block that opens its
// spec, or every event.
uint32_t events_mask(const Cell* tracer);

// Whether a series is library code.
inline bool is_library(Node series) { return node_buffer(series)->flags & series_flag::LIBRARY; }
// Marks a block and every series inside it, at any depth, as library code.
void mark_library(const Cell* block);

// Calls the tracer for the event when tracing is on, the tracer wants the
// event and the code (0: none) is not library code. `position` is counted
// from the buffer's start; `ref` and `value` may be null (none).
void fire(uint32_t event, Node code, uint32_t position, const Cell* ref, const Cell* value);

// do/trace: installs the tracer (unless tracing is already on: traces do not
// nest) and answers whether it did; `end` fires the end event and clears the
// tracer and both flags whatever happened in between.
bool begin(const Cell* tracer);
void end();
// Clears the tracer and both flags (after an error or at reset).
void clear();

}  // namespace vyx::trace
