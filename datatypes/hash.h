// hash!: the index updates that other series handlers need when a hash! is
// the second series they change (move into it, swap with it).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::hash {

// The cells at [at, old_end) of a hash!'s block (old_n cells before the
// change) were replaced by those now at [at, new_end), the cells behind them
// moving along: its index is brought in step. Other values are left alone.
void update(const Cell* s, uint32_t old_n, uint32_t at, uint32_t old_end, uint32_t new_end);

}  // namespace vyx::hash
