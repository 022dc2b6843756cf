// Garbage collector interface used by the allocator.
#pragma once
#include <cstdint>

namespace vyx::collector {

// Whether allocation may run a collection. Off until the runtime is fully up.
extern bool active;
// Collection counter: the number of collections run so far.
extern uint32_t cycles;
// Runs a collection when `active`; returns whether one ran.
bool collect_if_active();

}  // namespace vyx::collector
