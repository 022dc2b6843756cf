// Fuzz target for the image decoders: every input must decode to a bitmap or
// be refused, never crash, hang or read past its end (the input is exactly
// `size` bytes in a buffer of its own). A decoded bitmap is encoded again in
// every format and read back, which must give its size.
// Built and run by scripts/fuzz-images (clang, libFuzzer, AddressSanitizer).
#include <cstdlib>
#include <vector>

#include "io/image_codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vyx::imaging;
    std::vector<uint8_t> input(data, data + size);
    Bitmap bmp;
    if (!decode(input.data(), input.size(), bmp)) return 0;
    if (uint64_t(bmp.width) * bmp.height <= 4096) {
        for (int format = IMAGE_BMP; format <= IMAGE_TIFF; format++) {
            std::vector<uint8_t> out;
            if (!encode(bmp.pixels, bmp.width, bmp.height, format, out)) std::abort();
            Bitmap again;
            if (!decode(out.data(), out.size(), again) || again.width != bmp.width || again.height != bmp.height)
                std::abort();
            std::free(again.pixels);
        }
    }
    std::free(bmp.pixels);
    return 0;
}
