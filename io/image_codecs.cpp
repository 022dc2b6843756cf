// Dispatch by signature and format number, our own BMP reader and writer,
// and the scaling and clipping loops. The library-backed formats live in
// image_libs.cpp.
#include "io/image_codecs.h"

#include <cstdlib>
#include <cstring>

#include "io/image_formats.h"

namespace vyx::imaging {

uint8_t* alloc_pixels(uint32_t width, uint32_t height) {
    size_t bytes = size_t(width) * height * 4;
    return static_cast<uint8_t*>(std::calloc(bytes ? bytes : 1, 1));
}

int sniff_format(const uint8_t* b, size_t n) {
    if (n >= 4 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return IMAGE_PNG;
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return IMAGE_JPEG;
    if (n >= 2 && b[0] == 'B' && b[1] == 'M') return IMAGE_BMP;
    if (n >= 6 && std::memcmp(b, "GIF8", 4) == 0 && (b[4] == '7' || b[4] == '9') && b[5] == 'a') return IMAGE_GIF;
    if (n >= 4 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 0x2A && b[3] == 0) ||
                   (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 0x2A)))
        return IMAGE_TIFF;
    return -1;
}

bool decode(const uint8_t* bytes, size_t length, Bitmap& out) {
    out = Bitmap{};
    bool ok = false;
    switch (sniff_format(bytes, length)) {
    case IMAGE_PNG: ok = decode_png(bytes, length, out); break;
    case IMAGE_JPEG: ok = decode_jpeg(bytes, length, out); break;
    case IMAGE_BMP: ok = decode_bmp(bytes, length, out); break;
    case IMAGE_GIF: ok = decode_gif(bytes, length, out); break;
    case IMAGE_TIFF: ok = decode_tiff(bytes, length, out); break;
    default: break;
    }
    if (!ok || !size_ok(out.width, out.height) || !out.pixels) {
        std::free(out.pixels);
        out = Bitmap{};
        return false;
    }
    return true;
}

bool encode(const uint8_t* pixels, uint32_t width, uint32_t height, int format, std::vector<uint8_t>& out) {
    out.clear();
    if (width == 0 || height == 0 || !pixels) return false;
    bool ok = false;
    switch (format) {
    case IMAGE_BMP: ok = encode_bmp(pixels, width, height, out); break;
    case IMAGE_PNG: ok = encode_png(pixels, width, height, out); break;
    case IMAGE_GIF: ok = encode_gif(pixels, width, height, out); break;
    case IMAGE_JPEG: ok = encode_jpeg(pixels, width, height, out); break;
    case IMAGE_TIFF: ok = encode_tiff(pixels, width, height, out); break;
    default: break;
    }
    if (!ok) out.clear();
    return ok;
}

void scale(const uint8_t* pixels, uint32_t width, uint32_t height, uint8_t* out, uint32_t out_width,
           uint32_t out_height) {
    if (!width || !height || !out_width || !out_height) return;
    // Each target pixel takes the source pixel under its centre.
    std::vector<uint32_t> columns(out_width);
    for (uint32_t x = 0; x < out_width; x++)
        columns[x] = uint32_t((uint64_t(2 * x + 1) * width) / (2 * uint64_t(out_width)));
    auto* dst = reinterpret_cast<uint32_t*>(out);
    for (uint32_t y = 0; y < out_height; y++) {
        uint32_t sy = uint32_t((uint64_t(2 * y + 1) * height) / (2 * uint64_t(out_height)));
        const uint8_t* row = pixels + size_t(sy) * width * 4;
        for (uint32_t x = 0; x < out_width; x++) std::memcpy(dst++, row + size_t(columns[x]) * 4, 4);
    }
}

void clip(const uint8_t* pixels, uint32_t width, uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint8_t* out) {
    for (uint32_t r = 0; r < h; r++)
        std::memcpy(out + size_t(r) * w * 4, pixels + (size_t(y + r) * width + x) * 4, size_t(w) * 4);
}

// ---------------------------------------------------------------- BMP

namespace {

uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }
void put16(std::vector<uint8_t>& o, uint32_t v) {
    o.push_back(uint8_t(v));
    o.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& o, uint32_t v) {
    put16(o, v & 0xFFFF);
    put16(o, v >> 16);
}

// A channel of a bit-field pixel: where its mask sits and how wide it is.
struct Field {
    uint32_t mask = 0, shift = 0, max = 0;
    explicit Field(uint32_t m = 0) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) shift++;
        max = m >> shift;
    }
    // The channel scaled to 0..255; `absent` when there is no mask.
    uint8_t get(uint32_t px, uint8_t absent) const {
        if (!mask) return absent;
        uint32_t v = (px & mask) >> shift;
        return uint8_t((uint64_t(v) * 255 + max / 2) / max);
    }
};

enum : uint32_t { BI_RGB = 0, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6 };

}  // namespace

bool decode_bmp(const uint8_t* b, size_t n, Bitmap& out) {
    if (n < 26) return false;
    uint32_t data_offset = le32(b + 10);
    uint32_t dib = le32(b + 14);
    int64_t w, h;
    uint32_t bpp, compression = BI_RGB, colors_used = 0, palette_entry = 4;
    size_t after_header = 14 + size_t(dib);
    if (dib == 12) {
        w = le16(b + 18);
        h = int16_t(le16(b + 20));
        bpp = le16(b + 24);
        palette_entry = 3;
    } else if (dib >= 40 && dib <= 4096) {
        if (n < after_header) return false;
        w = int32_t(le32(b + 18));
        h = int32_t(le32(b + 22));
        bpp = le16(b + 28);
        compression = le32(b + 30);
        colors_used = le32(b + 46);
    } else {
        return false;
    }
    if (n < after_header) return false;
    bool top_down = h < 0;
    if (top_down) h = -h;
    if (!size_ok(uint64_t(w < 0 ? 0 : w), uint64_t(h))) return false;
    if (compression != BI_RGB && compression != BI_BITFIELDS && compression != BI_ALPHABITFIELDS) return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
    if (compression != BI_RGB && bpp != 16 && bpp != 32) return false;

    // Channel masks: in the header from 52 bytes on, else right after it.
    Field red, green, blue, alpha;
    bool alpha_from_byte = false;
    size_t palette_at = after_header;
    if (compression != BI_RGB) {
        size_t masks_at = 54;
        size_t count = compression == BI_ALPHABITFIELDS ? 4 : 3;
        if (dib == 40) palette_at += count * 4;
        else if (dib >= 56) count = 4;
        if (masks_at + count * 4 > n) return false;
        red = Field(le32(b + masks_at));
        green = Field(le32(b + masks_at + 4));
        blue = Field(le32(b + masks_at + 8));
        if (count == 4) alpha = Field(le32(b + masks_at + 12));
    } else if (bpp == 16) {
        red = Field(0x7C00), green = Field(0x03E0), blue = Field(0x001F);
    } else if (bpp == 32) {
        alpha_from_byte = true;
    }

    uint8_t palette[256][4] = {};  // B, G, R, A; entries past the file's stay black
    if (bpp <= 8) {
        uint32_t entries = colors_used && colors_used <= (1u << bpp) ? colors_used : 1u << bpp;
        for (uint32_t i = 0; i < entries; i++) {
            size_t at = palette_at + size_t(i) * palette_entry;
            if (at + 3 > n || at + 3 > data_offset) break;
            palette[i][0] = b[at];
            palette[i][1] = b[at + 1];
            palette[i][2] = b[at + 2];
        }
        for (auto& e : palette) e[3] = 255;
    }

    uint64_t stride = ((uint64_t(w) * bpp + 31) / 32) * 4;
    if (data_offset > n || (n - data_offset) / stride < uint64_t(h)) return false;
    uint8_t* pixels = alloc_pixels(uint32_t(w), uint32_t(h));
    if (!pixels) return false;
    bool any_alpha = false;
    for (int64_t row = 0; row < h; row++) {
        const uint8_t* src = b + data_offset + uint64_t(top_down ? row : h - 1 - row) * stride;
        uint8_t* dst = pixels + uint64_t(row) * uint64_t(w) * 4;
        for (int64_t x = 0; x < w; x++, dst += 4) {
            switch (bpp) {
            case 1: case 4: case 8: {
                uint64_t bit = uint64_t(x) * bpp;
                uint32_t index = (src[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                std::memcpy(dst, palette[index], 4);
                break;
            }
            case 16: case 32: {
                uint32_t px = bpp == 16 ? le16(src + x * 2) : le32(src + x * 4);
                if (alpha_from_byte) {
                    std::memcpy(dst, src + x * 4, 4);
                    any_alpha |= dst[3] != 0;
                } else {
                    dst[0] = blue.get(px, 0);
                    dst[1] = green.get(px, 0);
                    dst[2] = red.get(px, 0);
                    dst[3] = alpha.get(px, 255);
                }
                break;
            }
            default:  // 24
                dst[0] = src[x * 3];
                dst[1] = src[x * 3 + 1];
                dst[2] = src[x * 3 + 2];
                dst[3] = 255;
            }
        }
    }
    // A 32-bit BI_RGB file whose fourth bytes are all 0 carries no alpha.
    if (alpha_from_byte && !any_alpha)
        for (uint64_t i = 0; i < uint64_t(w) * uint64_t(h); i++) pixels[i * 4 + 3] = 255;
    out = Bitmap{uint32_t(w), uint32_t(h), pixels};
    return true;
}

// 32 bits a pixel with channel masks (alpha included) in a 108-byte header,
// rows bottom-up.
bool encode_bmp(const uint8_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
    const uint32_t header = 14 + 108;
    uint64_t image_bytes = uint64_t(width) * height * 4;
    if (image_bytes + header > 0xFFFFFFFFu) return false;
    out.reserve(size_t(header + image_bytes));
    out.push_back('B');
    out.push_back('M');
    put32(out, uint32_t(header + image_bytes));
    put32(out, 0);
    put32(out, header);
    put32(out, 108);
    put32(out, width);
    put32(out, height);
    put16(out, 1);
    put16(out, 32);
    put32(out, BI_BITFIELDS);
    put32(out, uint32_t(image_bytes));
    put32(out, 2835);  // 72 dots an inch
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0x00FF0000);
    put32(out, 0x0000FF00);
    put32(out, 0x000000FF);
    put32(out, 0xFF000000);
    put32(out, 0x73524742);  // colour space "sRGB"
    out.resize(out.size() + 36 + 12, 0);  // end points and gamma: unused
    for (uint32_t row = height; row-- > 0;) {
        const uint8_t* src = pixels + size_t(row) * width * 4;
        out.insert(out.end(), src, src + size_t(width) * 4);
    }
    return true;
}

}  // namespace vyx::imaging
