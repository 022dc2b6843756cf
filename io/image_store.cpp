#include "io/image_store.h"

#include <cstdlib>
#include <cstring>

#include "runtime/handles.h"
#include "runtime/raise.h"

namespace vyx::imaging {

namespace {

constexpr uint32_t IMAGE_KIND_ID = 0x494D47;  // "IMG"
uint32_t image_kind = 0;
uint64_t released = 0;

uint32_t* words(Node node) { return reinterpret_cast<uint32_t*>(node_buffer(node)->head()); }

}  // namespace

uint32_t init_factory() {
    image_kind = handles::register_handle_kind(IMAGE_KIND_ID, release_node);
    return image_kind;
}

Node make_node(uint32_t width, uint32_t height, uint8_t* pixels) {
    Node node;
    try {
        node = new_byte_series(NODE_WORDS * 4);
    } catch (...) {
        std::free(pixels);
        throw;
    }
    SeriesBuffer* b = node_buffer(node);
    std::memset(b->head(), 0, NODE_WORDS * 4);
    b->tail = b->offset + NODE_WORDS * 4;
    uint32_t* w = words(node);
    w[NODE_FLAGS] = FLAG_CURRENT;
    w[NODE_SIZE] = (height << 16) | (width & 0xFFFF);
    w[NODE_HANDLE] = uint32_t(handles::alloc_handle(pixels, image_kind));
    return node;
}

uint8_t* pixels(Node node) {
    return static_cast<uint8_t*>(handles::handle_object(int32_t(words(node)[NODE_HANDLE])));
}

uint8_t* lock_pixels(Node node) {
    uint8_t* p = pixels(node);
    if (!p) raise_error(err::access_bad_media);
    return p;
}

void mark_node(Node node) { handles::mark_handle(int32_t(words(node)[NODE_HANDLE])); }

void release_node(void* object) {
    if (!object) return;
    std::free(object);
    released++;
}

void release(Node node) {
    int32_t index = int32_t(words(node)[NODE_HANDLE]);
    void* object = handles::handle_object(index);
    if (!object) return;
    release_node(object);
    handles::table.records[index].object = nullptr;
}

uint64_t released_count() { return released; }

}  // namespace vyx::imaging
