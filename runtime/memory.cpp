#include "runtime/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/fatal.h"
#include "runtime/platform/pages.h"
#include "runtime/raise.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VYX_ASAN 1
#endif

namespace vyx {

MemoryRecord memory;
// The node table lies in zero-filled memory the system hands out page by page
// as nodes are first used; its address is fixed, so reaching a node's slot
// costs no load of the table's address.
#ifdef __SANITIZE_ADDRESS__
uintptr_t* node_slots = nullptr;
#else
alignas(4096) uintptr_t node_slots[NODE_SLOT_COUNT];
#endif
uint64_t buffers_moved = 0;
KnownValues known_values[KNOWN_VALUES];

namespace {

// Buffers kept outside the frames (process heap); remembered so that tear-down
// can give them back.
struct OutsideBlock {
    void* raw;
    size_t bytes;
};
// Held through a pointer that is never destroyed, so the blocks stay reachable
// (for leak checkers too) after static destructors have run at exit.
std::vector<OutsideBlock>& outside_blocks = *new std::vector<OutsideBlock>;
bool ready = false;
// Allocations since the last stress collection.
uint32_t stress_count = 0;

size_t round_page(size_t n) { return (n + PAGE_SIZE - 1) & ~(PAGE_SIZE - 1); }

// Chunks start 4 bytes past an 8-byte boundary, so that the data area behind the
// 20-byte header is 8-byte aligned. Every chunk is size + 24 with size a multiple
// of 16, so the alignment carries from one chunk to the next.
uint8_t* chunk_align(uint8_t* p) {
    uintptr_t a = reinterpret_cast<uintptr_t>(p);
    a = ((a + 7) & ~uintptr_t(7)) + 4;
    return reinterpret_cast<uint8_t*>(a);
}

constexpr size_t OS_PREFIX = 16;
constexpr size_t BIG_HEADER = 36;  // the BigSeries record, then the chunk at 8k + 4

}  // namespace

uint8_t* SeriesFrame::data_start() const {
    return chunk_align(reinterpret_cast<uint8_t*>(const_cast<SeriesFrame*>(this)) + sizeof(SeriesFrame));
}

SeriesBuffer* BigSeries::buffer() {
    return reinterpret_cast<SeriesBuffer*>(reinterpret_cast<uint8_t*>(this) + BIG_HEADER);
}

Node NodeFrame::first_id() const {
    return Node(1 + (this - memory.node_frames) * NODES_PER_FRAME);
}

bool memory_ready() { return ready; }

void poison_region(void* address, size_t bytes) {
#if defined(VYX_ASAN)
    ASAN_POISON_MEMORY_REGION(address, bytes);
#elif defined(VYX_GC_STRESS)
    std::memset(address, 0xDB, bytes);
#else
    (void)address;
    (void)bytes;
#endif
}

void unpoison_region(void* address, size_t bytes) {
#if defined(VYX_ASAN)
    ASAN_UNPOISON_MEMORY_REGION(address, bytes);
#else
    (void)address;
    (void)bytes;
#endif
}

uint64_t runtime_heap_bytes() {
    uint64_t n = 0;
    for (const OutsideBlock& b : outside_blocks) n += b.bytes + 16;
    return n;
}

void init_memory() {
    if (ready) return;
    std::memset(&memory, 0, sizeof memory);
    memory.first_node_frame = memory.last_node_frame = memory.current_node_frame = -1;
    memory.initial_frame_size = INITIAL_FRAME_SIZE;
    memory.next_frame_size = INITIAL_FRAME_SIZE;
    memory.max_frame_size = MAX_FRAME_SIZE;
#ifdef __SANITIZE_ADDRESS__
    if (!node_slots) {
        node_slots = static_cast<uintptr_t*>(platform::reserve_lazy_pages(NODE_SLOT_COUNT * sizeof(uintptr_t)));
        if (!node_slots) fatal_error(FATAL_NO_MEMORY);
    }
#endif
    memory.node_frames = static_cast<NodeFrame*>(std::calloc(MAX_NODE_FRAMES, sizeof(NodeFrame)));
    if (!memory.node_frames) fatal_error(FATAL_NO_MEMORY);
    stress_count = 0;
    ready = true;
}

// ---------------------------------------------------------------- OS blocks

// The block's rounded size sits in a 16-byte prefix, which keeps what follows
// 16-byte aligned.
void* take_os_block(size_t size, bool executable) {
    size_t rounded = round_page(size + OS_PREFIX);
    void* p = platform::alloc_pages(rounded, executable);
    if (!p) raise_error(err::internal_no_memory);
    memory.os_bytes += rounded;
    *static_cast<uint64_t*>(p) = rounded;
    return static_cast<uint8_t*>(p) + OS_PREFIX;
}

void return_os_block(void* address) {
    uint8_t* base = static_cast<uint8_t*>(address) - OS_PREFIX;
    size_t rounded = size_t(*reinterpret_cast<uint64_t*>(base));
    memory.os_bytes -= rounded;
    if (!platform::free_pages(base, rounded)) raise_error(err::internal_wrong_mem);
}

// ---------------------------------------------------------------- nodes

int32_t new_node_frame(uint32_t n) {
    // A frame's node ids are fixed by its index in the side table, so a freed
    // index is reused before the table grows.
    int32_t index = -1;
    for (uint32_t i = 0; i < memory.node_frame_count; i++)
        if (!memory.node_frames[i].live) { index = int32_t(i); break; }
    if (index < 0) {
        if (memory.node_frame_count >= MAX_NODE_FRAMES) raise_error(err::internal_no_memory);
        index = int32_t(memory.node_frame_count++);
    }
    if (n != NODES_PER_FRAME) n = NODES_PER_FRAME;  // ids are laid out per fixed-size frame
    NodeFrame& f = memory.node_frames[index];
    f = NodeFrame{};
    f.next = f.prev = -1;
    f.capacity = n;
    f.stamp = collector::cycles;
    f.live = true;
    // The slots' pages are committed by the kernel on first touch; count them as
    // this frame's OS block.
    memory.os_bytes += round_page(36 + size_t(8) * n + OS_PREFIX);
    Node first = f.first_id();
    for (uint32_t i = 0; i < n; i++) node_slots[first + i] = (i + 1 < n) ? first + i + 1 : 0;
    f.free_head = first;
    if (memory.last_node_frame < 0) {
        memory.first_node_frame = memory.last_node_frame = memory.current_node_frame = index;
    } else {
        memory.node_frames[memory.last_node_frame].next = index;
        f.prev = memory.last_node_frame;
        memory.last_node_frame = index;
    }
    return index;
}

void release_node_frame(int32_t index) {
    NodeFrame& f = memory.node_frames[index];
    if (f.prev >= 0) memory.node_frames[f.prev].next = f.next; else memory.first_node_frame = f.next;
    if (f.next >= 0) memory.node_frames[f.next].prev = f.prev; else memory.last_node_frame = f.prev;
    if (memory.current_node_frame == index) memory.current_node_frame = memory.last_node_frame;
    memory.os_bytes -= round_page(36 + size_t(8) * f.capacity + OS_PREFIX);
    Node first = f.first_id();
    std::memset(&node_slots[first], 0, sizeof(uintptr_t) * f.capacity);
    f.live = false;
}

int32_t node_frame_of(Node node) { return int32_t((node - 1) / NODES_PER_FRAME); }

Node take_node() {
    int32_t cur = memory.current_node_frame;
    if (cur < 0 || memory.node_frames[cur].free_head == 0) {
        cur = -1;
        for (int32_t i = memory.first_node_frame; i >= 0; i = memory.node_frames[i].next) {
            const NodeFrame& f = memory.node_frames[i];
            if (f.free_head != 0 && !f.released) { cur = i; break; }
        }
        if (cur < 0) cur = new_node_frame(NODES_PER_FRAME);
        memory.current_node_frame = cur;
    }
    NodeFrame& f = memory.node_frames[cur];
    Node n = f.free_head;
    f.free_head = Node(node_slots[n]);
    node_slots[n] = 0;
    f.used++;
    return n;
}

void return_node(Node node) {
    NodeFrame& f = memory.node_frames[node_frame_of(node)];
    node_slots[node] = f.free_head;
    f.free_head = node;
    f.used--;
}

void review_node_frames() {
    int32_t i = memory.first_node_frame;
    bool current_set = false;
    while (i >= 0) {
        NodeFrame& f = memory.node_frames[i];
        int32_t next = f.next;
        if (f.used == 0 || f.released) {
            release_node_frame(i);
        } else {
            if (!current_set && f.used < f.capacity) {
                memory.current_node_frame = i;
                current_set = true;
            }
            f.history = (f.history << 1) | (f.used == f.used_at_last ? 1u : 0u);
            f.used_at_last = f.used;
        }
        i = next;
    }
}

// ---------------------------------------------------------------- series frames

// Frames an evacuation left wait here, poisoned or protected, until
// QUARANTINE_ROUNDS more evacuations have run: an address kept from before a
// collection faults at its next use. Then a new frame of the same size takes
// one back, and its pages, already the process's, cost no fresh mapping and
// no faults.
namespace {

// Out of the list of frames, its data no longer poisoned.
void unlink_series_frame(SeriesFrame* f) {
    if (f->prev) f->prev->next = f->next; else memory.first_frame = f->next;
    if (f->next) f->next->prev = f->prev; else memory.last_frame = f->prev;
    if (memory.current_frame == f) memory.current_frame = memory.last_frame;
    unpoison_region(f->data_start(), size_t(f->end - f->data_start()));
}

struct Quarantined {
    void* block;     // as take_os_block returned it
    size_t bytes;    // the OS block's rounded size
    uint32_t round;  // the evacuation that left it
};
constexpr uint32_t QUARANTINE_ROUNDS = 4;
constexpr size_t QUARANTINE_MOST = 64;
std::vector<Quarantined> quarantine;  // oldest first
uint32_t evacuation_round = 0;

uint8_t* os_base(void* block) { return static_cast<uint8_t*>(block) - OS_PREFIX; }

// Under the address sanitizer, poisoned memory reports its reader; elsewhere
// the pages are protected.
bool lock_quarantined(uint8_t* base, size_t bytes) {
#if defined(VYX_ASAN)
    ASAN_POISON_MEMORY_REGION(base, bytes);
    return true;
#else
    return platform::protect_pages(base, bytes, false);
#endif
}

bool unlock_quarantined(const Quarantined& q) {
#if defined(VYX_ASAN)
    ASAN_UNPOISON_MEMORY_REGION(os_base(q.block), q.bytes);
    return true;
#else
    return platform::protect_pages(os_base(q.block), q.bytes, true);
#endif
}

void free_quarantined(const Quarantined& q) {
#if defined(VYX_ASAN)
    ASAN_UNPOISON_MEMORY_REGION(os_base(q.block), q.bytes);
#endif
    if (!platform::free_pages(os_base(q.block), q.bytes)) raise_error(err::internal_wrong_mem);
}

// A quarantined block of `bytes`, readable again, or null. Blocks past their
// quarantine that do not fit go back to the system.
void* take_quarantined(size_t bytes) {
    size_t rounded = round_page(bytes + OS_PREFIX);
    while (!quarantine.empty() && evacuation_round - quarantine.front().round >= QUARANTINE_ROUNDS) {
        Quarantined q = quarantine.front();
        quarantine.erase(quarantine.begin());
        if (q.bytes != rounded) {
            free_quarantined(q);
            continue;
        }
        if (!unlock_quarantined(q)) raise_error(err::internal_wrong_mem);
        memory.os_bytes += q.bytes;
        return q.block;
    }
    return nullptr;
}

}  // namespace

void retire_series_frame(SeriesFrame* f) {
    unlink_series_frame(f);
    uint8_t* base = os_base(f);
    size_t rounded = size_t(*reinterpret_cast<uint64_t*>(base));
    if (quarantine.size() == QUARANTINE_MOST) {
        free_quarantined(quarantine.front());
        quarantine.erase(quarantine.begin());
    }
    if (!lock_quarantined(base, rounded)) raise_error(err::internal_wrong_mem);
    memory.os_bytes -= rounded;
    quarantine.push_back({f, rounded, evacuation_round});
}

void end_evacuation() { evacuation_round++; }

SeriesFrame* new_series_frame() {
    uint32_t a = memory.next_frame_size;
    if (a < memory.max_frame_size) memory.next_frame_size = 2 * a;
    // Room for the record and the chunk alignment in front of `a` bytes of data.
    size_t bytes = a + sizeof(SeriesFrame) + 16;
    void* reused = quarantine.empty() ? nullptr : take_quarantined(bytes);
    uint8_t* block = static_cast<uint8_t*>(reused ? reused : take_os_block(bytes));
    auto* f = reinterpret_cast<SeriesFrame*>(block);
    f->size = a + uint32_t(sizeof(SeriesFrame));
    f->heap = f->data_start();
    f->end = f->heap + a;
    f->next = f->prev = nullptr;
    poison_region(f->heap, a);
    if (!memory.first_frame) {
        memory.first_frame = memory.current_frame = memory.last_frame = f;
    } else if (f < memory.first_frame) {
        f->next = memory.first_frame;
        memory.first_frame->prev = f;
        memory.first_frame = f;
    } else {
        SeriesFrame* after = memory.first_frame;
        while (after->next && after->next < f) after = after->next;
        f->next = after->next;
        f->prev = after;
        if (after->next) after->next->prev = f; else memory.last_frame = f;
        after->next = f;
    }
    return f;
}

void release_series_frame(SeriesFrame* f) {
    unlink_series_frame(f);
    return_os_block(f);
}

SeriesFrame* find_series_frame_to_reuse(uint32_t chunk) {
    for (SeriesFrame* f = memory.first_frame; f; f = f->next)
        if (f->heap + chunk < f->end && uint32_t(f->end - f->heap) >= FRAME_REUSE_MIN) return f;
    return nullptr;
}

bool collection_due(uint64_t chunk) {
    uint64_t threshold = memory.live_after_collection / 2;
    if (threshold < MIN_COLLECTION_DEBT) threshold = MIN_COLLECTION_DEBT;
    return memory.allocated_since_collection + chunk >= threshold;
}

// ---------------------------------------------------------------- big series

SeriesBuffer* new_big_series(uint64_t chunk) {
    uint8_t* block = static_cast<uint8_t*>(take_os_block(size_t(chunk) + BIG_HEADER));
    static_assert(OS_PREFIX % 8 == 0 && BIG_HEADER % 8 == 4);
    auto* big = reinterpret_cast<BigSeries*>(block);
    big->next = big->prev = nullptr;
    big->size = chunk;
    if (!memory.first_big) {
        memory.first_big = big;
    } else {
        BigSeries* last = memory.first_big;
        while (last->next) last = last->next;
        last->next = big;
    }
    return big->buffer();
}

BigSeries* big_series_of(SeriesBuffer* buffer) {
    return reinterpret_cast<BigSeries*>(reinterpret_cast<uint8_t*>(buffer) - BIG_HEADER);
}

void release_big_series(SeriesBuffer* buffer) {
    BigSeries* big = big_series_of(buffer);
    BigSeries** link = &memory.first_big;
    while (*link && *link != big) link = &(*link)->next;
    if (*link) *link = big->next;
    return_os_block(big);
}

// ---------------------------------------------------------------- buffers

SeriesBuffer* new_series_buffer(uint32_t count, uint32_t unit, int32_t offset) {
    uint64_t bytes = uint64_t(count) * unit;
    if (bytes > 0xFFFFFF00ull) raise_error(err::internal_no_memory);
    uint32_t size = round16(bytes);
    uint64_t chunk = uint64_t(size) + 24;
    SeriesBuffer* b;
    uint32_t big = 0;
    // GC stress: collect before every Nth allocation, so that any buffer
    // address held across an allocation is caught.
    if (collector::stress_every && collector::active && !collector::is_collecting() &&
        ++stress_count >= collector::stress_every) {
        stress_count = 0;
        collector::collect_garbage();
    }
    // Collections are paced by the bytes allocated since the last one: a
    // frame tail too small to reuse must not stand in for room (the heap would
    // grow without a collection ever running), and a heap nearly full of live
    // data must not be collected again for every few kilobytes allocated.
    if (chunk >= memory.max_frame_size) {
        if (collection_due(chunk)) collector::collect_if_active();
        b = new_big_series(chunk);
        big = series_flag::BIG;
    } else {
        SeriesFrame* f = memory.current_frame;
        if (!f || !(f->heap + chunk < f->end)) {
            f = find_series_frame_to_reuse(uint32_t(chunk));
            if (!f && collection_due(chunk) && collector::collect_if_active())
                f = find_series_frame_to_reuse(uint32_t(chunk));
            if (!f) {
                if (chunk >= memory.next_frame_size) memory.next_frame_size = memory.max_frame_size;
                f = new_series_frame();
            }
            memory.current_frame = f;
        }
        b = reinterpret_cast<SeriesBuffer*>(f->heap);
        f->heap += chunk;
        unpoison_region(b, size_t(chunk));
    }
    memory.allocated_since_collection += chunk;
    b->size = size;
    b->node = 0;
    b->flags = unit | series_flag::IN_USE | series_flag::FRESH | big;
    if (offset == -1) {
        offset = int32_t(size) >> 1;
        b->flags |= series_flag::MIDDLE;
    }
    b->offset = b->tail = uint32_t(offset);
    return b;
}

Node new_series(uint32_t count, uint32_t unit, int32_t offset) {
    SeriesBuffer* b = new_series_buffer(count, unit, offset);
    // take_node never allocates series, so the buffer stays where it is.
    Node n = take_node();
    set_node_buffer(n, b);
    b->node = n;
    return n;
}

Node new_cell_series(uint32_t n) { return new_series(n, 16, 0); }

Node new_byte_series(uint32_t n) { return new_series(n ? n : 16, 1, 0); }

Node new_char_series(uint32_t n, uint32_t unit) {
    if (n == 0) n = 16 >> (unit >> 1);
    return new_series(n, unit, 0);
}

Node new_series_outside_gc(uint32_t count, uint32_t unit, int32_t offset) {
    uint32_t size = round16(uint64_t(count) * unit);
    // Header at base + 4 so the data behind it is 8-byte aligned.
    void* raw = nullptr;
    if (posix_memalign(&raw, 16, size_t(size) + 24) != 0 || !raw) fatal_error(FATAL_NO_MEMORY);
    outside_blocks.push_back(OutsideBlock{raw, size_t(size) + 24});
    auto* b = reinterpret_cast<SeriesBuffer*>(static_cast<uint8_t*>(raw) + 4);
    b->size = size;
    b->flags = unit | series_flag::IN_USE | series_flag::FRESH | series_flag::OUTSIDE_GC;
    if (offset == -1) {
        offset = int32_t(size) >> 1;
        b->flags |= series_flag::MIDDLE;
    }
    b->offset = b->tail = uint32_t(offset);
    Node n = take_node();
    set_node_buffer(n, b);
    b->node = n;
    return n;
}

void set_series_flags(Node node, uint32_t bits) { node_buffer(node)->flags |= bits; }

// ---------------------------------------------------------------- growth

namespace {

// Makes the larger buffer and moves the node over to it. Returns the new buffer
// and, through `old_out`, the old one as it is after any collection the
// allocation ran.
SeriesBuffer* regrow(SeriesBuffer* buffer, int64_t size, SeriesBuffer** old_out) {
    if (size == 0) {
        size = int64_t(buffer->size) * 2;
        // An empty buffer still grows: to one element at least.
        if (size == 0) size = buffer->unit() > 16 ? buffer->unit() : 16;
    }
    if (size < 1) raise_error(err::internal_no_memory);
    uint32_t unit = buffer->unit();
    Node node = buffer->node;
    uint64_t count = (uint64_t(size) + unit - 1) / unit;
    if (count > 0xFFFFFFFFull) raise_error(err::internal_no_memory);
    // The series being grown survives the collection the allocation may run
    // even when its caller holds it only through the buffer it passed in.
    Cell pin{uint32_t(unit == 16 ? TYPE_BLOCK : TYPE_BINARY), 0, node, 0};
    collector::Root keep(&pin);
    SeriesBuffer* nb = new_series_buffer(uint32_t(count), unit, 0);
    SeriesBuffer* old = node ? node_buffer(node) : buffer;
    uint32_t big = nb->flags & series_flag::BIG;
    // The new buffer lives in a frame (or an OS block of its own) whatever the
    // old one came from, so it moves like any other.
    nb->flags = ((old->flags & ~(series_flag::BIG | series_flag::OUTSIDE_GC)) | big) & ~series_flag::MIDDLE;
    nb->node = node;
    nb->tail = nb->offset + (old->tail - old->offset);
    if (node) {
        set_node_buffer(node, nb);
        buffers_moved++;
    }
    old->node = 0;
    old->flags &= ~series_flag::IN_USE;
    if (old_out) *old_out = old;
    return nb;
}

}  // namespace

SeriesBuffer* grow_series_buffer(SeriesBuffer* buffer, int64_t size) { return regrow(buffer, size, nullptr); }

SeriesBuffer* grow_series(SeriesBuffer* buffer, int64_t size) {
    SeriesBuffer* old;
    SeriesBuffer* nb = regrow(buffer, size, &old);
    uint32_t n = old->size - old->offset;
    if (n > nb->size) n = nb->size;
    std::memcpy(nb->head(), old->head(), n);
    // The old data is garbage from here on; a pointer still aimed at it is a bug.
    if (old->flags & series_flag::OUTSIDE_GC) {
        // A heap block no collection would ever give back.
        void* raw = reinterpret_cast<uint8_t*>(old) - 4;
        for (size_t i = 0; i < outside_blocks.size(); i++)
            if (outside_blocks[i].raw == raw) {
                std::free(raw);
                outside_blocks.erase(outside_blocks.begin() + long(i));
                break;
            }
    } else if (!(old->flags & series_flag::BIG)) {
        poison_region(old->data(), old->size);
    }
    return nb;
}

SeriesBuffer* grow_series_filled(SeriesBuffer* buffer, int64_t size, uint8_t byte) {
    uint32_t old_size = buffer->size;
    SeriesBuffer* nb = grow_series(buffer, size);
    if (nb->size > old_size) std::memset(nb->head() + old_size, byte, nb->size - old_size);
    return nb;
}

Node duplicate_series(SeriesBuffer* buffer) {
    Node src = buffer->node;
    uint32_t size = buffer->size;
    Cell pin{uint32_t(buffer->unit() == 16 ? TYPE_BLOCK : TYPE_BINARY), 0, src, 0};
    collector::Root keep(&pin);
    Node n = new_byte_series(size);
    SeriesBuffer* from = src ? node_buffer(src) : buffer;
    SeriesBuffer* to = node_buffer(n);
    to->flags = (from->flags & ~series_flag::BIG) | (to->flags & series_flag::BIG);
    to->offset = from->offset;
    to->tail = from->tail;
    std::memcpy(to->data(), from->data(), size);
    return n;
}

// ---------------------------------------------------------------- tails

Cell* append_cell_to_buffer(SeriesBuffer*& buffer) {
    if (buffer->tail + 16 > buffer->size) buffer = grow_series(buffer, 0);
    Cell* c = buffer->cell_tail();
    c->header = TYPE_UNSET;
    buffer->tail += 16;
    return c;
}

uint8_t* reserve_tail_bytes(SeriesBuffer*& buffer, uint32_t n) {
    if (uint64_t(buffer->tail) + n > buffer->size) {
        int64_t want = buffer->size < n ? int64_t(n) * 2 : int64_t(buffer->size) * 2;
        buffer = grow_series(buffer, want);
    }
    uint8_t* at = buffer->tail_ptr();
    buffer->tail += n;
    return at;
}

// ---------------------------------------------------------------- tear-down

void free_all_frames() {
    if (!ready) return;
    // Every node and the value stack may come back elsewhere.
    buffers_moved++;
    for (int32_t i = memory.first_node_frame; i >= 0;) {
        int32_t next = memory.node_frames[i].next;
        release_node_frame(i);
        i = next;
    }
    while (memory.first_frame) release_series_frame(memory.first_frame);
    while (memory.first_big) release_big_series(memory.first_big->buffer());
    for (const Quarantined& q : quarantine) free_quarantined(q);
    quarantine.clear();
    for (const OutsideBlock& b : outside_blocks) std::free(b.raw);
    outside_blocks.clear();
    std::free(memory.node_frames);
    memory.node_frames = nullptr;
    ready = false;
}

}  // namespace vyx
