// Speed of the image codecs and loops in io/: PNG and JPEG encoding and
// decoding of a 1000x1000 photo-like image, nearest-neighbour scaling of a
// 1920x1080 frame to 200x100 (a terminal frame's budget is 33 ms), and the
// other formats' encoders for scale. bench/images.py compares the same work
// with ImageMagick and times foreach and poke through the vyx executable.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "io/image_codecs.h"

using namespace vyx;

namespace {

// Smooth gradients with a little texture: neither flat nor noise.
std::vector<uint8_t> photo(uint32_t w, uint32_t h) {
    std::vector<uint8_t> px(size_t(w) * h * 4);
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) {
            uint8_t* p = &px[(size_t(y) * w + x) * 4];
            p[0] = uint8_t(x * 255 / w);
            p[1] = uint8_t(y * 255 / h);
            p[2] = uint8_t(128 + 100 * std::sin((x + y) * 0.02) + ((x * 7 + y * 13) % 9));
            p[3] = 255;
        }
    return px;
}

const std::vector<uint8_t>& megapixel() {
    static std::vector<uint8_t> px = photo(1000, 1000);
    return px;
}

void encode_bench(benchmark::State& state, int format) {
    std::vector<uint8_t> out;
    for (auto _ : state) {
        imaging::encode(megapixel().data(), 1000, 1000, format, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = double(out.size());
}

void decode_bench(benchmark::State& state, int format) {
    std::vector<uint8_t> encoded;
    imaging::encode(megapixel().data(), 1000, 1000, format, encoded);
    for (auto _ : state) {
        imaging::Bitmap bmp;
        if (!imaging::decode(encoded.data(), encoded.size(), bmp)) state.SkipWithError("decode failed");
        std::free(bmp.pixels);
    }
}

void BM_EncodePng(benchmark::State& s) { encode_bench(s, imaging::IMAGE_PNG); }
void BM_DecodePng(benchmark::State& s) { decode_bench(s, imaging::IMAGE_PNG); }
void BM_EncodeJpeg(benchmark::State& s) { encode_bench(s, imaging::IMAGE_JPEG); }
void BM_DecodeJpeg(benchmark::State& s) { decode_bench(s, imaging::IMAGE_JPEG); }
void BM_EncodeBmp(benchmark::State& s) { encode_bench(s, imaging::IMAGE_BMP); }
void BM_DecodeBmp(benchmark::State& s) { decode_bench(s, imaging::IMAGE_BMP); }
void BM_EncodeTiff(benchmark::State& s) { encode_bench(s, imaging::IMAGE_TIFF); }
void BM_EncodeGif(benchmark::State& s) { encode_bench(s, imaging::IMAGE_GIF); }

void BM_Scale1080pTo200x100(benchmark::State& state) {
    std::vector<uint8_t> frame = photo(1920, 1080), out(200 * 100 * 4);
    for (auto _ : state) {
        imaging::scale(frame.data(), 1920, 1080, out.data(), 200, 100);
        benchmark::DoNotOptimize(out.data());
    }
}

}  // namespace

BENCHMARK(BM_EncodePng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeTiff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeGif)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scale1080pTo200x100)->Unit(benchmark::kMicrosecond);
