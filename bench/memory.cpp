// Allocation speed of the memory manager: making small series and appending cells.
#include <benchmark/benchmark.h>

#include "boot/init.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

using namespace vyx;

namespace {

// The allocator alone: the collector stays off, and every benchmark starts
// from a fresh runtime and restarts it before it takes too much memory
// (bench/gc.cpp measures allocation with collections).
struct Fresh {
    Fresh() { start(); }
    ~Fresh() { shutdown_runtime(); }
    static void start() {
        init_runtime();
        collector::active = false;
    }
};

// Times make() alone, one series a run; the runtime restarts (untimed) after
// every two million series.
template <typename Make>
void time_new_series(benchmark::State& state, Make make) {
    Fresh rt;
    size_t made = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(make());
        if (++made == 2000000) {
            state.PauseTiming();
            shutdown_runtime();
            Fresh::start();
            made = 0;
            state.ResumeTiming();
        }
    }
}

void BM_NewCellSeries4(benchmark::State& state) {
    time_new_series(state, [] { return new_cell_series(4); });
}
BENCHMARK(BM_NewCellSeries4);

void BM_NewByteSeries32(benchmark::State& state) {
    time_new_series(state, [] { return new_byte_series(32); });
}
BENCHMARK(BM_NewByteSeries32);

void BM_AppendCells(benchmark::State& state) {
    for (auto _ : state) {
        Fresh rt;
        Cell block{TYPE_BLOCK, 0, new_cell_series(16), 0};
        for (int i = 0; i < 10000000; i++) append_cell(&block)->data2 = uint32_t(i);
        benchmark::DoNotOptimize(block);
    }
    state.SetItemsProcessed(state.iterations() * 10000000);
}
BENCHMARK(BM_AppendCells)->Unit(benchmark::kMillisecond);

}  // namespace
