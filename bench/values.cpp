// Values that live whole in a cell: pair, tuple, point and percent
// arithmetic in loops of 10^6, against the same loop over integers. Each
// also reports the series bytes allocated per operation (expected 0).
#include <benchmark/benchmark.h>

#include "boot/init.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "runtime/memory.h"
#include "runtime/collector.h"
#include "tests/unit/source_text.h"

using namespace vyx;

namespace {

struct Fresh {
    Fresh() { init_runtime(); }
    ~Fresh() { shutdown_runtime(); }
};

void run(const Cell& block) {
    Cell* top = stack::top;
    interp::eval_whole_block(&block, true);
    stack::top = top;
}

constexpr int64_t N = 1'000'000;

void loop(benchmark::State& state, const char* setup, const char* body) {
    Fresh rt;
    run(test::load(setup));
    // Kept in a root: the benchmark's collections must not take the program.
    collector::Rooted<1> kept;
    kept[0] = test::load(body);
    Cell program = kept[0];
    uint64_t before = memory.allocated_since_collection;
    int64_t runs = 0;
    for (auto _ : state) {
        run(program);
        runs++;
    }
    state.SetItemsProcessed(state.iterations() * N);
    state.counters["bytes_per_op"] = double(memory.allocated_since_collection - before) / double(runs * N);
}

void BM_IntegerAdd(benchmark::State& s) { loop(s, "i: 0", "loop 1'000'000 [i: i + 1]"); }
void BM_PairAdd(benchmark::State& s) { loop(s, "p: 0x0", "loop 1'000'000 [p: p + 1x1]"); }
void BM_TupleAddInteger(benchmark::State& s) { loop(s, "t: 0.0.0", "loop 1'000'000 [t: t + 1]"); }
void BM_Point2DMulFloat(benchmark::State& s) { loop(s, "q: (1, 2)", "loop 1'000'000 [q: q * 1.0]"); }
void BM_PercentMulInteger(benchmark::State& s) { loop(s, "r: 1%", "loop 1'000'000 [r: r * 1]"); }

BENCHMARK(BM_IntegerAdd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PairAdd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TupleAddInteger)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Point2DMulFloat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PercentMulInteger)->Unit(benchmark::kMillisecond);

}  // namespace
