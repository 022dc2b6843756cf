// Text conversion speed: UTF-8 in and out against a plain memcpy of the same
// bytes (the limit), and floats to text and back against printf/strtod.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "boot/init.h"
#include "datatypes/string.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

using namespace vyx;

namespace {

struct Runtime {
    Runtime() { init_runtime(); }
};
Runtime& runtime() {
    static Runtime r;
    return r;
}

// About 1 MB of UTF-8 text: 0 ASCII, 1 Latin-1 letters mixed in, 2 mostly CJK,
// 3 with emoji.
std::string sample(int kind) {
    std::mt19937 rng(42);
    std::string s;
    while (s.size() < (1u << 20)) {
        uint32_t cp = 'a' + rng() % 26;
        uint32_t r = rng() % 100;
        if (kind == 1 && r < 20) cp = 0xC0 + rng() % 0x3F;
        if (kind == 2 && r < 80) cp = 0x4E00 + rng() % 0x5000;
        if (kind == 3 && r < 10) cp = 0x1F600 + rng() % 0x40;
        uint8_t buf[4];
        int n = unicode::write_utf8_char(cp, buf);
        s.append(reinterpret_cast<char*>(buf), size_t(n));
    }
    return s;
}

const char* kind_name(int k) {
    static const char* names[] = {"ascii", "latin1", "cjk", "emoji"};
    return names[k];
}

void BM_Memcpy(benchmark::State& state) {
    std::string in = sample(int(state.range(0)));
    std::vector<char> out(in.size());
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.SetLabel(kind_name(int(state.range(0))));
}

void BM_Utf8Load(benchmark::State& state) {
    runtime();
    std::string in = sample(int(state.range(0)));
    Node target = new_char_series(uint32_t(in.size()), 1);
    for (auto _ : state) {
        SeriesBuffer* b = node_buffer(target);
        b->tail = b->offset;
        unicode::load_utf8_string(reinterpret_cast<const uint8_t*>(in.data()), uint32_t(in.size()), target, nullptr,
                                  false);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.SetLabel(kind_name(int(state.range(0))));
}

void BM_Utf8FastCount(benchmark::State& state) {
    std::string in = sample(int(state.range(0)));
    auto* p = reinterpret_cast<const uint8_t*>(in.data());
    for (auto _ : state) benchmark::DoNotOptimize(unicode::count_utf8_chars(p, p + in.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.SetLabel(kind_name(int(state.range(0))));
}

void BM_Utf8Encode(benchmark::State& state) {
    runtime();
    std::string in = sample(int(state.range(0)));
    Cell s{TYPE_STRING, 0, unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(in.data()), uint32_t(in.size())), 0};
    for (auto _ : state) {
        uint32_t n;
        benchmark::DoNotOptimize(unicode::to_utf8_buffer(&s, n));
    }
    // Bytes of UTF-8 produced, so the figure compares with memcpy of the same text.
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
    state.SetLabel(kind_name(int(state.range(0))));
}

std::vector<double> doubles() {
    std::mt19937_64 rng(7);
    std::vector<double> v;
    while (v.size() < 4096) {
        uint64_t b = rng();
        double d;
        std::memcpy(&d, &b, 8);
        if (std::isfinite(d)) v.push_back(d);
    }
    return v;
}

void BM_FloatToText(benchmark::State& state) {
    auto v = doubles();
    char buf[FLOAT_TEXT_MAX];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(form_float_buffer(v[i++ & 4095], 0, true, buf));
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_Printf17g(benchmark::State& state) {
    auto v = doubles();
    char buf[64];
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%.17g", v[i++ & 4095]));
    state.SetItemsProcessed(int64_t(state.iterations()));
}

std::vector<std::string> texts() {
    std::vector<std::string> t;
    for (double d : doubles()) t.push_back(form_float(d));
    return t;
}

void BM_TextToFloat(benchmark::State& state) {
    auto t = texts();
    size_t i = 0;
    for (auto _ : state) {
        const std::string& s = t[i++ & 4095];
        benchmark::DoNotOptimize(decimal_to_double(s.data(), s.data() + s.size()));
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_Strtod(benchmark::State& state) {
    auto t = texts();
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(std::strtod(t[i++ & 4095].c_str(), nullptr));
    state.SetItemsProcessed(int64_t(state.iterations()));
}

}  // namespace

BENCHMARK(BM_Memcpy)->DenseRange(0, 3);
BENCHMARK(BM_Utf8Load)->DenseRange(0, 3);
BENCHMARK(BM_Utf8FastCount)->DenseRange(0, 3);
BENCHMARK(BM_Utf8Encode)->DenseRange(0, 3);
BENCHMARK(BM_FloatToText);
BENCHMARK(BM_Printf17g);
BENCHMARK(BM_TextToFloat);
BENCHMARK(BM_Strtod);
