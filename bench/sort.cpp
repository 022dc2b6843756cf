// The record sorters against std::sort and std::stable_sort on a million
// integers: time, and comparisons per record (the counter "cmp/n"), for
// random, sorted, reversed and few-distinct input. The language-level sorts
// against python3's list.sort are bench/sort_vs_python.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/sort.h"

namespace {

constexpr size_t N = 1000000;

std::vector<int> input(int shape) {
    std::vector<int> v(N);
    std::mt19937 rng(42);
    for (size_t i = 0; i < N; i++) {
        switch (shape) {
        case 0: v[i] = int(rng()); break;
        case 1: v[i] = int(i); break;
        case 2: v[i] = int(N - i); break;
        default: v[i] = int(rng() % 16); break;
        }
    }
    return v;
}

const char* shape_name(int shape) {
    static const char* names[] = {"random", "sorted", "reversed", "few"};
    return names[shape];
}

struct IntStore final : vyx::records::RecordStore {
    std::vector<int> items, spare;
    size_t calls = 0;
    explicit IntStore(std::vector<int> v) : RecordStore(sizeof(int)), items(std::move(v)) {}
    uint8_t* address(size_t ref) override {
        int* p = ref & vyx::records::SPARE ? spare.data() + (ref & ~vyx::records::SPARE) : items.data() + ref;
        return reinterpret_cast<uint8_t*>(p);
    }
    bool less(size_t x, size_t y) override {
        calls++;
        int a, b;
        std::memcpy(&a, address(x), sizeof a);
        std::memcpy(&b, address(y), sizeof b);
        return a < b;
    }
    void reserve_spare(size_t count) override { spare.resize(count); }
};

template <int Which>
void Sort(benchmark::State& state) {
    int shape = int(state.range(0));
    std::vector<int> data = input(shape);
    size_t calls = 0;
    for (auto _ : state) {
        state.PauseTiming();
        IntStore store(data);
        std::vector<int> copy = data;
        size_t counted = 0;
        auto less = [&counted](int a, int b) {
            counted++;
            return a < b;
        };
        state.ResumeTiming();
        switch (Which) {
        case 0: vyx::records::sort_records(store, N); break;
        case 1: vyx::records::stable_sort_records(store, N); break;
        case 2: std::sort(copy.begin(), copy.end(), less); break;
        default: std::stable_sort(copy.begin(), copy.end(), less); break;
        }
        calls = Which < 2 ? store.calls : counted;
        benchmark::DoNotOptimize(store.items.data());
        benchmark::DoNotOptimize(copy.data());
    }
    state.counters["cmp/n"] = double(calls) / double(N);
    state.SetLabel(shape_name(shape));
}

}  // namespace

BENCHMARK(Sort<0>)->Name("sort_records")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(Sort<2>)->Name("std::sort")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(Sort<1>)->Name("stable_sort_records")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(Sort<3>)->Name("std::stable_sort")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
