// PNG (libpng), JPEG (libjpeg-turbo), GIF (giflib) and TIFF (libtiff) in
// memory. Every library reads through a source that stops at the input's
// end; every library step is checked, and any failure answers false with
// what was allocated given back.
//
// libpng and libjpeg report errors by longjmp: the functions that set the
// jump point hold no C++ objects with destructors, and what they allocate
// sits in volatile locals freed on the way out.
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "io/image_formats.h"
#include "runtime/platform/libraries.h"

namespace vyx::imaging {

namespace {

// The codecs' libraries are loaded by the first image that needs one, not at
// start-up: with the libraries they bring along, they were most of what a
// start-up loaded. Each table is null until its library loaded whole; an
// image whose library cannot load fails to decode or encode.
#define VYX_PNG_FUNCTIONS(X) X(png_create_read_struct) X(png_create_info_struct) X(png_set_longjmp_fn) \
    X(png_longjmp) X(png_destroy_read_struct) X(png_set_read_fn) X(png_set_user_limits) X(png_read_info) \
    X(png_get_image_width) X(png_get_image_height) X(png_error) X(png_get_bit_depth) X(png_get_color_type) \
    X(png_get_valid) X(png_get_gAMA_fixed) X(png_set_expand) X(png_set_expand_16) X(png_set_swap) \
    X(png_set_scale_16) X(png_set_gray_to_rgb) X(png_set_bgr) X(png_set_filler) X(png_set_interlace_handling) \
    X(png_read_update_info) X(png_get_rowbytes) X(png_read_image) X(png_read_end) X(png_get_io_ptr) \
    X(png_image_write_to_memory) X(png_image_free)
#define VYX_JPEG_FUNCTIONS(X) X(jpeg_std_error) X(jpeg_CreateDecompress) X(jpeg_CreateCompress) \
    X(jpeg_destroy_decompress) X(jpeg_destroy_compress) X(jpeg_mem_src) X(jpeg_mem_dest) X(jpeg_read_header) \
    X(jpeg_start_decompress) X(jpeg_read_scanlines) X(jpeg_finish_decompress) X(jpeg_set_defaults) \
    X(jpeg_set_quality) X(jpeg_start_compress) X(jpeg_write_scanlines) X(jpeg_finish_compress)
#define VYX_GIF_FUNCTIONS(X) X(DGifOpen) X(DGifSlurp) X(DGifSavedExtensionToGCB) X(DGifCloseFile) \
    X(GifMakeMapObject) X(GifFreeMapObject) X(EGifOpen) X(EGifSetGifVersion) X(EGifPutScreenDesc) \
    X(EGifGCBToExtension) X(EGifPutExtension) X(EGifPutImageDesc) X(EGifPutLine) X(EGifCloseFile)
#define VYX_TIFF_FUNCTIONS(X) X(TIFFSetErrorHandler) X(TIFFSetWarningHandler) X(TIFFClientOpen) \
    X(TIFFScanlineSize) X(TIFFReadScanline) X(TIFFRGBAImageOK) X(TIFFReadRGBAImageOriented) X(TIFFGetField) \
    X(TIFFGetFieldDefaulted) X(TIFFIsTiled) X(TIFFClose) X(TIFFSetField) X(TIFFDefaultStripSize) \
    X(TIFFWriteScanline) X(TIFFFlush)

VYX_LIBRARY(PngApi, "libpng16.so.16", VYX_PNG_FUNCTIONS)
const PngApi* png_lib = nullptr;
bool have_png() { return (png_lib = load_PngApi()) != nullptr; }

VYX_LIBRARY(JpegApi, "libjpeg.so.62", VYX_JPEG_FUNCTIONS)
const JpegApi* jpeg_lib = nullptr;
bool have_jpeg() { return (jpeg_lib = load_JpegApi()) != nullptr; }

VYX_LIBRARY(GifApi, "libgif.so.7", VYX_GIF_FUNCTIONS)
const GifApi* gif_lib = nullptr;
bool have_gif() { return (gif_lib = load_GifApi()) != nullptr; }

VYX_LIBRARY(TiffApi, "libtiff.so.6", VYX_TIFF_FUNCTIONS)
const TiffApi* tiff_lib = nullptr;
bool have_tiff() { return (tiff_lib = load_TiffApi()) != nullptr; }

// Larger images are refused by the decoders: a header may claim any size,
// and the pixels are allocated before the data behind them is read.
constexpr uint64_t MAX_DECODED_PIXELS = uint64_t(1) << 28;

bool decodable(uint64_t width, uint64_t height) {
    return size_ok(width, height) && width * height <= MAX_DECODED_PIXELS;
}

// ---------------------------------------------------------------- PNG

struct Input {
    const uint8_t* bytes;
    size_t length;
    size_t at;
};

void png_read_input(png_structp png, png_bytep out, size_t n) {
    auto* in = static_cast<Input*>(png_lib->png_get_io_ptr(png));
    if (n > in->length - in->at) png_lib->png_error(png, "truncated");
    std::memcpy(out, in->bytes + in->at, n);
    in->at += n;
}

[[noreturn]] void png_fail(png_structp png, png_const_charp) {
    png_lib->png_longjmp(png, 1);
    std::abort();  // (a jump through the table is not known not to return)
}
void png_quiet(png_structp, png_const_charp) {}

}  // namespace

namespace {

// Linear samples to 8-bit sRGB: a 16-bit sample is first cut to 8 bits (as
// ImageMagick does), then converted through the sRGB curve, rounded.
const uint8_t* linear_to_srgb() {
    static uint8_t table[256];
    static bool made = [] {
        for (uint32_t v = 0; v < 256; v++) {
            double l = v / 255.0;
            double e = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
            table[v] = uint8_t(std::lround(std::clamp(e, 0.0, 1.0) * 255));
        }
        return true;
    }();
    (void)made;
    return table;
}

}  // namespace

// Samples come out as stored, 16-bit ones rounded to 8 bits; an image whose
// gAMA says linear (1.0) is converted to sRGB. Other gAMA values are taken as
// sRGB already.
bool decode_png(const uint8_t* bytes, size_t length, Bitmap& out) {
    if (!have_png()) return false;
    Input in{bytes, length, 0};
    png_structp png = png_lib->png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet);
    if (!png) return false;
    png_infop info = png_lib->png_create_info_struct(png);
    uint8_t* volatile pixels = nullptr;
    uint8_t* volatile wide = nullptr;
    png_bytep* volatile rows = nullptr;
    if (!info || setjmp(*png_lib->png_set_longjmp_fn(png, std::longjmp, sizeof(std::jmp_buf)))) {
        std::free(pixels);
        std::free(wide);
        std::free(rows);
        png_lib->png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        return false;
    }
    png_lib->png_set_read_fn(png, &in, png_read_input);
    png_lib->png_set_user_limits(png, MAX_SIDE, MAX_SIDE);
    png_lib->png_read_info(png, info);
    png_uint_32 w = png_lib->png_get_image_width(png, info), h = png_lib->png_get_image_height(png, info);
    if (!decodable(w, h)) png_lib->png_error(png, "size");
    int depth = png_lib->png_get_bit_depth(png, info), type = png_lib->png_get_color_type(png, info);
    bool has_alpha = (type & PNG_COLOR_MASK_ALPHA) || png_lib->png_get_valid(png, info, PNG_INFO_tRNS);
    png_fixed_point gamma = 0;
    bool linear = png_lib->png_get_gAMA_fixed(png, info, &gamma) && gamma == PNG_FP_1;
    png_lib->png_set_expand(png);
    if (linear) {
        png_lib->png_set_expand_16(png);
        png_lib->png_set_swap(png);
    } else if (depth == 16) {
        png_lib->png_set_scale_16(png);
    }
    if (!(type & PNG_COLOR_MASK_COLOR)) png_lib->png_set_gray_to_rgb(png);
    png_lib->png_set_bgr(png);
    if (!has_alpha) png_lib->png_set_filler(png, 0xFFFF, PNG_FILLER_AFTER);
    png_lib->png_set_interlace_handling(png);
    png_lib->png_read_update_info(png, info);
    size_t unit = linear ? 8 : 4;
    if (png_lib->png_get_rowbytes(png, info) != size_t(w) * unit) png_lib->png_error(png, "layout");
    pixels = alloc_pixels(w, h);
    if (linear) wide = static_cast<uint8_t*>(std::malloc(size_t(w) * h * 8));
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * h));
    if (!pixels || !rows || (linear && !wide)) png_lib->png_error(png, "memory");
    for (png_uint_32 y = 0; y < h; y++) rows[y] = (linear ? wide : pixels) + size_t(y) * w * unit;
    png_lib->png_read_image(png, rows);
    png_lib->png_read_end(png, nullptr);
    if (linear) {
        const uint8_t* srgb = linear_to_srgb();
        const uint16_t* src = reinterpret_cast<const uint16_t*>(wide);
        for (size_t i = 0; i < size_t(w) * h * 4; i++)
            pixels[i] = i % 4 == 3 ? uint8_t((uint32_t(src[i]) * 255 + 32767) / 65535) : srgb[src[i] / 257];
    }
    std::free(wide);
    std::free(rows);
    png_lib->png_destroy_read_struct(&png, &info, nullptr);
    out = Bitmap{w, h, pixels};
    return true;
}

// An image without transparency is written as RGB: a quarter less to compress.
bool encode_png(const uint8_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
    if (!have_png()) return false;
    size_t n = size_t(width) * height;
    bool opaque = true;
    for (size_t i = 0; i < n && opaque; i++) opaque = pixels[i * 4 + 3] == 255;
    std::vector<uint8_t> rgb;
    if (opaque) {
        rgb.resize(n * 3);
        for (size_t i = 0; i < n; i++) std::memcpy(&rgb[i * 3], pixels + i * 4, 3);
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = opaque ? PNG_FORMAT_BGR : PNG_FORMAT_BGRA;
    const void* rows = opaque ? static_cast<const void*>(rgb.data()) : pixels;
    png_alloc_size_t size = 0;
    if (!png_lib->png_image_write_to_memory(&image, nullptr, &size, 0, rows, 0, nullptr) || size == 0) {
        png_lib->png_image_free(&image);
        return false;
    }
    out.resize(size);
    bool ok = png_lib->png_image_write_to_memory(&image, out.data(), &size, 0, rows, 0, nullptr);
    png_lib->png_image_free(&image);
    if (!ok) return false;
    out.resize(size);
    return true;
}

// ---------------------------------------------------------------- JPEG

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jpeg_fail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }

// A warning (premature end, corrupt data) fails the decode as an error does:
// the pixels would be whatever the decoder made up.
void jpeg_message(j_common_ptr info, int level) {
    if (level < 0) jpeg_fail(info);
}

void jpeg_quiet(j_common_ptr) {}

}  // namespace

bool decode_jpeg(const uint8_t* bytes, size_t length, Bitmap& out) {
    if (!have_jpeg()) return false;
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_lib->jpeg_std_error(&error.manager);
    error.manager.error_exit = jpeg_fail;
    error.manager.emit_message = jpeg_message;
    error.manager.output_message = jpeg_quiet;
    uint8_t* volatile pixels = nullptr;
    if (setjmp(error.jump)) {
        std::free(pixels);
        jpeg_lib->jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_lib->jpeg_CreateDecompress(&info, JPEG_LIB_VERSION, sizeof info);
    jpeg_lib->jpeg_mem_src(&info, bytes, static_cast<unsigned long>(length));
    if (jpeg_lib->jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) jpeg_fail(reinterpret_cast<j_common_ptr>(&info));
    uint32_t w = info.image_width, h = info.image_height;
    if (!decodable(w, h)) jpeg_fail(reinterpret_cast<j_common_ptr>(&info));
    bool four = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = four ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_lib->jpeg_start_decompress(&info);
    if (info.output_width != w || info.output_height != h || info.output_components != 4)
        jpeg_fail(reinterpret_cast<j_common_ptr>(&info));
    pixels = alloc_pixels(w, h);
    if (!pixels) jpeg_fail(reinterpret_cast<j_common_ptr>(&info));
    while (info.output_scanline < h) {
        JSAMPROW row = pixels + size_t(info.output_scanline) * w * 4;
        if (jpeg_lib->jpeg_read_scanlines(&info, &row, 1) != 1) jpeg_fail(reinterpret_cast<j_common_ptr>(&info));
    }
    if (four) {
        // Adobe files store CMYK inverted; others plainly.
        bool inverted = info.saw_Adobe_marker;
        for (size_t i = 0; i < size_t(w) * h; i++) {
            uint8_t* p = pixels + i * 4;
            uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
            if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            p[0] = uint8_t((y * k + 127) / 255);
            p[1] = uint8_t((m * k + 127) / 255);
            p[2] = uint8_t((c * k + 127) / 255);
            p[3] = 255;
        }
    }
    jpeg_lib->jpeg_finish_decompress(&info);
    jpeg_lib->jpeg_destroy_decompress(&info);
    out = Bitmap{w, h, pixels};
    return true;
}

// Alpha is dropped: JPEG has none.
bool encode_jpeg(const uint8_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
    if (!have_jpeg()) return false;
    jpeg_compress_struct info;
    JpegError error;
    info.err = jpeg_lib->jpeg_std_error(&error.manager);
    error.manager.error_exit = jpeg_fail;
    error.manager.output_message = jpeg_quiet;
    unsigned char* volatile memory = nullptr;
    unsigned long size = 0;
    if (setjmp(error.jump)) {
        jpeg_lib->jpeg_destroy_compress(&info);
        std::free(memory);
        return false;
    }
    jpeg_lib->jpeg_CreateCompress(&info, JPEG_LIB_VERSION, sizeof info);
    unsigned char* target = nullptr;
    jpeg_lib->jpeg_mem_dest(&info, &target, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_lib->jpeg_set_defaults(&info);
    jpeg_lib->jpeg_set_quality(&info, 90, TRUE);
    jpeg_lib->jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < height) {
        JSAMPROW row = const_cast<uint8_t*>(pixels) + size_t(info.next_scanline) * width * 4;
        jpeg_lib->jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_lib->jpeg_finish_compress(&info);
    memory = target;
    out.assign(target, target + size);
    jpeg_lib->jpeg_destroy_compress(&info);
    std::free(memory);
    return true;
}

// ---------------------------------------------------------------- GIF

namespace {

int gif_read(GifFileType* gif, GifByteType* out, int n) {
    auto* in = static_cast<Input*>(gif->UserData);
    size_t k = n < 0 ? 0 : std::min(size_t(n), in->length - in->at);
    std::memcpy(out, in->bytes + in->at, k);
    in->at += k;
    return int(k);
}

int gif_write(GifFileType* gif, const GifByteType* bytes, int n) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + n);
    return n;
}

}  // namespace

// Frame 0, at its own size; the transparent index of its graphics control
// block gives alpha 0. An index past the colour table reads as opaque black.
bool decode_gif(const uint8_t* bytes, size_t length, Bitmap& out) {
    if (!have_gif()) return false;
    Input in{bytes, length, 0};
    int error = 0;
    GifFileType* gif = gif_lib->DGifOpen(&in, gif_read, &error);
    if (!gif) return false;
    bool ok = false;
    if (gif_lib->DGifSlurp(gif) == GIF_OK && gif->ImageCount >= 1) {
        SavedImage& frame = gif->SavedImages[0];
        uint32_t w = uint32_t(frame.ImageDesc.Width), h = uint32_t(frame.ImageDesc.Height);
        ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
        int transparent = NO_TRANSPARENT_COLOR;
        GraphicsControlBlock control;
        if (gif_lib->DGifSavedExtensionToGCB(gif, 0, &control) == GIF_OK) transparent = control.TransparentColor;
        uint8_t* pixels = map && frame.RasterBits && decodable(w, h) ? alloc_pixels(w, h) : nullptr;
        if (pixels) {
            for (size_t i = 0; i < size_t(w) * h; i++) {
                int index = frame.RasterBits[i];
                uint8_t* p = pixels + i * 4;
                if (index < map->ColorCount) {
                    const GifColorType& c = map->Colors[index];
                    p[0] = c.Blue, p[1] = c.Green, p[2] = c.Red;
                }
                p[3] = index == transparent ? 0 : 255;
            }
            out = Bitmap{w, h, pixels};
            ok = true;
        }
    }
    gif_lib->DGifCloseFile(gif, &error);
    return ok;
}

namespace {

// The palette index of every pixel: an exact palette when there are at most
// 256 colours (fully transparent pixels counting as one), else a 6x7x6 colour
// cube. Partly transparent pixels count as opaque.
struct Palette {
    std::vector<GifColorType> colours;
    int transparent = -1;
    std::vector<uint8_t> indexes;
};

void build_palette(const uint8_t* pixels, uint32_t width, uint32_t height, Palette& pal) {
    size_t n = size_t(width) * height;
    pal.indexes.resize(n);
    std::unordered_map<uint32_t, uint8_t> seen;
    bool exact = true;
    for (size_t i = 0; i < n && exact; i++) {
        const uint8_t* p = pixels + i * 4;
        if (p[3] == 0) {
            if (pal.transparent < 0) {
                if (pal.colours.size() >= 256) exact = false;
                else {
                    pal.transparent = int(pal.colours.size());
                    pal.colours.push_back(GifColorType{0, 0, 0});
                }
            }
            pal.indexes[i] = uint8_t(pal.transparent);
            continue;
        }
        uint32_t key = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        auto it = seen.find(key);
        if (it != seen.end()) {
            pal.indexes[i] = it->second;
            continue;
        }
        if (pal.colours.size() >= 256) {
            exact = false;
            break;
        }
        uint8_t index = uint8_t(pal.colours.size());
        seen.emplace(key, index);
        pal.colours.push_back(GifColorType{p[2], p[1], p[0]});
        pal.indexes[i] = index;
    }
    if (exact) return;
    pal.colours.clear();
    pal.transparent = -1;
    for (int r = 0; r < 6; r++)
        for (int g = 0; g < 7; g++)
            for (int b = 0; b < 6; b++)
                pal.colours.push_back(GifColorType{uint8_t(r * 51), uint8_t(g * 255 / 6), uint8_t(b * 51)});
    for (size_t i = 0; i < n; i++) {
        const uint8_t* p = pixels + i * 4;
        if (p[3] == 0) {
            if (pal.transparent < 0) {
                pal.transparent = int(pal.colours.size());
                pal.colours.push_back(GifColorType{0, 0, 0});
            }
            pal.indexes[i] = uint8_t(pal.transparent);
            continue;
        }
        int r = (p[2] * 5 + 127) / 255, g = (p[1] * 6 + 127) / 255, b = (p[0] * 5 + 127) / 255;
        pal.indexes[i] = uint8_t((r * 7 + g) * 6 + b);
    }
}

}  // namespace

bool encode_gif(const uint8_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
    if (!have_gif()) return false;
    Palette pal;
    build_palette(pixels, width, height, pal);
    int bits = 1;
    while ((1u << bits) < pal.colours.size()) bits++;
    pal.colours.resize(size_t(1) << bits, GifColorType{0, 0, 0});
    ColorMapObject* map = gif_lib->GifMakeMapObject(1 << bits, pal.colours.data());
    if (!map) return false;
    int error = 0;
    GifFileType* gif = gif_lib->EGifOpen(&out, gif_write, &error);
    if (!gif) {
        gif_lib->GifFreeMapObject(map);
        return false;
    }
    gif_lib->EGifSetGifVersion(gif, true);
    bool ok = gif_lib->EGifPutScreenDesc(gif, int(width), int(height), 8, 0, map) == GIF_OK;
    if (ok && pal.transparent >= 0) {
        GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, pal.transparent};
        GifByteType extension[4];
        size_t n = gif_lib->EGifGCBToExtension(&control, extension);
        ok = gif_lib->EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(n), extension) == GIF_OK;
    }
    ok = ok && gif_lib->EGifPutImageDesc(gif, 0, 0, int(width), int(height), false, nullptr) == GIF_OK;
    for (uint32_t y = 0; ok && y < height; y++)
        ok = gif_lib->EGifPutLine(gif, pal.indexes.data() + size_t(y) * width, int(width)) == GIF_OK;
    ok = gif_lib->EGifCloseFile(gif, &error) == GIF_OK && ok;
    gif_lib->GifFreeMapObject(map);
    return ok;
}

// ---------------------------------------------------------------- TIFF

namespace {

// A TIFF stream over memory: the input bytes (reading) or a growing vector
// (writing).
struct Stream {
    const uint8_t* bytes;
    size_t length;
    uint64_t at;
    std::vector<uint8_t>* out;
};

tmsize_t tiff_read(thandle_t h, void* buffer, tmsize_t n) {
    auto* s = static_cast<Stream*>(h);
    size_t size = s->out ? s->out->size() : s->length;
    const uint8_t* base = s->out ? s->out->data() : s->bytes;
    if (n <= 0 || s->at >= size) return 0;
    size_t k = std::min(size_t(n), size_t(size - s->at));
    std::memcpy(buffer, base + s->at, k);
    s->at += k;
    return tmsize_t(k);
}

tmsize_t tiff_write(thandle_t h, void* buffer, tmsize_t n) {
    auto* s = static_cast<Stream*>(h);
    if (!s->out || n < 0) return -1;
    if (s->at + uint64_t(n) > s->out->size()) s->out->resize(size_t(s->at + uint64_t(n)));
    std::memcpy(s->out->data() + s->at, buffer, size_t(n));
    s->at += uint64_t(n);
    return n;
}

toff_t tiff_seek(thandle_t h, toff_t offset, int whence) {
    auto* s = static_cast<Stream*>(h);
    uint64_t size = s->out ? s->out->size() : s->length;
    uint64_t base = whence == SEEK_CUR ? s->at : whence == SEEK_END ? size : 0;
    s->at = base + offset;
    return s->at;
}

int tiff_close(thandle_t) { return 0; }
toff_t tiff_size(thandle_t h) {
    auto* s = static_cast<Stream*>(h);
    return s->out ? s->out->size() : s->length;
}
int tiff_map(thandle_t, void**, toff_t*) { return 0; }
void tiff_unmap(thandle_t, void*, toff_t) {}

TIFF* tiff_open(Stream* s, const char* mode) {
    static bool quiet = [] {
        tiff_lib->TIFFSetErrorHandler(nullptr);
        tiff_lib->TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)quiet;
    return tiff_lib->TIFFClientOpen("memory", mode, s, tiff_read, tiff_write, tiff_seek, tiff_close, tiff_size,
                                    tiff_map, tiff_unmap);
}

// 8-bit RGB or RGBA (unassociated or unspecified alpha), by scanline: the
// samples are taken as stored.
bool read_tiff_scanlines(TIFF* tiff, uint32_t w, uint32_t h, uint16_t spp, uint8_t* pixels) {
    tmsize_t line = tiff_lib->TIFFScanlineSize(tiff);
    if (line != tmsize_t(w) * spp) return false;
    std::vector<uint8_t> row(static_cast<size_t>(line));
    for (uint32_t y = 0; y < h; y++) {
        if (tiff_lib->TIFFReadScanline(tiff, row.data(), y, 0) < 0) return false;
        uint8_t* dst = pixels + size_t(y) * w * 4;
        for (uint32_t x = 0; x < w; x++, dst += 4) {
            const uint8_t* src = row.data() + size_t(x) * spp;
            dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
            dst[3] = spp == 4 ? src[3] : 255;
        }
    }
    return true;
}

// Any other layout through libtiff's RGBA reader, whose colours come
// multiplied by alpha: divided back out.
bool read_tiff_rgba(TIFF* tiff, uint32_t w, uint32_t h, uint8_t* pixels) {
    char message[1024];
    if (!tiff_lib->TIFFRGBAImageOK(tiff, message)) return false;
    auto* raster = reinterpret_cast<uint32_t*>(pixels);
    if (!tiff_lib->TIFFReadRGBAImageOriented(tiff, w, h, raster, ORIENTATION_TOPLEFT, 1)) return false;
    for (size_t i = 0; i < size_t(w) * h; i++) {
        uint32_t p = raster[i];
        uint32_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p), a = TIFFGetA(p);
        if (a && a < 255) {
            r = std::min(255u, (r * 255 + a / 2) / a);
            g = std::min(255u, (g * 255 + a / 2) / a);
            b = std::min(255u, (b * 255 + a / 2) / a);
        }
        uint8_t* dst = pixels + i * 4;
        dst[0] = uint8_t(b), dst[1] = uint8_t(g), dst[2] = uint8_t(r), dst[3] = uint8_t(a);
    }
    return true;
}

}  // namespace

bool decode_tiff(const uint8_t* bytes, size_t length, Bitmap& out) {
    if (!have_tiff()) return false;
    Stream s{bytes, length, 0, nullptr};
    TIFF* tiff = tiff_open(&s, "rm");
    if (!tiff) return false;
    uint32_t w = 0, h = 0;
    uint16_t depth = 0, spp = 0, photometric = 0, planar = 0, extra_count = 0;
    uint16_t* extra = nullptr;
    bool ok = tiff_lib->TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w) &&
              tiff_lib->TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h) && decodable(w, h);
    uint8_t* pixels = ok ? alloc_pixels(w, h) : nullptr;
    if (pixels) {
        tiff_lib->TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &depth);
        tiff_lib->TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &spp);
        tiff_lib->TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
        tiff_lib->TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
        if (!tiff_lib->TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) photometric = 0xFFFF;
        bool straight = spp == 3 || (spp == 4 && extra_count == 1 && extra && extra[0] != EXTRASAMPLE_ASSOCALPHA);
        if (depth == 8 && straight && photometric == PHOTOMETRIC_RGB && planar == PLANARCONFIG_CONTIG &&
            !tiff_lib->TIFFIsTiled(tiff))
            ok = read_tiff_scanlines(tiff, w, h, spp, pixels);
        else
            ok = read_tiff_rgba(tiff, w, h, pixels);
    } else {
        ok = false;
    }
    tiff_lib->TIFFClose(tiff);
    if (!ok) {
        std::free(pixels);
        return false;
    }
    out = Bitmap{w, h, pixels};
    return true;
}

// RGBA with unassociated alpha, LZW-compressed strips.
bool encode_tiff(const uint8_t* pixels, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
    if (!have_tiff()) return false;
    Stream s{nullptr, 0, 0, &out};
    TIFF* tiff = tiff_open(&s, "wm");
    if (!tiff) return false;
    uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    auto set = [tiff](uint32_t tag, auto... values) { return tiff_lib->TIFFSetField(tiff, tag, values...) == 1; };
    bool ok = set(TIFFTAG_IMAGEWIDTH, width) && set(TIFFTAG_IMAGELENGTH, height) && set(TIFFTAG_BITSPERSAMPLE, 8) &&
              set(TIFFTAG_SAMPLESPERPIXEL, 4) && set(TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              set(TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) && set(TIFFTAG_EXTRASAMPLES, 1, extra) &&
              set(TIFFTAG_COMPRESSION, COMPRESSION_LZW) && set(TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              set(TIFFTAG_ROWSPERSTRIP, tiff_lib->TIFFDefaultStripSize(tiff, 0));
    std::vector<uint8_t> row(size_t(width) * 4);
    for (uint32_t y = 0; ok && y < height; y++) {
        const uint8_t* src = pixels + size_t(y) * width * 4;
        for (uint32_t x = 0; x < width; x++) {
            row[x * 4] = src[x * 4 + 2];
            row[x * 4 + 1] = src[x * 4 + 1];
            row[x * 4 + 2] = src[x * 4];
            row[x * 4 + 3] = src[x * 4 + 3];
        }
        ok = tiff_lib->TIFFWriteScanline(tiff, row.data(), y, 0) >= 0;
    }
    ok = ok && tiff_lib->TIFFFlush(tiff) == 1;
    tiff_lib->TIFFClose(tiff);
    return ok;
}

}  // namespace vyx::imaging
