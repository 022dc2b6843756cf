// Speed of the codecs in io/: compress and decompress in each framing (the
// decoder with the size known, and measuring first as decompress does without
// /size), CRC-32, Adler-32 and the digests. Data: the files of the folder in
// VYX_BENCH_DATA (bench/codecs.py makes them and compares with the peers),
// else generated text and random bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "io/checksum.h"
#include "io/deflate.h"

using namespace vyx;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes read_file(const std::string& path) {
    Bytes b;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return b;
    std::fseek(f, 0, SEEK_END);
    b.resize(size_t(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    if (std::fread(b.data(), 1, b.size(), f) != b.size()) b.clear();
    std::fclose(f);
    return b;
}

std::vector<std::pair<std::string, Bytes>>& samples() {
    static std::vector<std::pair<std::string, Bytes>> s;
    return s;
}

Bytes compressed(int method, const Bytes& in) {
    Bytes out(in.size() + in.size() / 2048 + 32);
    int32_t size = int32_t(out.size());
    if (deflate::compress(method, out.data(), &size, in.data(), uint32_t(in.size())) == deflate::TOO_SMALL) {
        out.resize(size_t(size));
        deflate::compress(method, out.data(), &size, in.data(), uint32_t(in.size()));
    }
    out.resize(size_t(size));
    return out;
}

const char* METHOD_NAMES[] = {"zlib", "deflate", "gzip"};

void register_all() {
    if (const char* dir = std::getenv("VYX_BENCH_DATA")) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.is_regular_file()) names.push_back(e.path().string());
        std::sort(names.begin(), names.end());
        for (const auto& n : names) samples().push_back({std::filesystem::path(n).filename(), read_file(n)});
    } else {
        std::mt19937 rng(1);
        Bytes random(10 << 20), text;
        for (auto& x : random) x = uint8_t(rng());
        const char* words[] = {"value ", "series ", "block ", "word ", "a ", "of ", "the ", "data\n"};
        while (text.size() < (10u << 20))
            for (const char* p = words[rng() % 8]; *p; p++) text.push_back(uint8_t(*p));
        samples().push_back({"random", random});
        samples().push_back({"text", text});
    }
    for (auto& [name, data] : samples()) {
        const Bytes* d = &data;
        for (int method : {deflate::ZLIB, deflate::GZIP}) {
            std::string m = METHOD_NAMES[method];
            benchmark::RegisterBenchmark(("compress/" + m + "/" + name).c_str(), [d, method](benchmark::State& st) {
                Bytes out;
                for (auto _ : st) out = compressed(method, *d);
                st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(d->size()));
                st.counters["ratio%"] = 100.0 * double(out.size()) / double(d->size() ? d->size() : 1);
                st.counters["bytes"] = double(out.size());
            })->Unit(benchmark::kMillisecond);
            Bytes packed = compressed(method, data);
            benchmark::RegisterBenchmark(("decompress/" + m + "/" + name).c_str(),
                                         [d, method, packed](benchmark::State& st) {
                                             Bytes out(d->size());
                                             for (auto _ : st) {
                                                 int32_t size = int32_t(out.size());
                                                 deflate::decompress(method, out.data(), &size, packed.data(),
                                                                     uint32_t(packed.size()));
                                             }
                                             st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(d->size()));
                                         })
                ->Unit(benchmark::kMillisecond);
            if (method == deflate::ZLIB)
                benchmark::RegisterBenchmark(("decompress-measuring/" + m + "/" + name).c_str(),
                                             [d, method, packed](benchmark::State& st) {
                                                 for (auto _ : st) {
                                                     int32_t size = 0;
                                                     deflate::decompress(method, nullptr, &size, packed.data(),
                                                                         uint32_t(packed.size()));
                                                     Bytes out(static_cast<size_t>(size));
                                                     deflate::decompress(method, out.data(), &size, packed.data(),
                                                                         uint32_t(packed.size()));
                                                 }
                                                 st.SetBytesProcessed(int64_t(st.iterations()) *
                                                                      int64_t(d->size()));
                                             })
                    ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark(("crc32/" + name).c_str(), [d](benchmark::State& st) {
            for (auto _ : st) benchmark::DoNotOptimize(checksum::crc32(d->data(), d->size()));
            st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(d->size()));
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("adler32/" + name).c_str(), [d](benchmark::State& st) {
            for (auto _ : st) benchmark::DoNotOptimize(checksum::adler32(d->data(), d->size()));
            st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(d->size()));
        })->Unit(benchmark::kMillisecond);
        for (int id : {checksum::ID_MD5, checksum::ID_SHA256}) {
            std::string m = id == checksum::ID_MD5 ? "md5" : "sha256";
            benchmark::RegisterBenchmark(("digest/" + m + "/" + name).c_str(), [d, id](benchmark::State& st) {
                checksum::crypto_acquire();
                uint8_t out[checksum::MAX_DIGEST];
                for (auto _ : st) checksum::digest(id, d->data(), d->size(), out);
                st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(d->size()));
            })->Unit(benchmark::kMillisecond);
        }
    }
}

const int registered = (register_all(), 0);

}  // namespace
