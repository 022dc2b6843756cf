#include "runtime/arrays.h"

#include <cstring>

namespace vyx {

namespace {
uint32_t log2_width(uint32_t w) { return w == 1 ? 0 : w == 2 ? 1 : w == 4 ? 2 : w == 8 ? 3 : 4; }
}  // namespace

Node new_array(uint32_t count, uint32_t width) {
    Node n = new_byte_series(count * width);
    SeriesBuffer* b = node_buffer(n);
    b->flags = (b->flags & ~series_flag::UNIT_MASK) | width;
    return n;
}

uint32_t array_length(Node array) {
    SeriesBuffer* b = node_buffer(array);
    return (b->tail - b->offset) >> log2_width(b->unit());
}

void set_array_tail(Node array, int32_t n) {
    SeriesBuffer* b = node_buffer(array);
    // A count of 0 or less would put the tail before the head.
    uint32_t keep = n > 1 ? uint32_t(n - 1) : 0;
    uint64_t tail = uint64_t(b->offset) + uint64_t(keep) * b->unit();
    if (tail > b->size) tail = b->size;
    b->tail = uint32_t(tail);
}

Node copy_array(Node array) {
    SeriesBuffer* b = node_buffer(array);
    uint32_t bytes = b->tail - b->offset;
    uint32_t width = b->unit();
    Node n = new_array(bytes / width, width);
    b = node_buffer(array);
    SeriesBuffer* c = node_buffer(n);
    std::memcpy(c->head(), b->head(), bytes);
    c->tail = c->offset + bytes;
    return n;
}

void array_append_byte(Node array, uint8_t byte) {
    SeriesBuffer* b = node_buffer(array);
    *reserve_tail_bytes(b, 1) = byte;
}

void array_append_bytes(Node array, const uint8_t* source, uint32_t length) {
    SeriesBuffer* b = node_buffer(array);
    // The source may lie in a series that the growth moves: copy it aside first
    // only when it is inside this very buffer.
    if (source >= b->data() && source < b->end()) {
        uint32_t from = uint32_t(source - b->data());
        uint8_t* at = reserve_tail_bytes(b, length);
        std::memmove(at, b->data() + from, length);
        return;
    }
    std::memcpy(reserve_tail_bytes(b, length), source, length);
}

void array_append_int(Node array, uint32_t value) {
    SeriesBuffer* b = node_buffer(array);
    std::memcpy(reserve_tail_bytes(b, 4), &value, 4);
}

int32_t find_array_int(Node array, uint32_t value) {
    SeriesBuffer* b = node_buffer(array);
    for (uint32_t off = 0; off + 4 <= b->tail - b->offset; off += 4) {
        uint32_t v;
        std::memcpy(&v, b->head() + off, 4);
        if (v == value) return int32_t(off);
    }
    return -1;
}

uint32_t array_int_at(Node array, uint32_t item) {
    uint32_t v;
    std::memcpy(&v, node_buffer(array)->head() + (item - 1) * 4, 4);
    return v;
}

void set_array_int_at(Node array, uint32_t item, uint32_t value) {
    std::memcpy(node_buffer(array)->head() + (item - 1) * 4, &value, 4);
}

void remove_array_at(Node array, uint32_t offset, uint32_t count) {
    SeriesBuffer* b = node_buffer(array);
    uint32_t len = b->tail - b->offset;
    if (offset >= len) return;
    if (count > len - offset) count = len - offset;
    std::memmove(b->head() + offset, b->head() + offset + count, len - offset - count);
    b->tail -= count;
}

void remove_array_pointer(Node array, uint32_t value) {
    int32_t at = find_array_int(array, value);
    if (at >= 0) remove_array_at(array, uint32_t(at), 4);
}

}  // namespace vyx
