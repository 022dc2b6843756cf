// Byte-string speed: the base-2, 16 and 64 codecs on 64 MB against the
// coreutils encoders (base64, basenc) run on the same bytes, base 58 at
// 1, 4 and 16 KB (quadratic by nature), one-byte appends and tail changes
// (both must stay linear), and bitset membership against a plain char test.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "boot/init.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "evaluator/lexer.h"
#include "runtime/base_codecs.h"
#include "runtime/collector.h"

using namespace vyx;

namespace {

constexpr size_t BIG = 64u << 20;

const std::vector<uint8_t>& random_bytes(size_t n) {
    static std::vector<uint8_t> data;
    if (data.size() != n) {
        std::mt19937 rng(7);
        data.resize(n);
        for (auto& b : data) b = uint8_t(rng());
    }
    return data;
}

void encode(benchmark::State& state, int base, size_t n) {
    const auto& src = random_bytes(n);
    std::vector<uint8_t> out(base_codecs::max_encoded(base, n));
    for (auto _ : state) benchmark::DoNotOptimize(base_codecs::encode(base, out.data(), src.data(), n));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

void decode(benchmark::State& state, int base, size_t n) {
    const auto& src = random_bytes(n);
    std::vector<uint8_t> text(base_codecs::max_encoded(base, n));
    text.resize(base_codecs::encode(base, text.data(), src.data(), n));
    std::vector<uint8_t> out;
    for (auto _ : state) {
        out.clear();
        benchmark::DoNotOptimize(base_codecs::decode(base, text.data(), text.size(), 1, out));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

// The peer on the same 64 MB, through files in /tmp (process start included,
// a few milliseconds).
void peer(benchmark::State& state, const char* encode_cmd, const char* decode_cmd, bool decoding) {
    const auto& src = random_bytes(BIG);
    const char* raw = "/tmp/vyx-bench-bytes.raw";
    const char* txt = "/tmp/vyx-bench-bytes.txt";
    FILE* f = std::fopen(raw, "wb");
    std::fwrite(src.data(), 1, src.size(), f);
    std::fclose(f);
    std::string enc = std::string(encode_cmd) + " < " + raw + " > " + txt;
    std::string dec = std::string(decode_cmd) + " < " + txt + " > /dev/null";
    if (std::system(enc.c_str()) != 0) state.SkipWithError("peer encoder failed");
    for (auto _ : state) {
        int rc = std::system(decoding ? dec.c_str() : (std::string(encode_cmd) + " < " + raw + " > /dev/null").c_str());
        if (rc != 0) state.SkipWithError("peer failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(BIG));
    std::remove(raw);
    std::remove(txt);
}

void BM_Encode64(benchmark::State& s) { encode(s, 64, BIG); }
void BM_Decode64(benchmark::State& s) { decode(s, 64, BIG); }
void BM_Encode16(benchmark::State& s) { encode(s, 16, BIG); }
void BM_Decode16(benchmark::State& s) { decode(s, 16, BIG); }
void BM_Encode2(benchmark::State& s) { encode(s, 2, BIG); }
void BM_Decode2(benchmark::State& s) { decode(s, 2, BIG); }
void BM_PeerEncode64(benchmark::State& s) { peer(s, "base64 -w0", "base64 -d", false); }
void BM_PeerDecode64(benchmark::State& s) { peer(s, "base64 -w0", "base64 -d", true); }
void BM_PeerEncode16(benchmark::State& s) { peer(s, "basenc --base16 -w0", "basenc --base16 -d", false); }
void BM_PeerDecode16(benchmark::State& s) { peer(s, "basenc --base16 -w0", "basenc --base16 -d", true); }
void BM_PeerEncode2(benchmark::State& s) { peer(s, "basenc --base2msbf -w0", "basenc --base2msbf -d", false); }
void BM_PeerDecode2(benchmark::State& s) { peer(s, "basenc --base2msbf -w0", "basenc --base2msbf -d", true); }
BENCHMARK(BM_Encode64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerEncode64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerDecode64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerEncode16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerDecode16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerEncode2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerDecode2)->Unit(benchmark::kMillisecond);

void BM_Encode58(benchmark::State& s) { encode(s, 58, size_t(s.range(0))); }
void BM_Decode58(benchmark::State& s) { decode(s, 58, size_t(s.range(0))); }
BENCHMARK(BM_Encode58)->Arg(1024)->Arg(4096)->Arg(16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode58)->Arg(1024)->Arg(4096)->Arg(16384)->Unit(benchmark::kMicrosecond);

// Programs through the interpreter.
struct Fresh {
    Fresh() { init_runtime(); }
    ~Fresh() { shutdown_runtime(); }
};

void run_program(benchmark::State& state, const char* body, int64_t items, const char* setup = "") {
    Fresh rt;
    Cell program;
    lexer::load_block(&program, setup);
    collector::Root keep(&program);
    interp::eval_whole_block(&program, false);
    lexer::load_block(&program, body);
    for (auto _ : state) {
        Cell* top = stack::top;
        interp::eval_whole_block(&program, true);
        stack::top = top;
    }
    state.SetItemsProcessed(state.iterations() * items);
}

// The natives on 64 MB, conversions of their arguments and results included.
const char* BIG_SETUP = "b: append/dup copy #{} #{00FF10EF} 16777216 t64: enbase b t16: enbase/base b 16";
void BM_EnbaseNative64(benchmark::State& s) { run_program(s, "enbase b", 1, BIG_SETUP); }
void BM_DebaseNative64(benchmark::State& s) { run_program(s, "debase t64", 1, BIG_SETUP); }
void BM_EnbaseNative16(benchmark::State& s) { run_program(s, "enbase/base b 16", 1, BIG_SETUP); }
void BM_DebaseNative16(benchmark::State& s) { run_program(s, "debase/base t16 16", 1, BIG_SETUP); }
BENCHMARK(BM_EnbaseNative64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DebaseNative64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnbaseNative16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DebaseNative16)->Unit(benchmark::kMillisecond);

void BM_AppendByte(benchmark::State& s) { run_program(s, "b: copy #{} loop 100000 [append b 1]", 100000); }
void BM_ChangeTail(benchmark::State& s) {
    run_program(s, "b: copy #{} loop 100000 [b: change tail b 1]", 100000);
}
BENCHMARK(BM_AppendByte)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangeTail)->Unit(benchmark::kMillisecond);

void BM_PickBitset(benchmark::State& s) {
    run_program(s, "cs: make bitset! \"aeiou\" c: #\"e\" loop 10000000 [pick cs c]", 10000000);
}
void BM_CompareChars(benchmark::State& s) {
    run_program(s, "d: #\"a\" c: #\"e\" loop 10000000 [c = d]", 10000000);
}
BENCHMARK(BM_PickBitset)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompareChars)->Unit(benchmark::kMillisecond);

}  // namespace
