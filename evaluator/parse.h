// The parse dialect: matches a block, string or binary against a block of
// rules. One iterative engine runs every rule over its own frame stack, so a
// deep or self-referring grammar ends in an error, never in a C++ stack
// overflow or a hang.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::parse {

// Registers the engine's stacks with the collector (runtime initialisation).
void init();

// Frame cells each of the two stacks may hold before "stack limit reached".
constexpr uint32_t STACK_LIMIT_CELLS = 10000;

}  // namespace vyx::parse
