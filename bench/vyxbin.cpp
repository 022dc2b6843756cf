// Speed of VYXBIN: encode and decode in both forms of a block of 10^6
// integers, a block of 10^5 short strings and a nest of objects and
// functions; the time to encode blocks nested 1000 to 20000 deep (which
// should grow linearly); and the LZ block decoder against memcpy on a stream
// bench/vyxbin.py packs (VYX_BENCH_LZ names it). bench/vyxbin.py compares the
// figures with python3's pickle on the same data.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "boot/init.h"
#include "datatypes/binary.h"
#include "evaluator/helpers.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "runtime/stack.h"
#include "io/lz_block.h"
#include "io/vyxbin.h"
#include "runtime/collector.h"

using namespace vyx;

namespace {

// The value of the last expression of the source, kept in the root block.
Cell make_value(const std::string& source) {
    collector::Rooted<1> code;
    lexer::load_block(&code[0], source);
    Cell* held = stack::push(&code[0]);
    interp::eval_whole_block(held, true);
    Cell r = *(stack::top - 1);
    stack::reset();
    blk::append(&root_block, &r);
    return r;
}

struct Sample {
    const char* name;
    std::string source;
    double values;  // values written per encode
    Cell value;
};

std::vector<Sample>& samples() {
    static std::vector<Sample> s = {
        {"integers", "b: make block! 1000000 repeat i 1000000 [append b i * 7919 - 3000000] b", 1e6 + 1},
        {"strings", "b: make block! 100000 repeat i 100000 [append b append copy \"item-\" i] b", 1e5 + 1},
        {"objects",
         "b: make block! 2000 repeat i 2000 [append b make object! [id: i name: \"node\" tags: [a b c] "
         "weight: i * 1.5 next: none f: func [x /twice /local y] [y: x + id either twice [y * 2] [y]]]] b",
         2000 * 25.0},
    };
    return s;
}

// The runtime and the sample values, made when the first benchmark runs.
void ready() {
    static bool done = false;
    if (done) return;
    done = true;
    init_runtime();
    collector::active = true;
    for (Sample& s : samples()) s.value = make_value(s.source);
}

void encode_bench(benchmark::State& st, Sample* s, bool compact) {
    ready();
    collector::Rooted<1> out;
    for (auto _ : st) vyxbin::encode(&s->value, compact, &out[0]);
    double bytes = binary::rs_length(&out[0]);
    st.SetBytesProcessed(int64_t(st.iterations() * bytes));
    st.counters["values/s"] = benchmark::Counter(s->values * double(st.iterations()), benchmark::Counter::kIsRate);
    st.counters["bytes"] = bytes;
}

void decode_bench(benchmark::State& st, Sample* s, bool compact) {
    ready();
    collector::Rooted<2> r;
    vyxbin::encode(&s->value, compact, &r[0]);
    std::vector<uint8_t> bytes(binary::rs_head(&r[0]), binary::rs_head(&r[0]) + binary::rs_length(&r[0]));
    for (auto _ : st) {
        blk::make_at(&r[1], 1);
        vyxbin::decode(bytes.data(), bytes.size(), &r[1], true);
    }
    st.SetBytesProcessed(int64_t(st.iterations() * bytes.size()));
    st.counters["values/s"] = benchmark::Counter(s->values * double(st.iterations()), benchmark::Counter::kIsRate);
}

void deep_bench(benchmark::State& st) {
    ready();
    int depth = int(st.range(0));
    Cell nest = make_value("n: [] loop " + std::to_string(depth) + " [n: reduce [n]] n");
    collector::Rooted<1> out;
    for (auto _ : st) vyxbin::encode(&nest, true, &out[0]);
    st.counters["per level ns"] =
        benchmark::Counter(double(depth) * double(st.iterations()), benchmark::Counter::kIsRate |
                                                                      benchmark::Counter::kInvert);
}

std::vector<uint8_t> read_file(const char* path) {
    std::vector<uint8_t> b;
    if (FILE* f = std::fopen(path, "rb")) {
        std::fseek(f, 0, SEEK_END);
        b.resize(size_t(std::ftell(f)));
        std::fseek(f, 0, SEEK_SET);
        if (std::fread(b.data(), 1, b.size(), f) != b.size()) b.clear();
        std::fclose(f);
    }
    return b;
}

void register_all() {
    for (Sample& s : samples()) {
        for (bool compact : {true, false}) {
            std::string form = compact ? "compact" : "fixed";
            benchmark::RegisterBenchmark(("encode/" + form + "/" + s.name).c_str(), encode_bench, &s, compact)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("decode/" + form + "/" + s.name).c_str(), decode_bench, &s, compact)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("encode/deep", deep_bench)->Arg(1000)->Arg(5000)->Arg(10000)->Arg(20000)
        ->Unit(benchmark::kMillisecond);
    if (const char* path = std::getenv("VYX_BENCH_LZ")) {
        static std::vector<uint8_t> packed = read_file(path);
        static std::vector<uint8_t> plain;
        lz::decompress(packed.data(), packed.size(), plain);
        benchmark::RegisterBenchmark("lz/decode", [](benchmark::State& st) {
            std::vector<uint8_t> out;
            for (auto _ : st) lz::decompress(packed.data(), packed.size(), out);
            st.SetBytesProcessed(int64_t(st.iterations() * plain.size()));
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("lz/memcpy", [](benchmark::State& st) {
            std::vector<uint8_t> out(plain.size());
            for (auto _ : st) {
                std::memcpy(out.data(), plain.data(), plain.size());
                benchmark::ClobberMemory();
            }
            st.SetBytesProcessed(int64_t(st.iterations() * plain.size()));
        })->Unit(benchmark::kMillisecond);
    }
}

const bool registered = (register_all(), true);

}  // namespace
