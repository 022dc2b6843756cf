// The cycle stack: the series and contexts on the current descent of a mold,
// form, compare or deep walk, so that a value met again inside itself is cut
// short instead of looping forever.
//
// Entries are node ids (payload word 2 of a series value, word 1 of an
// object!). The stack holds at most CYCLE_STACK_SIZE - 1 entries; the push
// that would fill it empties it and raises internal/too-deep, so whoever
// catches the error starts from a clean stack.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx {

constexpr uint32_t CYCLE_STACK_SIZE = 1000;

// Part of runtime initialisation: empties the stack and lets the value stack
// empty it on overflow.
void init_cycle_stack();

void push_cycle(Node node);
void drop_cycles(uint32_t n);
void reset_cycles();
bool is_cycle_found(Node node);
// Raises internal/no-cycle, the stack emptied, when the node is on the
// descent already: a walk that would copy or read a block inside itself.
void refuse_cycle(Node node);
// Entries on the stack now.
uint32_t cycle_depth();

// `base` holds one item of `size` bytes; fills it with `count` items in all by
// copying the filled part onto its end, doubling while it fits, then the rest
// once. Answers the end of the filled area.
uint8_t* fill_by_doubling(uint8_t* base, uint32_t size, uint32_t count);

// Push/pop pairing that also survives an error thrown out of the walk.
struct CycleGuard {
    uint32_t depth;
    explicit CycleGuard(Node node) : depth(cycle_depth()) { push_cycle(node); }
    // The guard of a walk that must not meet its node again: refuses the
    // node when the descent holds it already (see refuse_cycle).
    static CycleGuard refusing(Node node) {
        refuse_cycle(node);
        return CycleGuard(node);
    }
    ~CycleGuard();
    CycleGuard(const CycleGuard&) = delete;
    CycleGuard& operator=(const CycleGuard&) = delete;
};

}  // namespace vyx
