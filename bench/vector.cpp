// Element-wise vector! arithmetic against the same loops over std::vector:
// v + 1 and v * 2.5 on a million 32-bit integers and a million doubles
// (changed in place), and v + w (a new vector). The std::vector loops run at
// about the memory's speed; the vector! handlers aim to stay within 2x.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "boot/init.h"
#include "datatypes/actions.h"
#include "datatypes/registry.h"
#include "datatypes/vector.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

using namespace vyx;

namespace {

constexpr int N = 1000000;

struct Fresh {
    Fresh() { init_runtime(); }
    ~Fresh() { shutdown_runtime(); }
};

// A vector of N elements 0, 1, 2 ... kept on the evaluation stack.
Cell* make_vector(int type, uint32_t unit) {
    Cell* slot = stack::push_slot();
    vector::alloc(slot, N, type, unit);
    SeriesBuffer* b = node_buffer(slot->data2);
    for (int i = 0; i < N; i++) {
        Cell v = type == TYPE_INTEGER ? Cell{TYPE_INTEGER, 0, uint32_t(i), 0} : Cell{TYPE_FLOAT, 0, 0, 0};
        if (type == TYPE_FLOAT) set_cell_float(&v, double(i));
        vector::set_value(b->data() + size_t(i) * unit, &v, unit, type);
    }
    b->tail = N * unit;
    return slot;
}

// Runs the math action's handler as the evaluator does: the two operands at
// the arguments base, the result in the first.
void run_math(int action, const Cell& a, const Cell& b) {
    Cell* base = stack::top;
    stack::arguments = base;
    base[0] = a;
    base[1] = b;
    stack::top = base + 2;
    reinterpret_cast<act::Stack>(get_handler(TYPE_VECTOR, action))();
    stack::top = stack::arguments = base;
}

Cell number(double d) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    set_cell_float(&c, d);
    return c;
}

void BM_VyxInt32AddScalar(benchmark::State& state) {
    Fresh rt;
    Cell v = *make_vector(TYPE_INTEGER, 4);
    for (auto _ : state) run_math(A_ADD, v, Cell{TYPE_INTEGER, 0, 1, 0});
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_VyxInt32AddScalar)->Unit(benchmark::kMicrosecond);

void BM_StdInt32AddScalar(benchmark::State& state) {
    std::vector<int32_t> v(N);
    for (int i = 0; i < N; i++) v[size_t(i)] = i;
    for (auto _ : state) {
        for (auto& x : v) x = int32_t(uint32_t(x) + 1u);
        benchmark::DoNotOptimize(v.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_StdInt32AddScalar)->Unit(benchmark::kMicrosecond);

void BM_VyxFloat64MulScalar(benchmark::State& state) {
    Fresh rt;
    Cell v = *make_vector(TYPE_FLOAT, 8);
    for (auto _ : state) run_math(A_MULTIPLY, v, number(state.iterations() % 2 ? 2.5 : 0.4));
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_VyxFloat64MulScalar)->Unit(benchmark::kMicrosecond);

void BM_StdFloat64MulScalar(benchmark::State& state) {
    std::vector<double> v(N);
    for (int i = 0; i < N; i++) v[size_t(i)] = i;
    for (auto _ : state) {
        double k = state.iterations() % 2 ? 2.5 : 0.4;
        for (auto& x : v) x *= k;
        benchmark::DoNotOptimize(v.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_StdFloat64MulScalar)->Unit(benchmark::kMicrosecond);

void BM_VyxInt32MulFloat(benchmark::State& state) {
    Fresh rt;
    Cell v = *make_vector(TYPE_INTEGER, 4);
    for (auto _ : state) run_math(A_MULTIPLY, v, number(2.5));
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_VyxInt32MulFloat)->Unit(benchmark::kMicrosecond);

// A vector and a vector give a new one: the allocation is part of the work,
// as the std::vector's is.
template <int Type, uint32_t Unit>
void BM_VyxAddVectors(benchmark::State& state) {
    Fresh rt;
    Cell* kept = make_vector(Type, Unit);
    Cell v = *kept, w = *make_vector(Type, Unit);
    Cell* mark = stack::top;
    for (auto _ : state) {
        run_math(A_ADD, v, w);
        stack::top = mark;
        state.PauseTiming();
        collector::collect_garbage();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_VyxAddVectors<TYPE_INTEGER, 4>)->Name("BM_VyxInt32AddVectors")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VyxAddVectors<TYPE_FLOAT, 8>)->Name("BM_VyxFloat64AddVectors")->Unit(benchmark::kMicrosecond);

template <typename T>
void BM_StdAddVectors(benchmark::State& state) {
    std::vector<T> v(N), w(N);
    for (int i = 0; i < N; i++) v[size_t(i)] = w[size_t(i)] = T(i);
    for (auto _ : state) {
        std::vector<T> r(N);
        for (size_t i = 0; i < size_t(N); i++) r[i] = T(v[i] + w[i]);
        benchmark::DoNotOptimize(r.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * N);
}
BENCHMARK(BM_StdAddVectors<int32_t>)->Name("BM_StdInt32AddVectors")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdAddVectors<double>)->Name("BM_StdFloat64AddVectors")->Unit(benchmark::kMicrosecond);

}  // namespace
