// The image codecs beneath image!: decoding PNG, JPEG, GIF, TIFF and BMP into
// straight-alpha BGRA pixels, encoding such pixels into the five formats, and
// the nearest-neighbour scaling and clipping loops.
//
// Pixels are rows of 4 x width bytes B, G, R, A with A the opacity. Buffers
// come from malloc and belong to the caller (an image's handle record frees
// them). Nothing here touches the series heap or raises: every entry answers
// whether it worked. Decoders take an explicit end and never read past it,
// whatever a header claims; a width or height above 65535 is refused.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vyx::imaging {

// Format numbers of the encoders (the codec objects pass them).
enum Format : int { IMAGE_BMP = 0, IMAGE_PNG = 1, IMAGE_GIF = 2, IMAGE_JPEG = 3, IMAGE_TIFF = 4 };
constexpr uint32_t MAX_SIDE = 65535;

struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t* pixels = nullptr;  // malloc'd, width x height x 4 bytes
};

// A zero-filled pixel buffer for width x height, or null when it cannot be had.
uint8_t* alloc_pixels(uint32_t width, uint32_t height);

// The format whose signature the bytes start with, or -1.
int sniff_format(const uint8_t* bytes, size_t length);

// Decodes frame 0 of the bytes (format found by signature). False for data
// that is not a whole image of a known format; `out` then holds nothing.
bool decode(const uint8_t* bytes, size_t length, Bitmap& out);

// Encodes the pixels; false when the format is unknown, the size is 0 or a
// codec step fails (`out` is then cleared).
bool encode(const uint8_t* pixels, uint32_t width, uint32_t height, int format, std::vector<uint8_t>& out);

// Nearest-neighbour scaling of a whole image into a new width x height buffer.
void scale(const uint8_t* pixels, uint32_t width, uint32_t height, uint8_t* out, uint32_t out_width,
           uint32_t out_height);
// Copies the rectangle at (x, y) of w x h (inside the image) into `out`.
void clip(const uint8_t* pixels, uint32_t width, uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint8_t* out);

}  // namespace vyx::imaging
