#include "runtime/cycle_stack.h"

#include <cstring>

#include "datatypes/string.h"
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

void pop_cycle() {
    if (top > 0) top--;
}

void drop_cycles(uint32_t n) { top = n > top ? 0 : top - n; }

void reset_cycles() { top = 0; }

uint32_t cycle_depth() { return top; }

bool is_cycle_found(Node node) {
    for (uint32_t i = 0; i < top; i++)
        if (entries[i] == node) return true;
    return false;
}

void forward_cycle_stack(Node (*forward)(Node)) {
    for (uint32_t i = 0; i < top; i++) entries[i] = forward(entries[i]);
}

bool mold_cycle_marker(const Cell* value, Cell* buffer, int* limit, bool mold) {
    int t = type_of(value);
    Node node = t == TYPE_OBJECT ? value->data1 : value->data2;
    if (!is_cycle_found(node)) return false;
    const char* marker = "...";
    if (mold) {
        switch (t) {
        case TYPE_BLOCK: case TYPE_HASH: marker = "[...]"; break;
        case TYPE_PAREN: marker = "(...)"; break;
        case TYPE_MAP: marker = "#[...]"; break;
        case TYPE_OBJECT: marker = "make object! [...]"; break;
        default: break;
        }
    }
    *limit = string::concatenate_literal(buffer, marker, *limit);
    return true;
}

int mold_indent(Cell* buffer, int levels, int limit) {
    for (int i = 0; i < levels; i++) limit = string::concatenate_literal(buffer, "    ", limit);
    return limit;
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
