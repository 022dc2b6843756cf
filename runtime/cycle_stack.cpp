#include "runtime/cycle_stack.h"

#include <cstring>

#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx {

namespace {

Node entries[CYCLE_STACK_SIZE];
uint32_t top = 0;

}  // namespace

void init_cycle_stack() {
    top = 0;
    stack::cycle_reset = reset_cycles;
}

void push_cycle(Node node) {
    entries[top++] = node;
    if (top >= CYCLE_STACK_SIZE) {
        top = 0;
        raise_error(err::internal_too_deep);
    }
}

void drop_cycles(uint32_t n) { top = n > top ? 0 : top - n; }

void reset_cycles() { top = 0; }

uint32_t cycle_depth() { return top; }

bool is_cycle_found(Node node) {
    for (uint32_t i = 0; i < top; i++)
        if (entries[i] == node) return true;
    return false;
}

void refuse_cycle(Node node) {
    if (!is_cycle_found(node)) return;
    reset_cycles();
    raise_error(err::internal_no_cycle);
}

uint8_t* fill_by_doubling(uint8_t* base, uint32_t size, uint32_t count) {
    if (count == 0) return base;
    uint64_t total = uint64_t(size) * count;
    uint64_t filled = size;
    while (filled * 2 <= total) {
        std::memcpy(base + filled, base, filled);
        filled *= 2;
    }
    if (filled < total) std::memcpy(base + filled, base, total - filled);
    return base + total;
}

CycleGuard::~CycleGuard() {
    if (cycle_depth() > depth) drop_cycles(cycle_depth() - depth);
}

}  // namespace vyx
