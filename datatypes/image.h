// image!: a rectangle of 32-bit pixels that the language walks as a series
// of pixels in row order, top row first.
//
// Cell: word 1 the head (0-based pixel index), word 2 the image node (see
// io/image_store.h) or 0 for an image without pixels, word 3 the size (width
// in bits 0-15, height in bits 16-31). An image whose width or height is 0
// has no node. Several values share a node at different heads.
//
// A pixel in memory is B, G, R, A with A the opacity. On the language side
// alpha is transparency: a pixel reads as the tuple R.G.B.T with T = 255 - A,
// and the alpha channel holds 255 - A; the argb channel and `to binary!` hold
// the memory bytes as they are.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::image {

enum Channel : int { CHANNEL_ALPHA = 0, CHANNEL_RGB = 1, CHANNEL_ARGB = 2 };

inline uint32_t width(const Cell* img) { return img->data3 & 0xFFFF; }
inline uint32_t height(const Cell* img) { return img->data3 >> 16; }
inline uint32_t pixel_count(const Cell* img) { return width(img) * height(img); }

// A new image of the size owning `pixels` (malloc'd; given back on failure),
// written into `target` (a rooted cell). A 0 side makes no node.
Cell* make_from_pixels(Cell* target, uint32_t width, uint32_t height, uint8_t* pixels);

// The whole image encoded in a format (IMAGE_BMP ... IMAGE_TIFF) into
// `target` (none!: a new stack cell), which is returned. An empty image
// raises access/bad-media; an unknown format prints "Cannot find image
// encoder" and answers none.
const Cell* encode(const Cell* img, Cell* target, int format);
// A binary! is decoded (none when no known signature, access/bad-media when
// the data is bad); any other value is read as a file first
// (access/cannot-open when it cannot be). Pushes and answers the result.
const Cell* decode(const Cell* data);
// The bytes at the binary's index start with a PNG, JPEG, BMP, GIF or TIFF signature.
bool known_format(const Cell* bin);

// Pushes a new binary! of a channel of the whole image.
Cell* extract_channels(const Cell* img, int channel);
// Sets a channel of every pixel from a binary!, tuple! or integer!.
const Cell* set_channels(Cell* img, const Cell* value, int channel);
// Pushes the pixel at the 0-based offset as a 4-byte tuple!, none at the tail.
const Cell* get_pixel(const Cell* img, uint32_t offset);
// The bounded 0-based offset of an integer! or pair! index (base 1 or 0);
// `out_of_range` (when given) tells whether the index lay outside.
uint32_t pixel_offset(const Cell* img, const Cell* index, int base, bool* out_of_range);
// foreach: sets word i of the block (1 to count) to the pixel at head + i - 1.
void assign_words(const Cell* words, const Cell* img, uint32_t count);
// Frees the pixels now (for temporary images); the values keep the node.
void release(const Cell* img);

// Registers the encode and decode routines of the png, jpeg, bmp, gif and
// tiff codecs (the library makes the codec objects over them).
void define_codec_routines();

void register_type();

}  // namespace vyx::image
