// Memory manager: nodes and series buffers.
//
// Every series keeps its data in a SeriesBuffer; values refer to a buffer only
// through a 32-bit node id. Node slots are 8 bytes (the buffer's address) in one
// reserved virtual area, so node_buffer(id) is a single load and node 0 is null.
// Buffers live in series frames taken from the OS (1 MB, then 2 MB), or, from
// 2 MB up, each in an OS block of its own (a big series).
//
// Buffers move: the collector compacts frames and growth replaces a buffer by a
// larger one. Never keep a SeriesBuffer* or a pointer into its data across a call
// that may allocate; re-read it through the node. Code never frees a series.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace vyx {

using Node = uint32_t;

namespace series_flag {
constexpr uint32_t UNIT_MASK = 0x1F;         // bytes per element: 1, 2, 4 or 16
// What a buffer is, for the collector's checks: a value that names a context
// or a hash index must name a buffer that says it is one.
constexpr uint32_t CONTEXT_RECORD = 0x40;    // the two-cell record of a context
constexpr uint32_t HASH_INDEX = 0x80;        // the header of a hash index
constexpr uint32_t LIBRARY = 0x200;          // library source: behaves as compiled code
constexpr uint32_t COMPLEMENTED = 0x00080000; // bitset: complemented
// The interpreter keeps a decoded form of these cells. Every writable access
// to the buffer clears it (see SeriesBuffer), so a decoded form never outlives
// a change to the code it was made from.
constexpr uint32_t DECODED = 0x00040000;
constexpr uint32_t OWNED = 0x00020000;       // an object watches this series
constexpr uint32_t OUTSIDE_GC = 0x00100000;  // from the process heap: never moves, never reclaimed
constexpr uint32_t BIG = 0x01000000;         // has an OS block of its own
constexpr uint32_t MARK = 0x08000000;        // collector mark
constexpr uint32_t MIDDLE = 0x10000000;      // head placed mid-buffer
constexpr uint32_t FRESH = 0x20000000;       // set on every new buffer
constexpr uint32_t IN_USE = 0x80000000;      // cleared on a buffer left behind by growth
}  // namespace series_flag

// The 20-byte header in front of every series' data. `offset` (the head) and
// `tail` (just past the content) are byte offsets from the start of the data area.
// The data area is 8-byte aligned, `size` bytes (a multiple of 16), followed by
// 4 spare bytes.
struct SeriesBuffer {
    uint32_t flags;
    uint32_t node;
    uint32_t size;
    uint32_t offset;
    uint32_t tail;

    // Writable access. Each of these clears DECODED: whoever takes a pointer
    // it may write through tells the interpreter that the cells may change.
    uint8_t* data() {
        flags &= ~series_flag::DECODED;
        return base();
    }
    uint8_t* head() { return data() + offset; }
    uint8_t* tail_ptr() { return data() + tail; }
    uint8_t* end() { return data() + size; }
    Cell* cell_head() { return reinterpret_cast<Cell*>(head()); }
    Cell* cell_tail() { return reinterpret_cast<Cell*>(tail_ptr()); }
    // Read-only access, which leaves DECODED alone.
    const uint8_t* read_data() const { return base(); }
    const uint8_t* read_head() const { return base() + offset; }
    const Cell* read_cells() const { return reinterpret_cast<const Cell*>(base() + offset); }
    const Cell* read_cells_tail() const { return reinterpret_cast<const Cell*>(base() + tail); }
    // The interpreter's own access to code: its only writes (a word's
    // remembered value index) never change what the code means.
    Cell* code_cells() { return reinterpret_cast<Cell*>(base() + offset); }
    uint32_t unit() const { return flags & series_flag::UNIT_MASK; }
    // Elements from head to tail.
    uint32_t length() const { return (tail - offset) / unit(); }

private:
    uint8_t* base() const { return const_cast<uint8_t*>(reinterpret_cast<const uint8_t*>(this)) + sizeof(SeriesBuffer); }
};
static_assert(sizeof(SeriesBuffer) == 20);

// A series frame: the OS block holds this record, then buffers one after another.
struct SeriesFrame {
    SeriesFrame* next;  // address order
    SeriesFrame* prev;
    uint32_t size;      // data size + header
    uint8_t* heap;      // where the next buffer goes
    uint8_t* end;       // just past the data area
    uint8_t* data_start() const;
};

// A big series: OS block with this record in front of the chunk.
struct BigSeries {
    BigSeries* next;
    BigSeries* prev;  // stays null: the list is singly linked
    uint64_t size;    // chunk size
    SeriesBuffer* buffer();
};

// Node frames are bookkept in a side table; frame k serves node ids
// 1 + k*capacity .. (k+1)*capacity.
struct NodeFrame {
    int32_t next, prev;       // indexes in the side table, -1 for none (list in append order)
    uint32_t capacity;        // always NODES_PER_FRAME
    Node free_head;           // first free node id, 0 for none
    uint32_t used;
    uint32_t stamp;           // collection counter when made
    uint32_t used_at_last;    // used after the previous collection
    uint32_t history;         // bit per collection, newest in bit 0: 1 when used did not change
    uint32_t released;        // 1 once emptied by moving its nodes elsewhere
    bool live;                // slot of the side table in use
    Node first_id() const;
};

constexpr uint32_t NODES_PER_FRAME = 10000;
constexpr uint32_t MAX_NODE_FRAMES = 16384;  // 163,840,000 nodes
constexpr uint32_t INITIAL_FRAME_SIZE = 1048576;
constexpr uint32_t MAX_FRAME_SIZE = 2097152;  // also the big-series threshold
constexpr uint32_t FRAME_REUSE_MIN = 52428;   // a frame with less room than this is not reused
// Allocation collects only once this many bytes (or half the live heap after
// the last collection, when more) were allocated since that collection.
constexpr uint64_t MIN_COLLECTION_DEBT = 2 * uint64_t(MAX_FRAME_SIZE);
constexpr size_t PAGE_SIZE = 4096;

struct MemoryRecord {
    uint64_t os_bytes;           // bytes of OS blocks taken, less those returned
    int32_t first_node_frame, last_node_frame, current_node_frame;
    SeriesFrame* first_frame;
    SeriesFrame* current_frame;
    SeriesFrame* last_frame;
    uint32_t initial_frame_size;
    uint32_t next_frame_size;
    uint32_t max_frame_size;
    BigSeries* first_big;
    NodeFrame* node_frames;       // side table of MAX_NODE_FRAMES records
    uint32_t node_frame_count;    // table entries ever used (live or not)
    uint64_t allocated_since_collection;  // chunk bytes handed out since the last collection
    uint64_t live_after_collection;       // frame and big-series bytes the last collection left
};

extern MemoryRecord memory;
// slot(id) = node_slots[id]: buffer address, or next free id. Node ids are
// 1-based: slot 0 stays null.
constexpr size_t NODE_SLOT_COUNT = size_t(MAX_NODE_FRAMES) * NODES_PER_FRAME + 512;
#ifdef __SANITIZE_ADDRESS__
// Under the address sanitizer the table is mapped at start-up: its leak check
// reads every global at exit, and a 1.3 GB one would slow every run.
extern uintptr_t* node_slots;
#else
extern uintptr_t node_slots[NODE_SLOT_COUNT];
#endif

inline SeriesBuffer* node_buffer(Node n) { return reinterpret_cast<SeriesBuffer*>(node_slots[n]); }
inline void set_node_buffer(Node n, SeriesBuffer* b) { node_slots[n] = reinterpret_cast<uintptr_t>(b); }

// Counts the events after which a buffer address read earlier may be wrong:
// a series moved to a new buffer (grown) and a collection (which moves
// buffers and frees nodes for reuse). An address kept with the count it was
// read at holds while the count is unchanged.
extern uint64_t buffers_moved;

// Where the values of a context begin (its series', or the running call's
// cells on the value stack), for the contexts last read, by context node:
// reached through two buffers otherwise. An entry holds while buffers_moved
// is what it was when the entry was made; whatever points a context that
// runs on the stack elsewhere forgets (or renews) its entry.
struct KnownValues {
    Node context;     // 0: no entry
    uint32_t object;  // an object's context (its fields are set by the general road)
    uint64_t moved;
    Cell* values;
};
constexpr uint32_t KNOWN_VALUES = 256;
extern KnownValues known_values[KNOWN_VALUES];
inline KnownValues& known_values_of(Node ctx) { return known_values[ctx & (KNOWN_VALUES - 1)]; }
inline void know_values(Node ctx, Cell* values, bool object = false) {
    known_values_of(ctx) = KnownValues{ctx, object, buffers_moved, values};
}
inline void forget_values(Node ctx) { known_values_of(ctx).context = 0; }

// Set-up and tear-down. init_memory is idempotent after free_all_frames.
void init_memory();
void free_all_frames();
bool memory_ready();

// OS blocks: size prefix included in the count; returns the address behind it.
void* take_os_block(size_t size, bool executable = false);
void return_os_block(void* address);

// Nodes.
int32_t new_node_frame(uint32_t n);
void release_node_frame(int32_t frame);
Node take_node();
void return_node(Node node);
int32_t node_frame_of(Node node);
void review_node_frames();  // run by the collector at the end of every collection

// Series frames.
SeriesFrame* new_series_frame();
void release_series_frame(SeriesFrame* frame);
// Evacuation: a frame emptied by it is set aside unreadable for a few
// evacuations (end_evacuation closes each) before a new frame reuses it.
void retire_series_frame(SeriesFrame* frame);
void end_evacuation();
// The first frame with room for the chunk and at least FRAME_REUSE_MIN bytes free.
SeriesFrame* find_series_frame_to_reuse(uint32_t chunk);
// Whether allocating `chunk` more bytes should run a collection first (when
// the collector is active): see MIN_COLLECTION_DEBT.
bool collection_due(uint64_t chunk);

// Buffers. offset: the head's distance in bytes from the data start, or -1 for
// the middle of the data area.
SeriesBuffer* new_series_buffer(uint32_t count, uint32_t unit, int32_t offset);
Node new_series(uint32_t count, uint32_t unit, int32_t offset);
Node new_cell_series(uint32_t n);
Node new_byte_series(uint32_t n);
Node new_char_series(uint32_t n, uint32_t unit);
Node new_series_outside_gc(uint32_t count, uint32_t unit, int32_t offset);
void set_series_flags(Node node, uint32_t bits);

// Growth. `size` is the new data size in bytes; 0 means twice the current size
// (at least one element when the buffer is empty).
SeriesBuffer* grow_series_buffer(SeriesBuffer* buffer, int64_t size);
SeriesBuffer* grow_series(SeriesBuffer* buffer, int64_t size);
SeriesBuffer* grow_series_filled(SeriesBuffer* buffer, int64_t size, uint8_t byte);
Node duplicate_series(SeriesBuffer* buffer);

// Big series.
SeriesBuffer* new_big_series(uint64_t chunk);
void release_big_series(SeriesBuffer* buffer);
BigSeries* big_series_of(SeriesBuffer* buffer);

// Tail helpers (cell helpers): may grow, so the returned address is the only valid one.
Cell* append_cell_to_buffer(SeriesBuffer*& buffer);
uint8_t* reserve_tail_bytes(SeriesBuffer*& buffer, uint32_t n);

// Bytes of the runtime's own heap blocks kept outside the frames (the root
// block, the stacks ...), each counted with a 16-byte tracking header.
uint64_t runtime_heap_bytes();

// Debug poisoning of memory that no live buffer occupies: free frame tails,
// buffers left behind by growth. With AddressSanitizer the region is poisoned
// (any access is reported); in GC-stress builds without it the data is
// overwritten with 0xDB; otherwise nothing happens. The allocator unpoisons
// a chunk before handing it out.
void poison_region(void* address, size_t bytes);
void unpoison_region(void* address, size_t bytes);

// Rounds up to the next multiple of 16.
inline uint32_t round16(uint64_t n) { return uint32_t((n + 15) & ~uint64_t(15)); }

}  // namespace vyx
