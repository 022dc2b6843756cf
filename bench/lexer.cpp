// Lexer speed: transcode of a generated 10 MB source of mixed tokens, in MB/s
// and series allocations per token, against `wc -w` over the same file (a
// floor: the cheapest possible pass that still looks at every byte).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "boot/init.h"
#include "datatypes/money.h"
#include "evaluator/lexer.h"
#include "runtime/memory.h"

using namespace vyx;

namespace {

constexpr size_t SOURCE_BYTES = 10u << 20;

struct Source {
    std::string text;
    size_t tokens = 0;
    std::string path;
};

// A deterministic mix of the literal forms a program holds, in lines of
// about 60 bytes, nested blocks included.
const Source& source() {
    static Source s = [] {
        Source out;
        uint32_t seed = 12345;
        auto next = [&seed](uint32_t n) {
            seed = seed * 1103515245u + 12345u;
            return (seed >> 16) % n;
        };
        static const char* words[] = {"append", "foreach", "value", "either", "print", "length?", "block",
                                      "result", "make", "series", "to-string", "x", "index"};
        std::string& t = out.text;
        t.reserve(SOURCE_BYTES + 256);
        size_t line = 0;
        int depth = 0;
        while (t.size() < SOURCE_BYTES) {
            switch (next(16)) {
            case 0: case 1: case 2: t += words[next(13)]; break;
            case 3: t += words[next(13)]; t += ':'; break;
            case 4: t += std::to_string(next(100000)); break;
            case 5: t += std::to_string(next(1000)) + "." + std::to_string(next(1000)); break;
            case 6: t += "\"some text " + std::to_string(next(100)) + "\""; break;
            case 7: t += "obj/field/" + std::string(words[next(13)]); break;
            case 8:
                if (depth < 6) {
                    t += '[';
                    depth++;
                    out.tokens--;  // counted with its closer
                } else {
                    t += "none";
                }
                break;
            case 9:
                if (depth > 0) {
                    t += ']';
                    depth--;
                } else {
                    t += "true";
                }
                break;
            case 10: t += "#\"a\""; break;
            case 11: t += std::to_string(next(640)) + "x" + std::to_string(next(480)); break;
            case 12: t += "1.2." + std::to_string(next(256)); break;
            case 13: t += std::to_string(next(24)) + ":" + std::to_string(10 + next(50)); break;
            case 14: t += "{braced " + std::to_string(next(9)) + " text}"; break;
            case 15: t += "#issue"; break;
            }
            out.tokens++;
            line += 8;
            if (line > 60) {
                t += '\n';
                line = 0;
            } else {
                t += ' ';
            }
        }
        while (depth-- > 0) t += ']';
        out.path = "/tmp/vyx-bench-lexer-source.vyx";
        std::ofstream(out.path, std::ios::binary) << t;
        return out;
    }();
    return s;
}

uint64_t nodes_in_use() {
    uint64_t used = 0;
    for (uint32_t i = 0; i < memory.node_frame_count; i++)
        if (memory.node_frames[i].live) used += memory.node_frames[i].used;
    return used;
}

void BM_TranscodeMixed10MB(benchmark::State& state) {
    const Source& src = source();
    uint64_t allocations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        init_runtime();
        uint64_t before = nodes_in_use();
        state.ResumeTiming();
        Cell result{};
        lexer::load_block(&result, src.text);
        benchmark::DoNotOptimize(result);
        state.PauseTiming();
        allocations += nodes_in_use() - before;
        shutdown_runtime();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * src.text.size()));
    state.counters["tokens"] = double(src.tokens);
    state.counters["allocs/token"] = double(allocations) / double(state.iterations()) / double(src.tokens);
}
BENCHMARK(BM_TranscodeMixed10MB)->Unit(benchmark::kMillisecond);

void BM_WcWordsFloor(benchmark::State& state) {
    const Source& src = source();
    std::string command = "wc -w < " + src.path + " > /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("wc failed");
    state.SetBytesProcessed(int64_t(state.iterations() * src.text.size()));
}
BENCHMARK(BM_WcWordsFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
