// Allocation speed of the memory manager: making small series and appending cells.
#include <benchmark/benchmark.h>

#include "boot/init.h"
#include "runtime/cells.h"
#include "runtime/memory.h"

using namespace vyx;

namespace {

// The collector is not in yet, so every benchmark starts from a fresh runtime
// and stops before it takes an unreasonable amount of memory.
struct Fresh {
    Fresh() { init_runtime(); }
    ~Fresh() { shutdown_runtime(); }
};

void BM_NewCellSeries4(benchmark::State& state) {
    Fresh rt;
    size_t made = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(new_cell_series(4));
        if (++made == 2000000) {
            state.PauseTiming();
            shutdown_runtime();
            init_runtime();
            made = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_NewCellSeries4);

void BM_NewByteSeries32(benchmark::State& state) {
    Fresh rt;
    size_t made = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(new_byte_series(32));
        if (++made == 2000000) {
            state.PauseTiming();
            shutdown_runtime();
            init_runtime();
            made = 0;
            state.ResumeTiming();
        }
    }
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
