// Collector speed: pause time against the live heap, marking and compaction
// throughput, and an allocation-heavy loop with collections running.
//
// The live heap is a tree of mixed blocks and strings: a top block of group
// blocks, each holding items; an item is an 8-cell block with four integers
// and four strings of 24 to 150 bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "boot/init.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/handles.h"
#include "runtime/memory.h"

using namespace vyx;

namespace {

constexpr uint32_t ITEMS_PER_GROUP = 1000;

struct Fresh {
    Fresh() {
        init_runtime();
        collector::active = false;
        collector::stress_every = 0;
        collector::evacuate = false;
    }
    ~Fresh() { shutdown_runtime(); }
};

uint64_t frames_used() {
    uint64_t n = 0;
    for (SeriesFrame* f = memory.first_frame; f; f = f->next) n += uint64_t(f->heap - f->data_start());
    for (BigSeries* b = memory.first_big; b; b = b->next) n += b->size;
    return n;
}

void append_to(Node block, const Cell& v) {
    Cell holder{TYPE_BLOCK, 0, block, 0};
    Cell copy = v;
    *append_cell(&holder) = copy;
}

Node make_string(uint32_t len, uint32_t seed) {
    Node n = new_byte_series(len);
    SeriesBuffer* b = node_buffer(n);
    std::memset(reserve_tail_bytes(b, len), 'a' + seed % 26, len);
    return n;
}

Node make_item(uint32_t seed) {
    Node item = new_cell_series(8);
    for (uint32_t k = 0; k < 4; k++) {
        append_to(item, Cell{TYPE_INTEGER, 0, seed + k, 0});
        append_to(item, Cell{TYPE_STRING, 0, make_string(24 + (seed * 7 + k * 31) % 127, seed + k), 0});
    }
    return item;
}

// Builds about `bytes` of live data under a value slot; the collector is off
// meanwhile, so nothing needs rooting. Returns the slot.
uint32_t build_heap(uint64_t bytes) {
    Node top = new_cell_series(16);
    Cell top_cell{TYPE_BLOCK, 0, top, 0};
    uint32_t slot = value_slots::place(&top_cell);
    uint64_t start = frames_used();
    uint32_t seed = 0;
    while (frames_used() - start < bytes) {
        Node group = new_cell_series(ITEMS_PER_GROUP);
        append_to(top, Cell{TYPE_BLOCK, 0, group, 0});
        for (uint32_t i = 0; i < ITEMS_PER_GROUP; i++) append_to(group, Cell{TYPE_BLOCK, 0, make_item(seed++), 0});
    }
    return slot;
}

// Garbage among the live data: every other item of every group is replaced
// by a fresh one, so the old items die scattered through the frames.
void churn(uint32_t slot, uint32_t every) {
    Node top = value_slots::at(slot)->data2;
    uint32_t groups = node_buffer(top)->length();
    for (uint32_t g = 0; g < groups; g++) {
        Node group = node_buffer(top)->cell_head()[g].data2;
        uint32_t n = node_buffer(group)->length();
        for (uint32_t i = g % every; i < n; i += every) {
            Node item = make_item(i);
            node_buffer(group)->cell_head()[i] = Cell{TYPE_BLOCK, 0, item, 0};
        }
    }
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    size_t i = size_t(p * double(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// Full collections of a live heap with 5% of it replaced between them.
void BM_PauseVsLiveHeap(benchmark::State& state) {
    uint64_t mb = uint64_t(state.range(0));
    int rounds = mb <= 10 ? 60 : mb <= 100 ? 20 : 8;
    for (auto _ : state) {
        Fresh rt;
        uint32_t slot = build_heap(mb << 20);
        collector::collect_garbage();
        uint64_t live = frames_used();
        std::vector<double> pauses, mark_rate, mark_ms, compact_ms;
        for (int r = 0; r < rounds; r++) {
            churn(slot, 20);
            collector::collect_garbage();
            pauses.push_back(collector::last.total_ms);
            mark_rate.push_back(double(collector::last.live_cells) / collector::last.mark_ms);
            mark_ms.push_back(collector::last.mark_ms);
            compact_ms.push_back(collector::last.compact_ms);
        }
        state.counters["live_MB"] = double(live) / 1048576.0;
        state.counters["p50_ms"] = percentile(pauses, 0.5);
        state.counters["p99_ms"] = percentile(pauses, 0.99);
        state.counters["mark_cells_per_ms"] = percentile(mark_rate, 0.5);
        state.counters["mark_ms"] = percentile(mark_ms, 0.5);
        state.counters["compact_ms"] = percentile(compact_ms, 0.5);
    }
}
BENCHMARK(BM_PauseVsLiveHeap)->Arg(10)->Arg(100)->Arg(500)->Iterations(1)->Unit(benchmark::kMillisecond);

// Half the items die, so compaction moves about half the heap.
void BM_CompactionThroughput(benchmark::State& state) {
    for (auto _ : state) {
        Fresh rt;
        uint32_t slot = build_heap(100ull << 20);
        collector::collect_garbage();
        churn(slot, 2);
        collector::collect_garbage();
        state.counters["moved_MB"] = double(collector::last.moved_bytes) / 1048576.0;
        state.counters["compact_MB_per_s"] =
            double(collector::last.moved_bytes) / 1048576.0 / (collector::last.compact_ms / 1000.0);
        state.counters["pause_ms"] = collector::last.total_ms;
    }
}
BENCHMARK(BM_CompactionThroughput)->Iterations(1)->Unit(benchmark::kMillisecond);

// Small blocks made and dropped with 10 MB live and the allocator's own
// collection triggers.
void BM_AllocationHeavyLoop(benchmark::State& state) {
    Fresh rt;
    build_heap(10ull << 20);
    collector::active = true;
    uint32_t cycles = collector::cycles;
    for (auto _ : state) {
        Node n = new_cell_series(4);
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.counters["collections"] = double(collector::cycles - cycles);
    state.counters["os_MB"] = double(memory.os_bytes) / 1048576.0;
}
BENCHMARK(BM_AllocationHeavyLoop)->Iterations(5000000);

}  // namespace
