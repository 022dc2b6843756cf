// Series speed against the standard containers doing the same work:
// appending a million integers to a block, a million characters to a string
// (unit 1, and after widening to unit 2), and molding a million-value block.
#include <benchmark/benchmark.h>

#include <charconv>
#include <string>
#include <vector>

#include "boot/init.h"
#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/memory.h"

using namespace vyx;

namespace {

constexpr int N = 1000000;

// No collector runs here: a fresh runtime for every round keeps memory flat.
struct Fresh {
    Fresh() { init_runtime(); }
    ~Fresh() { shutdown_runtime(); }
};
void restart(benchmark::State& state) {
    state.PauseTiming();
    shutdown_runtime();
    init_runtime();
    state.ResumeTiming();
}

// The way the append action's entry calls the handler: series and value at
// the arguments base.
void BM_BlockAppendInteger(benchmark::State& state) {
    Fresh rt;
    for (auto _ : state) {
        restart(state);
        Cell b;
        blk::make_at(&b, 1);
        Cell* base = stack::top;
        stack::arguments = base;
        for (int i = 0; i < N; i++) {
            base[0] = b;
            base[1] = Cell{TYPE_INTEGER, 0, uint32_t(i), 0};
            stack::top = base + 2;
            block::append(base, base + 1, -1, false, 1);
        }
        stack::top = stack::arguments = base;
        benchmark::DoNotOptimize(node_buffer(b.data2)->tail);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_BlockAppendInteger)->Unit(benchmark::kMillisecond);

void BM_VectorAppendCell(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<Cell> v;
        for (int i = 0; i < N; i++) v.push_back(Cell{TYPE_INTEGER, 0, uint32_t(i), 0});
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_VectorAppendCell)->Unit(benchmark::kMillisecond);

void BM_StringAppendCharUnit1(benchmark::State& state) {
    Fresh rt;
    for (auto _ : state) {
        restart(state);
        Cell s;
        string::make_at(&s, 1);
        SeriesBuffer* b = node_buffer(s.data2);
        for (int i = 0; i < N; i++) b = string::append_char(b, uint32_t('a' + i % 26));
        benchmark::DoNotOptimize(b->tail);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_StringAppendCharUnit1)->Unit(benchmark::kMillisecond);

void BM_StdStringPushBack(benchmark::State& state) {
    for (auto _ : state) {
        std::string s;
        for (int i = 0; i < N; i++) s.push_back(char('a' + i % 26));
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_StdStringPushBack)->Unit(benchmark::kMillisecond);

// The first character widens the buffer; the million that follow go into
// unit 2.
void BM_StringAppendCharUnit2(benchmark::State& state) {
    Fresh rt;
    for (auto _ : state) {
        restart(state);
        Cell s;
        string::make_at(&s, 1);
        SeriesBuffer* b = string::append_char(node_buffer(s.data2), 0x263A);
        for (int i = 0; i < N; i++) b = string::append_char(b, uint32_t(0x100 + i % 26));
        benchmark::DoNotOptimize(b->tail);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_StringAppendCharUnit2)->Unit(benchmark::kMillisecond);

void BM_StdU16StringPushBack(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string s;
        s.push_back(u'\u263A');
        for (int i = 0; i < N; i++) s.push_back(char16_t(0x100 + i % 26));
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_StdU16StringPushBack)->Unit(benchmark::kMillisecond);

// A million integers molded with the block's own writer (building the block
// is not timed).
void BM_MoldBlock(benchmark::State& state) {
    Fresh rt;
    for (auto _ : state) {
        restart(state);
        state.PauseTiming();
        Cell b;
        blk::make_at(&b, N);
        for (int i = 0; i < N; i++) {
            Cell v{TYPE_INTEGER, 0, uint32_t(i) * 7919u, 0};
            blk::append(&b, &v);
        }
        state.ResumeTiming();
        Cell out;
        string::make_at(&out, 16);
        block::mold(&b, &out, false, false, false, NO_LIMIT, 0);
        benchmark::DoNotOptimize(node_buffer(out.data2)->tail);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_MoldBlock)->Unit(benchmark::kMillisecond);

void BM_StdMoldVector(benchmark::State& state) {
    std::vector<int32_t> values(N);
    for (int i = 0; i < N; i++) values[size_t(i)] = int32_t(uint32_t(i) * 7919u);
    for (auto _ : state) {
        std::string out = "[";
        char digits[12];
        for (size_t i = 0; i < values.size(); i++) {
            if (i) out += ' ';
            auto r = std::to_chars(digits, digits + sizeof digits, values[i]);
            out.append(digits, size_t(r.ptr - digits));
        }
        out += ']';
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_StdMoldVector)->Unit(benchmark::kMillisecond);

}  // namespace
