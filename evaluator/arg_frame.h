// The argument frame of a callable: where each argument and refinement of
// its spec lives and which types it admits. Built once per callable from its
// spec and kept with it; the interpreter's argument gathering, the C++ call
// helper and the natives' own argument checks all read this one description.
//
// The description sits in a byte series of the callable's private storage,
// so it may move when the collector runs: read it again through its node
// after anything that can allocate.
#pragma once
#include <array>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::interp {

// How an argument is taken from the code.
enum ArgKind : uint8_t { ARG_NORMAL = 0, ARG_GET = 1, ARG_LITERAL = 2, ARG_REFINEMENT = 3 };

// One argument or refinement, in spec order.
struct ArgSlot {
    Cell types;          // typeset of the admitted types (empty for a refinement)
    uint32_t symbol;     // the spec word
    uint16_t slot;       // a function's frame cell: arguments, then each refinement's flag and arguments
    uint8_t kind;        // ArgKind
    uint8_t refinement;  // 0 for a mandatory argument, else its refinement's number (from 1)
    uint32_t canonical;  // the spec word's canonical symbol: what a path's refinement is matched by
};
static_assert(sizeof(ArgSlot) == 28);

struct ArgFrame {
    uint16_t count;        // entries in `slots`
    uint16_t mandatory;    // arguments before the first refinement (they come first in `slots`)
    uint16_t refinements;  // number of refinements
    uint16_t width;        // a function's frame cells before its locals
    uint32_t locals;       // a function's locals (the /local flag included), 0 when none
    uint32_t lean;         // every mandatory argument is taken normally and refuses unset!
    ArgSlot slots[1];

    const ArgSlot* begin() const { return slots; }
    const ArgSlot* end() const { return slots + count; }
};

// What a native's or an action's entry reads when none of its refinements
// is named: -1 for each.
inline constexpr std::array<int, 64> NO_REFINEMENTS = [] {
    std::array<int, 64> refs{};
    refs.fill(-1);
    return refs;
}();

// The description of a native, action, function, routine (built on first
// use) and its node.
Node build_arg_frame(const Cell* callable);
inline Node arg_frame_node(const Cell* callable) {
    const Cell* slot = node_buffer(callable->data3)->read_cells() + 1;  // the callable's MORE_CACHE cell
    if (type_of(slot) == TYPE_BINARY) [[likely]] return slot->data2;
    return build_arg_frame(callable);
}
inline const ArgFrame* arg_frame_at(Node node) {
    return reinterpret_cast<const ArgFrame*>(node_buffer(node)->read_head());
}
inline const ArgFrame* arg_frame(const Cell* callable) { return arg_frame_at(arg_frame_node(callable)); }

// The spec word of argument k (0-based, refinements not counted), as a word!:
// what argument errors name.
Cell argument_word(const Cell* callable, int k);

}  // namespace vyx::interp
