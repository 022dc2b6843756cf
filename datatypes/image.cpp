#include "datatypes/image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/types.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "runtime/stack.h"
#include "io/file_io.h"
#include "io/image_codecs.h"
#include "evaluator/routine_registry.h"  // layer: the codec routines are registered beside the codecs
#include "io/image_store.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/hash_index.h"
#include "runtime/raise.h"

namespace vyx::image {

namespace {

const Cell IMAGE_TYPE{TYPE_DATATYPE, TYPE_IMAGE, 0, 0};
const Cell EMPTY_IMAGE{TYPE_IMAGE, 0, 0, 0};

uint32_t size_word(uint32_t w, uint32_t h) { return (h << 16) | (w & 0xFFFF); }

// The pixels of an image with a node (raises access/bad-media once released).
uint8_t* pixels_of(const Cell* img) { return imaging::lock_pixels(img->data2); }

[[noreturn]] void invalid_arg(const Cell* value) {
    Cell v = *value;
    raise_error(err::script_invalid_arg, &v);
}

[[noreturn]] void out_of_range(const Cell* value) {
    Cell v = *value;
    raise_error(err::script_out_of_range, &v);
}

// Tells an object that owns the image about a change to it.
void tell_owner(const Cell* img, series::Change action, bool done, const Cell* value, uint32_t index, uint32_t count) {
    if (img->data2) series::notify(img, action, done, value, int32_t(index), int32_t(count));
}

// The pixel word of a tuple: R, G, B from its first three bytes, A = 255 - the
// fourth (opaque for a 3-byte tuple).
void tuple_to_pixel(const Cell* t, uint8_t* p) {
    p[0] = tuple::byte_at(t, 2);
    p[1] = tuple::byte_at(t, 1);
    p[2] = tuple::byte_at(t, 0);
    p[3] = uint8_t(255 - (tuple::length(t) >= 4 ? tuple::byte_at(t, 3) : 0));
}

// A new image of the rectangle at (x, y), w x h, of `img` (inside it) into
// `target`; a rectangle without area gives an empty image.
const Cell* copy_rect(const Cell* img, Cell* target, int64_t x, int64_t y, int64_t w, int64_t h) {
    if (w <= 0 || h <= 0) {
        *target = EMPTY_IMAGE;
        return target;
    }
    const uint8_t* src = pixels_of(img);
    uint8_t* px = imaging::alloc_pixels(uint32_t(w), uint32_t(h));
    if (!px) raise_error(err::internal_no_memory);
    imaging::clip(src, width(img), uint32_t(x), uint32_t(y), uint32_t(w), uint32_t(h), px);
    return make_from_pixels(target, uint32_t(w), uint32_t(h), px);
}

}  // namespace

// ---------------------------------------------------------------- entry points

Cell* make_from_pixels(Cell* target, uint32_t w, uint32_t h, uint8_t* pixels) {
    if (w == 0 || h == 0) {
        std::free(pixels);
        *target = Cell{TYPE_IMAGE, 0, 0, size_word(w, h)};
        return target;
    }
    *target = Cell{TYPE_IMAGE, 0, 0, size_word(w, h)};
    Node node = imaging::make_node(w, h, pixels);
    target->data2 = node;
    return target;
}

bool known_format(const Cell* bin) {
    Cell b = *bin;
    return imaging::sniff_format(binary::rs_head(&b), binary::rs_length(&b)) >= 0;
}

const Cell* encode(const Cell* img, Cell* target, int format) {
    if (format < imaging::IMAGE_BMP || format > imaging::IMAGE_TIFF) {
        write_byte_string("Cannot find image encoder\n");
        if (target && type_of(target) != TYPE_NONE) *target = NONE_CELL;
        return &NONE_CELL;
    }
    if (pixel_count(img) == 0 || !img->data2) raise_error(err::access_bad_media);
    std::vector<uint8_t> out;
    if (!imaging::encode(pixels_of(img), width(img), height(img), format, out))
        raise_error(err::access_bad_media);
    if (!target || type_of(target) == TYPE_NONE) return binary::load(out.data(), uint32_t(out.size()));
    return binary::make_from(target, out.data(), uint32_t(out.size()));
}

namespace {

const Cell* decode_bytes(const uint8_t* bytes, size_t n) {
    imaging::Bitmap bmp;
    if (!imaging::decode(bytes, n, bmp)) raise_error(err::access_bad_media);
    Cell* slot = stack::push_slot();
    *slot = EMPTY_IMAGE;
    return make_from_pixels(slot, bmp.width, bmp.height, bmp.pixels);
}

}  // namespace

const Cell* decode(const Cell* data) {
    Cell d = *data;
    if (type_of(&d) == TYPE_BINARY) {
        if (!known_format(&d)) return &NONE_CELL;
        // The bytes are copied out: decoding allocates nothing in the series
        // heap before it is done, but the copy keeps that from mattering.
        std::vector<uint8_t> bytes(binary::rs_head(&d), binary::rs_head(&d) + binary::rs_length(&d));
        return decode_bytes(bytes.data(), bytes.size());
    }
    // A file: read whole, then decoded.
    std::vector<uint8_t> bytes;
    simple_io::read_bytes(&d, bytes);
    return decode_bytes(bytes.data(), bytes.size());
}

Cell* extract_channels(const Cell* img, int channel) {
    uint32_t n = pixel_count(img);
    uint32_t unit = channel == CHANNEL_ARGB ? 4 : channel == CHANNEL_RGB ? 3 : 1;
    if (n == 0 || !img->data2) return binary::push(0);
    const uint8_t* px = pixels_of(img);
    if (channel == CHANNEL_ARGB) return binary::load(px, n * 4);
    std::vector<uint8_t> out(size_t(n) * unit);
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t* p = px + size_t(i) * 4;
        if (channel == CHANNEL_RGB) {
            out[size_t(i) * 3] = p[2];
            out[size_t(i) * 3 + 1] = p[1];
            out[size_t(i) * 3 + 2] = p[0];
        } else {
            out[i] = uint8_t(255 - p[3]);
        }
    }
    return binary::load(out.data(), uint32_t(out.size()));
}

const Cell* set_channels(Cell* img, const Cell* value, int channel) {
    uint32_t n = pixel_count(img);
    int t = type_of(value);
    if (t != TYPE_BINARY && t != TYPE_TUPLE && t != TYPE_INTEGER) invalid_arg(value);
    if (n == 0 || !img->data2) return value;
    uint8_t* px = pixels_of(img);
    if (t == TYPE_BINARY) {
        Cell b = *value;
        const uint8_t* src = binary::rs_head(&b);
        uint32_t len = binary::rs_length(&b);
        if (channel == CHANNEL_ARGB) {
            std::memcpy(px, src, std::min<size_t>(len, size_t(n) * 4));
        } else if (channel == CHANNEL_RGB) {
            uint32_t k = std::min(len / 3, n);
            for (uint32_t i = 0; i < k; i++) {
                px[i * 4 + 2] = src[i * 3];
                px[i * 4 + 1] = src[i * 3 + 1];
                px[i * 4] = src[i * 3 + 2];
            }
        } else {
            uint32_t k = std::min(len, n);
            for (uint32_t i = 0; i < k; i++) px[i * 4 + 3] = uint8_t(255 - src[i]);
        }
        tell_owner(img, series::Change::POKE, false, value, img->data1, 0);
        return value;
    }
    uint8_t b[4] = {0, 0, 0, 0};
    if (t == TYPE_TUPLE) {
        for (int i = 0; i < 4 && i < tuple::length(value); i++) b[i] = tuple::byte_at(value, i);
    } else {
        uint32_t v = value->data2;
        for (int i = 0; i < 4; i++) b[i] = uint8_t(v >> (8 * i));
    }
    for (uint32_t i = 0; i < n; i++) {
        uint8_t* p = px + size_t(i) * 4;
        if (channel == CHANNEL_ARGB) {
            p[0] = b[2], p[1] = b[1], p[2] = b[0], p[3] = uint8_t(255 - b[3]);
        } else if (channel == CHANNEL_RGB) {
            p[0] = b[2], p[1] = b[1], p[2] = b[0];
        } else {
            p[3] = uint8_t(255 - b[0]);
        }
    }
    tell_owner(img, series::Change::POKE, false, value, img->data1, 0);
    return value;
}

const Cell* get_pixel(const Cell* img, uint32_t offset) {
    if (offset >= pixel_count(img) || !img->data2) return &NONE_CELL;
    const uint8_t* p = pixels_of(img) + size_t(offset) * 4;
    uint8_t rgba[4] = {p[2], p[1], p[0], uint8_t(255 - p[3])};
    Cell* slot = stack::push_slot();
    *slot = Cell{TYPE_TUPLE, 0, 0, 0};
    return tuple::make_at(slot, rgba, 4);
}

uint32_t pixel_offset(const Cell* img, const Cell* index, int base, bool* out_of_range) {
    int64_t w = width(img), h = height(img), n = w * h;
    int64_t head = img->data1;
    int64_t idx;
    if (type_of(index) == TYPE_PAIR) {
        int64_t x = pair::x(index), y = pair::y(index);
        if (out_of_range) {
            bool inside = base == 1 ? (x >= 1 && x <= w && y >= 1 && y <= h) : (x >= 0 && x < w && y >= 0 && y < h);
            if (!inside) {
                *out_of_range = true;
                return uint32_t(std::min(head, n));
            }
        }
        if (base == 1 && y > 0) y--;
        idx = y * w + x;
    } else {
        idx = int32_t(index->data2);
    }
    if (base == 1 && idx <= 0) base = 0;
    int64_t offset = head + idx - base;
    if (offset < 0) {
        offset = 0;
        idx = 0;
    } else if (offset >= n) {
        offset = n;
        idx = 0;
    }
    if (out_of_range) *out_of_range = idx == 0;
    return uint32_t(offset);
}

void assign_words(const Cell* words, const Cell* img, uint32_t count) {
    Cell list = *words;
    Cell image = *img;
    for (uint32_t i = 0; i < count && list.data1 + i < blk::size(list.data2); i++) {
        Cell w = *blk::at(list.data2, list.data1 + i);
        Cell* top = stack::top;
        Cell v = *get_pixel(&image, image.data1 + i);
        stack::top = top;
        context::set(&w, &v);
    }
}

void release(const Cell* img) {
    if (img->data2) imaging::release(img->data2);
}

// ---------------------------------------------------------------- actions

namespace {

// make image! 2x2, make image! [size rgb-or-colour alpha].
const Cell* to(Cell* proto, Cell* spec, int type);

const Cell* make(Cell* proto, Cell* spec, int type) {
    int t = type_of(spec);
    if (t != TYPE_PAIR && t != TYPE_BLOCK) return to(proto, spec, type);
    Cell* result = stack::push_slot();
    *result = EMPTY_IMAGE;
    Cell size = *spec, rgb = NONE_CELL, alpha = NONE_CELL;
    if (t == TYPE_BLOCK) {
        uint32_t k = blk::length(spec);
        if (k == 0) {
            if (type_of(proto) != TYPE_IMAGE) invalid_arg(spec);
            auto copy = reinterpret_cast<act::Copy>(get_handler(TYPE_IMAGE, A_COPY));
            return copy(proto, result, nullptr, false, nullptr);
        }
        const Cell* items = blk::at(spec->data2, spec->data1);
        size = items[0];
        if (type_of(&size) != TYPE_PAIR) invalid_arg(&size);
        if (k > 1) {
            rgb = items[1];
            if (type_of(&rgb) != TYPE_BINARY && type_of(&rgb) != TYPE_TUPLE) invalid_arg(&rgb);
        }
        if (k > 2) {
            alpha = items[2];
            if (type_of(&alpha) != TYPE_BINARY) invalid_arg(&alpha);
        }
    }
    int64_t w = std::max<int32_t>(0, pair::x(&size)), h = std::max<int32_t>(0, pair::y(&size));
    if (w > imaging::MAX_SIDE || h > imaging::MAX_SIDE) out_of_range(&size);
    if (w == 0 || h == 0) {
        result->data3 = size_word(uint32_t(w), uint32_t(h));
        return result;
    }
    uint32_t n = uint32_t(w * h);
    uint8_t* px = imaging::alloc_pixels(uint32_t(w), uint32_t(h));
    if (!px) raise_error(err::internal_no_memory);
    if (type_of(&rgb) == TYPE_TUPLE) {
        uint8_t colour[4];
        tuple_to_pixel(&rgb, colour);
        for (uint32_t i = 0; i < n; i++) std::memcpy(px + size_t(i) * 4, colour, 4);
    } else {
        std::memset(px, 0xFF, size_t(n) * 4);
        if (type_of(&rgb) == TYPE_BINARY) {
            const uint8_t* src = binary::rs_head(&rgb);
            uint32_t k = std::min(binary::rs_length(&rgb) / 3, n);
            for (uint32_t i = 0; i < k; i++) {
                px[i * 4] = src[i * 3 + 2];
                px[i * 4 + 1] = src[i * 3 + 1];
                px[i * 4 + 2] = src[i * 3];
            }
        }
        if (type_of(&alpha) == TYPE_BINARY) {
            const uint8_t* src = binary::rs_head(&alpha);
            uint32_t k = std::min(binary::rs_length(&alpha), n);
            for (uint32_t i = 0; i < k; i++) px[i * 4 + 3] = uint8_t(255 - src[i]);
        }
    }
    return make_from_pixels(result, uint32_t(w), uint32_t(h), px);
}

// An image is copied; a face (an object with a type and a size) gives what
// the view captures of it, and with no view to capture that is none.
const Cell* to(Cell*, Cell* spec, int) {
    if (type_of(spec) == TYPE_IMAGE) {
        Cell* result = stack::push_slot();
        *result = EMPTY_IMAGE;
        auto copy = reinterpret_cast<act::Copy>(get_handler(TYPE_IMAGE, A_COPY));
        return copy(spec, result, nullptr, false, nullptr);
    }
    if (type_of(spec) == TYPE_OBJECT) {
        Cell type_word = series::named_word("type"), size_word_ = series::named_word("size");
        if (object::find_field(spec, word::symbol_of(&type_word)) >= 0 &&
            object::find_field(spec, word::symbol_of(&size_word_)) >= 0)
            return &NONE_CELL;
    }
    Cell s = *spec;
    raise_error(err::script_bad_to_arg, &IMAGE_TYPE, &s);
}

// The construction text. The RGB digits run from the head; so do the alpha
// digits, so that both parts describe the same pixels.
int serialize(Cell* value, Cell* buffer, bool only, bool flat, int part, int level) {
    static const char HEX[] = "0123456789ABCDEF";
    Cell img = *value;
    uint32_t w = width(&img), h = height(&img), n = w * h;
    std::string inner(size_t(std::max(level, 0)) * 4, ' ');
    std::string outer(size_t(std::max(level - 1, 0)) * 4, ' ');
    std::string text;
    int left = part;
    bool limited = part < NO_LIMIT;
    auto add = [&](std::string_view s) {
        text.append(s);
        left -= int(s.size());
    };
    auto done = [&] {
        string::concatenate_literal(buffer, text, NO_LIMIT);
        return left;
    };
    if (!only) add("make image! [");
    add(std::to_string(w) + "x" + std::to_string(h));
    if (!img.data2 || n == 0) {
        add(" #{}");
        if (!only) add("]");
        return done();
    }
    const uint8_t* px = pixels_of(&img);
    uint32_t head = std::min(img.data1, n), k = n - head;
    bool lines = !flat && 4 * uint64_t(k) > 30;
    add(" #{");
    if (lines) add("\n" + inner);
    bool any_alpha = false;
    for (uint32_t i = 0; i < k; i++) {
        const uint8_t* p = px + size_t(head + i) * 4;
        char d[6] = {HEX[p[2] >> 4], HEX[p[2] & 15], HEX[p[1] >> 4], HEX[p[1] & 15], HEX[p[0] >> 4], HEX[p[0] & 15]};
        add(std::string_view(d, 6));
        any_alpha |= p[3] != 255;
        if (!flat && (i + 1) % 10 == 0) add("\n" + inner);
        if (limited && left <= 0) return done();
    }
    if (lines && k % 10 != 0) add("\n" + outer);
    add("}");
    if (any_alpha) {
        add(" #{");
        if (!flat) add("\n" + inner);
        for (uint32_t i = 0; i < k; i++) {
            uint8_t a = uint8_t(255 - px[size_t(head + i) * 4 + 3]);
            char d[2] = {HEX[a >> 4], HEX[a & 15]};
            add(std::string_view(d, 2));
            if (!flat && (i + 1) % 10 == 0 && i + 1 < k) add("\n" + inner);
            if (limited && left <= 0) return done();
        }
        if (!flat) add("\n" + outer);
        add("}");
    }
    if (!only) add("]");
    return done();
}

int form(Cell* value, Cell* buffer, int part) { return serialize(value, buffer, false, false, part, 0); }

int mold(Cell* value, Cell* buffer, bool only, bool, bool flat, int part, int indent) {
    return serialize(value, buffer, only, flat, part, indent + 1);
}

const Cell* pick(Cell* img, int index, Cell* boxed) {
    Cell i = boxed && (type_of(boxed) == TYPE_PAIR || type_of(boxed) == TYPE_INTEGER)
                 ? *boxed
                 : Cell{TYPE_INTEGER, 0, uint32_t(index), 0};
    bool outside = false;
    uint32_t offset = pixel_offset(img, &i, 1, &outside);
    if (outside) return &NONE_CELL;
    return get_pixel(img, offset);
}

const Cell* poke(Cell* img, int index, Cell* data, Cell* boxed) {
    Cell i = boxed && (type_of(boxed) == TYPE_PAIR || type_of(boxed) == TYPE_INTEGER)
                 ? *boxed
                 : Cell{TYPE_INTEGER, 0, uint32_t(index), 0};
    bool outside = false;
    uint32_t offset = pixel_offset(img, &i, 1, &outside);
    if (outside) out_of_range(&i);
    if (type_of(data) != TYPE_TUPLE) invalid_arg(data);
    tuple_to_pixel(data, pixels_of(img) + size_t(offset) * 4);
    tell_owner(img, series::Change::POKE, false, data, offset, 1);
    return data;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool) {
    int t = type_of(element);
    if (t == TYPE_INTEGER || t == TYPE_PAIR) {
        if (value) return poke(parent, int32_t(element->data2), value, element);
        return pick(parent, int32_t(element->data2), element);
    }
    if (t == TYPE_WORD) {
        static const char* const names[] = {"size", "argb", "rgb", "alpha"};
        int found = -1;
        for (int k = 0; k < 4; k++) {
            Cell w = series::named_word(names[k]);
            if (symbol::resolve(word::symbol_of(&w)) == symbol::resolve(word::symbol_of(element))) found = k;
        }
        if (found == 0 && !value) {
            Cell* slot = stack::push_slot();
            *slot = Cell{TYPE_PAIR, 0, 0, 0};
            return pair::make_at(slot, int32_t(width(parent)), int32_t(height(parent)));
        }
        if (found > 0) {
            int channel = found == 1 ? CHANNEL_ARGB : found == 2 ? CHANNEL_RGB : CHANNEL_ALPHA;
            if (value) return set_channels(parent, value, channel);
            return extract_channels(parent, channel);
        }
    }
    Cell p = *path, e = *element;
    raise_error(err::script_invalid_path, &p, &e);
}

// Equal pixel counts compare by their memory bytes; shapes that differ are
// never equal (the narrower image orders first).
int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_IMAGE) return NOT_COMPARABLE;
    bool same = a->data2 == b->data2 && a->data1 == b->data1;
    if (op == COMP_SAME) return same ? 0 : -1;
    if (same && (op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL)) return 0;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT: case COMP_CASE_SORT:
    case COMP_FIND:
        break;
    default:
        return NOT_COMPARABLE;
    }
    uint32_t na = a->data2 ? pixel_count(a) : 0, nb = b->data2 ? pixel_count(b) : 0;
    if (na != nb) return na < nb ? -1 : 1;
    if (na == 0) return 0;
    int r = std::memcmp(pixels_of(a), pixels_of(b), size_t(na) * 4);
    if (r) return r < 0 ? -1 : 1;
    if (width(a) != width(b)) return width(a) < width(b) ? -1 : 1;
    return 0;
}

void at() {
    Cell* img = stack::arguments;
    img->data1 = pixel_offset(img, img + 1, 1, nullptr);
}

void skip() {
    Cell* img = stack::arguments;
    img->data1 = pixel_offset(img, img + 1, 0, nullptr);
}

void back() {
    Cell* img = stack::arguments;
    if (img->data1 > 0) img->data1 = std::min(img->data1 - 1, pixel_count(img));
}

void next() {
    Cell* img = stack::arguments;
    if (img->data1 + 1 <= pixel_count(img)) img->data1++;
}

void tail() { stack::arguments->data1 = pixel_count(stack::arguments); }

void is_tail() {
    bool at_tail = stack::arguments->data1 >= pixel_count(stack::arguments);
    logic::box(at_tail);
}

int length(Cell* img) { return int(pixel_count(img)); }

void change(Cell* img, Cell* value, int part, bool, int dup) {
    if (part >= 0 || dup > 1) raise_error(err::internal_not_done);
    uint32_t n = pixel_count(img), w = width(img);
    if (type_of(value) == TYPE_TUPLE) {
        if (img->data1 >= n) {
            Cell one{TYPE_INTEGER, 0, 1, 0};
            out_of_range(&one);
        }
        tell_owner(img, series::Change::CHANGE, false, nullptr, img->data1, 1);
        tuple_to_pixel(value, pixels_of(img) + size_t(img->data1) * 4);
        img->data1++;
        tell_owner(img, series::Change::CHANGE, true, nullptr, img->data1 - 1, 1);
        return;
    }
    if (type_of(value) != TYPE_IMAGE) {
        Cell dt{TYPE_DATATYPE, uint32_t(type_of(value)), 0, 0};
        raise_error(err::script_invalid_type, &dt);
    }
    if (img->data1 >= n) return;
    tell_owner(img, series::Change::CHANGE, false, nullptr, img->data1, 0);
    uint32_t x0 = img->data1 % w, y0 = img->data1 / w;
    uint32_t sw = width(value), sh = height(value);
    uint32_t cw = std::min(sw, w - x0), ch = std::min(sh, height(img) - y0);
    if (value->data2 && sw && sh) {
        const uint8_t* src = pixels_of(value);
        uint8_t* dst = pixels_of(img);
        // memmove: the source may be the image itself.
        for (uint32_t r = 0; r < ch; r++)
            std::memmove(dst + (size_t(y0 + r) * w + x0) * 4, src + size_t(r) * sw * 4, size_t(cw) * 4);
    }
    uint32_t old_head = img->data1;
    if (ch > 0) img->data1 = (y0 + ch - 1) * w + std::min(x0 + sw, w);
    tell_owner(img, series::Change::CHANGE, true, nullptr, old_head, cw * ch);
}

const Cell* copy(Cell* img, Cell* result, Cell* part, bool, Cell*) {
    int64_t w = width(img), h = height(img), n = w * h, head = std::min<int64_t>(img->data1, n);
    if (n == 0 || !img->data2) {
        *result = EMPTY_IMAGE;
        return result;
    }
    int64_t x0 = head % w, y0 = head / w;
    if (!part) return copy_rect(img, result, x0, y0, w - x0, h - y0);
    switch (type_of(part)) {
    case TYPE_INTEGER:
        raise_error(err::internal_not_done);
    case TYPE_PAIR: {
        int64_t px = pair::x(part), py = pair::y(part);
        if (px > 0 && py > 0 && head < n) return copy_rect(img, result, x0, y0, std::min(px, w - x0), std::min(py, h - y0));
        if (px < 0 && py < 0 && head > 0) {
            int64_t c = -px, r = -py, cw, rh;
            if (x0 == 0) x0 = w;
            if (c > x0) cw = x0, x0 = 0;
            else cw = c, x0 -= c;
            if (y0 < h) y0++;
            if (r > y0) rh = y0, y0 = 0;
            else rh = r, y0 -= r;
            return copy_rect(img, result, x0, y0, cw, rh);
        }
        *result = EMPTY_IMAGE;
        return result;
    }
    case TYPE_IMAGE: {
        if (part->data2 != img->data2) {
            Cell word = series::named_word("part"), p = *part;
            raise_error(err::script_invalid_refine_arg, &word, &p);
        }
        int64_t a = head, b = std::min<int64_t>(part->data1, n);
        if (a > b) std::swap(a, b);
        int64_t ax = a % w, ay = a / w, bx = b % w, by = b / w;
        return copy_rect(img, result, ax, ay, bx - ax, by - ay);
    }
    default: {
        Cell word = series::named_word("part"), p = *part;
        raise_error(err::script_invalid_refine_arg, &word, &p);
    }
    }
}

// Marking: the node, then (the first time in a collection) its handle record.
void mark(const Cell* img) {
    if (img->data2 && collector::mark_node(img->data2)) imaging::mark_node(img->data2);
}

// ---------------------------------------------------------------- codecs

template <int FORMAT>
void encode_routine() {
    Cell* args = stack::arguments;
    const Cell* r = encode(&args[0], nullptr, FORMAT);
    stack::set_last(r);
}

void decode_routine() {
    const Cell* r = decode(stack::arguments);
    stack::set_last(r);
}

routine::Code encoder_of(int format) {
    switch (format) {
    case imaging::IMAGE_PNG: return encode_routine<imaging::IMAGE_PNG>;
    case imaging::IMAGE_JPEG: return encode_routine<imaging::IMAGE_JPEG>;
    case imaging::IMAGE_GIF: return encode_routine<imaging::IMAGE_GIF>;
    case imaging::IMAGE_TIFF: return encode_routine<imaging::IMAGE_TIFF>;
    default: return encode_routine<imaging::IMAGE_BMP>;
    }
}

}  // namespace

void define_codec_routines() {
    struct Codec {
        const char* key;
        int format;
    };
    static const Codec codecs[] = {{"png", imaging::IMAGE_PNG}, {"jpeg", imaging::IMAGE_JPEG},
                                   {"bmp", imaging::IMAGE_BMP}, {"gif", imaging::IMAGE_GIF},
                                   {"tiff", imaging::IMAGE_TIFF}};
    for (const Codec& c : codecs) {
        std::string at = std::string("codecs/") + c.key;
        routines::add(at + "/encode", "img [image!] where [any-type!]", encoder_of(c.format));
        routines::add(at + "/decode", "data [any-type!]", decode_routine);
    }
}

void register_type() {
    imaging::init_factory();
    Registration(TYPE_IMAGE, TYPE_SERIES, "image!")
        .marker(mark, true)
        .hasher(hash_payload_bytes<1, 8>)
        .on<A_MAKE>(make)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_COMPARE>(compare)
        .on<A_AT>(at)
        .on<A_BACK>(back)
        .on<A_CHANGE>(change)
        .on<A_COPY>(copy)
        .inherit({A_HEAD, A_HEAD_Q, A_INDEX_Q, A_MODIFY})
        .on<A_LENGTH_Q>(length)
        .on<A_NEXT>(next)
        .on<A_PICK>(pick)
        .on<A_POKE>(poke)
        .on<A_SKIP>(skip)
        .on<A_TAIL>(tail)
        .on<A_TAIL_Q>(is_tail)
        .commit();
}

}  // namespace vyx::image
