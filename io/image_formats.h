// The per-format readers and writers behind image_codecs.h (internal).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/image_codecs.h"

namespace vyx::imaging {

bool decode_png(const uint8_t* bytes, size_t length, Bitmap& out);
bool decode_jpeg(const uint8_t* bytes, size_t length, Bitmap& out);
bool decode_gif(const uint8_t* bytes, size_t length, Bitmap& out);
bool decode_tiff(const uint8_t* bytes, size_t length, Bitmap& out);
bool decode_bmp(const uint8_t* bytes, size_t length, Bitmap& out);

bool encode_png(const uint8_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>& out);
bool encode_jpeg(const uint8_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>& out);
bool encode_gif(const uint8_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>& out);
bool encode_tiff(const uint8_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>& out);
bool encode_bmp(const uint8_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>& out);

// Whether a decoded size is one an image may have (1..65535 each way).
inline bool size_ok(uint64_t width, uint64_t height) {
    return width >= 1 && height >= 1 && width <= MAX_SIDE && height <= MAX_SIDE;
}

}  // namespace vyx::imaging
