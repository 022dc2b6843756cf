// Symbol interning throughput and word lookup: by the index a bound word
// caches versus hashing its symbol in the context's word index.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "boot/init.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"

using namespace vyx;

namespace {

std::vector<std::string> make_names(size_t n) {
    std::vector<std::string> names;
    names.reserve(n);
    char buf[32];
    for (size_t i = 0; i < n; i++) {
        std::snprintf(buf, sizeof buf, "word-%zx-%zu", i * 2654435761u % 1000003u, i);
        names.emplace_back(buf);
    }
    return names;
}

const std::vector<std::string>& million_names() {
    static const std::vector<std::string> names = make_names(1000000);
    return names;
}

// 10^6 distinct names into a fresh table per iteration (growing from 4000).
void BM_InternDistinct(benchmark::State& state) {
    const auto& names = million_names();
    for (auto _ : state) {
        state.PauseTiming();
        init_runtime();
        state.ResumeTiming();
        for (const std::string& n : names) benchmark::DoNotOptimize(symbol::make(n));
        state.PauseTiming();
        shutdown_runtime();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(names.size()));
}
BENCHMARK(BM_InternDistinct)->Unit(benchmark::kMillisecond);

// Interning names that are already in the table (the lexer's common case):
// a table of range(0) names, each looked up again in turn.
void BM_InternExisting(benchmark::State& state) {
    const auto& names = million_names();
    const size_t count = size_t(state.range(0));
    init_runtime();
    for (size_t k = 0; k < count; k++) symbol::make(names[k]);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(symbol::make(names[i]));
        if (++i == count) i = 0;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    shutdown_runtime();
}
BENCHMARK(BM_InternExisting)->Arg(2316)->Arg(1000000);

struct GlobalWords {
    std::vector<Cell> words;
    GlobalWords(size_t n) {
        init_runtime();
        for (const std::string& name : make_names(n)) {
            Cell w;
            word::make_at(symbol::make(name), &w);
            Cell v{TYPE_INTEGER, 0, uint32_t(words.size()), 0};
            context::set(&w, &v);
            words.push_back(w);
        }
    }
    ~GlobalWords() { shutdown_runtime(); }
};

// Reading a bound word's value through the index it caches.
void BM_WordGetCachedIndex(benchmark::State& state) {
    GlobalWords g(size_t(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(context::get(&g.words[i])->data2);
        if (++i == g.words.size()) i = 0;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_WordGetCachedIndex)->Arg(1000)->Arg(100000);

// The same reads, looking each symbol up in the global word index first.
void BM_WordGetByHashing(benchmark::State& state) {
    GlobalWords g(size_t(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        Cell* v = context::get_value_ptr(word::symbol_of(&g.words[i]), context::global);
        benchmark::DoNotOptimize(v->data2);
        if (++i == g.words.size()) i = 0;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_WordGetByHashing)->Arg(1000)->Arg(100000);

}  // namespace
