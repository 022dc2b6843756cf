// Memory statistics: the figures behind the `stats` and `recycle` natives.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::stats {

// Bytes in use: the node slots of every used node, the used part of every
// series frame, and every big series.
double memory_in_use();

// Mode 1: returns memory_in_use() and leaves `out` alone. Mode 2 or more also
// writes into `out` a block of five entries: a block of [free used total]
// node counts per node frame; a block of [free used total] bytes per series
// frame; a block of the big series' sizes; the bytes of the big series with
// their headers; the bytes of the runtime's own heap blocks. `out` must be a
// cell the collector can see (a stack slot or a rooted cell); the collector
// is paused while the block is built.
double memory_stats_block(Cell* out, int mode);

// Appends a byte count to a block: an integer!, or a float! above 2147483647.
Cell* append_stats_entry(Cell* block, double bytes);

}  // namespace vyx::stats
