#include "runtime/stats.h"

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

namespace vyx::stats {

namespace {

constexpr uint32_t NODE_SLOT_BYTES = sizeof(uintptr_t);

uint64_t big_header_bytes(BigSeries* big) {
    return uint64_t(reinterpret_cast<uint8_t*>(big->buffer()) - reinterpret_cast<uint8_t*>(big));
}

// A new block as the next entry of `block`, on its own line.
Cell* append_block(Cell* block, uint32_t capacity) {
    Node n = new_cell_series(capacity);
    Cell* c = append_cell(block);
    *c = Cell{TYPE_BLOCK | FLAG_NEW_LINE, 0, n, 0};
    return c;
}

void append_triple(Cell* list, uint64_t free, uint64_t used, uint64_t total) {
    Cell entry = *append_block(list, 3);
    append_stats_entry(&entry, double(free));
    append_stats_entry(&entry, double(used));
    append_stats_entry(&entry, double(total));
}

}  // namespace

double memory_in_use() {
    collector::Pause pause;
    double total = 0;
    for (int32_t i = memory.first_node_frame; i >= 0; i = memory.node_frames[i].next)
        total += double(memory.node_frames[i].used) * NODE_SLOT_BYTES;
    for (SeriesFrame* f = memory.first_frame; f; f = f->next) total += double(f->heap - f->data_start());
    for (BigSeries* b = memory.first_big; b; b = b->next) total += double(b->size);
    return total;
}

Cell* append_stats_entry(Cell* block, double bytes) {
    Cell* c = append_cell(block);
    if (bytes > 2147483647.0) {
        *c = Cell{TYPE_FLOAT, 0, 0, 0};
        set_cell_float(c, bytes);
    } else {
        *c = Cell{TYPE_INTEGER, 0, uint32_t(int32_t(bytes)), 0};
    }
    return c;
}

double memory_stats_block(Cell* out, int mode) {
    double total = memory_in_use();
    if (mode < 2) return total;
    // Nothing moves while the collector is paused, so the entry cells copied
    // below stay valid as block values (they name their series by node).
    collector::Pause pause;
    *out = Cell{TYPE_BLOCK, 0, new_cell_series(5), 0};

    Cell nodes = *append_block(out, 4);
    for (int32_t i = memory.first_node_frame; i >= 0; i = memory.node_frames[i].next) {
        const NodeFrame& f = memory.node_frames[i];
        append_triple(&nodes, f.capacity - f.used, f.used, f.capacity);
    }
    Cell frames = *append_block(out, 4);
    for (SeriesFrame* f = memory.first_frame; f; f = f->next)
        append_triple(&frames, uint64_t(f->end - f->heap), uint64_t(f->heap - f->data_start()),
                      uint64_t(f->end - f->data_start()));
    Cell bigs = *append_block(out, 4);
    uint64_t big_total = 0;
    for (BigSeries* b = memory.first_big; b; b = b->next) {
        append_stats_entry(&bigs, double(b->size))->header |= FLAG_NEW_LINE;
        big_total += b->size + big_header_bytes(b);
    }
    append_stats_entry(out, double(big_total))->header |= FLAG_NEW_LINE;
    append_stats_entry(out, double(runtime_heap_bytes()))->header |= FLAG_NEW_LINE;
    return total;
}

}  // namespace vyx::stats
