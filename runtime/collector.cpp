#include "runtime/collector.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/stack.h"
#include "runtime/fatal.h"
#include "runtime/hash_index.h"
#include "runtime/handles.h"
#include "runtime/sort.h"
#include "runtime/stats.h"

namespace vyx {

Cell root_block{TYPE_NONE, 0, 0, 0};

namespace {
constexpr uint32_t ROOT_BLOCK_CELLS = 1000;
}

void init_root_block() {
    Node n = new_series_outside_gc(ROOT_BLOCK_CELLS, 16, 0);
    root_block = Cell{TYPE_BLOCK, 0, n, 0};
}

}  // namespace vyx

namespace vyx::collector {

bool active = false;
uint32_t cycles = 0;
uint32_t nodes_cycles = 0;
// Set by init(), whether the process runs stressed or not.
uint32_t stress_every = 0;
bool evacuate = false;
bool verify = false;
LastCollection last{};

namespace {
// Whether this process runs stressed: a collection at every Nth allocation
// (VYX_GC_STRESS_N, default 1), every buffer moved by it and the heap checked
// after it. A build made for it always does; any other build when
// VYX_GC_STRESS=1 is in the environment.
bool stress_asked() {
#if defined(VYX_GC_STRESS)
    return true;
#else
    const char* s = std::getenv("VYX_GC_STRESS");
    return s && s[0] == '1' && s[1] == 0;
#endif
}
}  // namespace

namespace {

constexpr uint32_t CALLBACK_CAPACITY = 100;

bool collecting = false;

RootCallback root_callbacks[CALLBACK_CAPACITY];
uint32_t root_callback_count = 0;
RootCallback sweep_callbacks[CALLBACK_CAPACITY];
uint32_t sweep_callback_count = 0;
EphemeronCallback ephemeron_callbacks[CALLBACK_CAPACITY];
uint32_t ephemeron_callback_count = 0;

struct Scope {
    Cell* cells;
    uint32_t count;
};
std::vector<Scope> scopes;

// The work list: series reached but not scanned yet. Nothing moves while
// marking, so an entry is the buffer's address, with bit 0 set for a context
// (buffers sit at 8k + 4, so bits 0 and 1 are free).
enum Scan : uintptr_t { SCAN_CELLS = 0, SCAN_CONTEXT = 1 };
std::vector<uintptr_t> work;
inline void push_work(SeriesBuffer* b, Scan kind) { work.push_back(reinterpret_cast<uintptr_t>(b) | kind); }
// Marked buffers that live outside the frames: compaction never walks them,
// so their marks are cleared from this list.
std::vector<Node> outside_marked;
std::vector<Node> dead_nodes;

CellMarker markers[256];
// Types whose payload word 2 is a node: marking fetches ahead along them. A
// hint only; the markers decide what is marked.
bool word2_node[256];

// ------------------------------------------------------------ node checks

// While the heap is checked the markers run as checks: the marking operations
// test the node a payload word names instead of marking it. `checking` names
// the buffer and cell under test for the report; `cell_type` is the type of
// the cell being marked or checked.
bool checking = false;
Node checking_node = 0;
uint32_t checking_cell = 0;
int cell_type = -1;

[[noreturn]] void heap_fault(Node n, const char* what) {
    char where[160] = "";
    const char* type = cell_type > 0 && cell_type <= TYPE_MAX && type_name ? type_name(cell_type) : nullptr;
    if (type)
        std::snprintf(where, sizeof where, " by a %s cell", type);
    else if (cell_type >= 0)
        std::snprintf(where, sizeof where, " by a cell of type %d", cell_type);
    size_t used = std::strlen(where);
    if (checking)
        std::snprintf(where + used, sizeof where - used, " (cell %u of node %u)", checking_cell, checking_node);
    std::fprintf(stderr, "collector: node %u, named%s, %s\n", n, where, what);
    std::fflush(stderr);
    fatal_error(FATAL_ASSERTION);
}

const char* buffer_kind(const SeriesBuffer* b) {
    if (b->flags & series_flag::CONTEXT_RECORD) return "a context record";
    if (b->flags & series_flag::HASH_INDEX) return "a hash index";
    return b->unit() == 16 ? "a cell series" : "a byte series";
}

// Node ids past every frame ever made, or slots that hold a free-list link
// (an id) rather than a buffer address, name no buffer.
inline SeriesBuffer* live_buffer(Node n) {
    uint64_t limit = uint64_t(memory.node_frame_count) * NODES_PER_FRAME + 1;
    if (n == 0 || n >= limit) return nullptr;
    uintptr_t slot = node_slots[n];
    if (slot < limit) return nullptr;
    auto* b = reinterpret_cast<SeriesBuffer*>(slot);
    if (b->node != n) {
        std::fprintf(stderr, "collector: node %u does not point back at its buffer\n", n);
        fatal_error(FATAL_ASSERTION);
    }
    return b;
}

// ------------------------------------------------------------ per-type markers
//
// Each datatype's registry row gives its marker (set_cell_marker); the
// collector only knows its own internal records.

void mark_nothing(const Cell*) {}

void mark_context_ref(const Cell* c) {
    if (c->data1) mark_context_node(c->data1);
}

void install_default_markers() {
    for (CellMarker& m : markers) m = mark_nothing;
    for (bool& w : word2_node) w = false;
    markers[TYPE_CONTEXT_REF] = mark_context_ref;
}

// The hash index layout: a byte series whose head holds 11 32-bit words:
// 0 size, 1 position map node (kind 0) or record size (kinds 3, 4),
// 2 duplicate-list node (kind 0), 3 bucket flags node, 4 key slots node,
// 5 block node, 6 occupied, 7 buckets, 8 upper bound, 9 kind, 10 stamp.
// Kinds 3 and 4 keep records in the block whose first cell has header 2 while
// live and the key node in word 1.
void mark_hash_index_layout(Node index) {
    if (!mark_node(index)) return;
    SeriesBuffer* b = node_buffer(index);
    if (b->size - b->offset < 44) return;
    const uint32_t* h = reinterpret_cast<const uint32_t*>(b->read_head());
    uint32_t kind = h[9];
    if (kind == 0) {
        if (h[1]) mark_node(h[1]);
        if (h[2] && mark_node(h[2])) {
            SeriesBuffer* d = node_buffer(h[2]);
            const uint32_t* lists = reinterpret_cast<const uint32_t*>(d->read_head());
            for (uint32_t i = 0, n = (d->tail - d->offset) / 4; i < n; i++)
                if (lists[i]) mark_node(lists[i]);
        }
    }
    if (h[3]) mark_node(h[3]);
    if (h[4]) mark_node(h[4]);
    if ((kind == 3 || kind == 4) && h[5] && h[1] >= 16) {
        SeriesBuffer* blk = node_buffer(h[5]);
        if (blk && blk->unit() == 16) {
            uint32_t record = h[1];
            for (uint32_t at = blk->offset; at + record <= blk->tail; at += record) {
                const Cell* first = reinterpret_cast<const Cell*>(blk->read_data() + at);
                if ((first->header & TYPE_MASK) != TYPE_UNSET || !first->data1) continue;
                if (mark_node(first->data1) && node_buffer(first->data1)->unit() == 16)
                    push_work(node_buffer(first->data1), SCAN_CELLS);
            }
        }
    }
    if (h[5]) mark_series_node(h[5]);
}

// The work list is a stack; the entries a few places down are the next to be
// scanned, so their cells are fetched while this one is.
void drain() {
    while (!work.empty()) {
        uintptr_t item = work.back();
        work.pop_back();
        if (work.size() >= 4)
            __builtin_prefetch(reinterpret_cast<const uint8_t*>(work[work.size() - 4] & ~uintptr_t(3)) + 20);
        auto* b = reinterpret_cast<SeriesBuffer*>(item & ~uintptr_t(3));
        if ((item & 3) == SCAN_CONTEXT) {
            // Cell 0 the context! cell (word index, values), cell 1 the owner.
            if (b->unit() != 16 || b->size - b->offset < 32) continue;
            mark_cells(b->read_cells(), b->read_cells() + 2);
        } else {
            mark_cells(b->read_cells(), b->read_cells_tail());
        }
    }
}

// The contexts that running calls refer to through their frames. Function
// contexts keep their values on the value stack, which is marked as a whole;
// a frame's saved values reference is a series only for a context that does
// not.
void mark_frames() {
    if (!stack::frame_bottom) return;
    for (const stack::Frame* f = stack::frame_bottom; f < stack::frame_top; f++) {
        if (f->word_context) mark_context_node(f->word_context);
        if (f->function_context) {
            mark_context_node(f->function_context);
            SeriesBuffer* ctx = live_buffer(f->function_context);
            if (f->saved_values && ctx && !(ctx->read_cells()->header & FLAG_CONTEXT_ON_STACK))
                mark_series_node(f->saved_values);
        }
    }
}

void mark_roots() {
    mark_block(&root_block);
    drain();
    if (stack::bottom && stack::top > stack::bottom) mark_cells(stack::bottom, stack::top);
    mark_frames();
    drain();
    for (const Scope& s : scopes) {
        mark_cells(s.cells, s.cells + s.count);
        drain();
    }
    mark_block(&value_slots::block);
    drain();
    for (uint32_t i = 0; i < root_callback_count; i++) {
        if (!root_callbacks[i]) continue;
        root_callbacks[i]();
        drain();
    }
    for (bool more = true; more;) {
        more = false;
        for (uint32_t i = 0; i < ephemeron_callback_count; i++)
            if (ephemeron_callbacks[i] && ephemeron_callbacks[i]()) {
                drain();
                more = true;
            }
    }
}

// ------------------------------------------------------------ compaction

inline uint32_t chunk_of(const SeriesBuffer* b) { return b->size + 24; }

void record_dead(SeriesBuffer* b) {
    // Buffers left behind by growth have no node; the others still own theirs.
    if (b->node && (b->flags & series_flag::IN_USE) && node_slots[b->node] == reinterpret_cast<uintptr_t>(b))
        dead_nodes.push_back(b->node);
}

// Moves `len` bytes of adjacent live buffers from `from` to `to` (ranges may
// overlap), clears their marks and points their nodes at the new places.
void move_run(uint8_t* from, size_t len, uint8_t* to) {
    if (from != to) {
        unpoison_region(to, len);
        std::memmove(to, from, len);
        last.moved_bytes += len;
    }
    for (uint8_t* p = to; p < to + len;) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        b->flags &= ~series_flag::MARK;
        if (from != to) set_node_buffer(b->node, b);
        p += chunk_of(b);
    }
}

// One frame F, with P the frame before it (null for the first). F's live
// buffers go to the end of P while P has more than FRAME_REUSE_MIN bytes of
// room; otherwise they slide down inside F over the dead ones.
void compact_frame(SeriesFrame* f, SeriesFrame* p) {
    uint8_t* used_end = f->heap;
    uint8_t* free_pos = nullptr;
    size_t room = 0;
    if (p) {
        room = size_t(p->end - p->heap);
        if (room <= FRAME_REUSE_MIN) room = 0;
    }
    uint8_t* at = f->data_start();
    while (at < used_end) {
        auto* b = reinterpret_cast<SeriesBuffer*>(at);
        if (!(b->flags & series_flag::MARK)) {
            record_dead(b);
            last.freed_bytes += chunk_of(b);
            if (!free_pos) free_pos = at;
            at += chunk_of(b);
            continue;
        }
        // A run of adjacent live buffers; while P takes buffers, it stops
        // growing once it is as long as P's room.
        uint8_t* run = at;
        size_t len = 0, last_chunk = 0;
        while (at < used_end) {
            auto* r = reinterpret_cast<SeriesBuffer*>(at);
            if (!(r->flags & series_flag::MARK)) break;
            if (room && len >= room) break;
            last_chunk = chunk_of(r);
            len += last_chunk;
            at += last_chunk;
        }
        if (room) {
            size_t take = 0;
            if (len <= room) take = len;
            else if (len > last_chunk && len - last_chunk <= room) take = len - last_chunk;
            if (take) {
                move_run(run, take, p->heap);
                p->heap += take;
                if (!free_pos) free_pos = run;
                room -= take;
                if (room <= FRAME_REUSE_MIN) room = 0;
                at = run + take;  // a buffer left out starts the next run, still marked
                continue;
            }
            if (!free_pos) room = 0;  // it stays where it is, and so does the rest
        }
        if (free_pos) {
            move_run(run, len, free_pos);
            free_pos += len;
        } else {
            move_run(run, len, run);
        }
    }
    if (free_pos) {
        poison_region(free_pos, size_t(used_end - free_pos));
        f->heap = free_pos;
    }
}

void compact_in_place() {
    SeriesFrame* prev = nullptr;
    for (SeriesFrame* f = memory.first_frame; f;) {
        SeriesFrame* next = f->next;
        if (f->heap == f->data_start()) {  // held nothing: left as it is
            prev = f;
            f = next;
            continue;
        }
        compact_frame(f, prev);
        if (f->heap == f->data_start() && f->next) {
            release_series_frame(f);
        } else {
            prev = f;
        }
        f = next;
    }
}

// GC stress: every live buffer moves into other frames and the old frames
// are made unreadable, so a stale buffer pointer faults at its next use.
void compact_by_evacuation() {
    std::vector<SeriesFrame*> old;
    for (SeriesFrame* f = memory.first_frame; f; f = f->next) old.push_back(f);
    SeriesFrame* to = nullptr;
    for (SeriesFrame* f : old) {
        for (uint8_t* at = f->data_start(); at < f->heap;) {
            auto* b = reinterpret_cast<SeriesBuffer*>(at);
            uint32_t chunk = chunk_of(b);
            at += chunk;
            if (!(b->flags & series_flag::MARK)) {
                record_dead(b);
                last.freed_bytes += chunk;
                continue;
            }
            if (!to || to->heap + chunk > to->end) {
                if (chunk >= memory.next_frame_size) memory.next_frame_size = memory.max_frame_size;
                to = new_series_frame();
            }
            auto* nb = reinterpret_cast<SeriesBuffer*>(to->heap);
            unpoison_region(nb, chunk);
            std::memcpy(nb, b, chunk);
            nb->flags &= ~series_flag::MARK;
            set_node_buffer(nb->node, nb);
            to->heap += chunk;
            last.moved_bytes += chunk;
        }
    }
    for (SeriesFrame* f : old) retire_series_frame(f);
    end_evacuation();
    memory.current_frame = to ? to : memory.first_frame;
}

void sweep_big_series() {
    for (BigSeries* big = memory.first_big; big;) {
        BigSeries* next = big->next;
        SeriesBuffer* b = big->buffer();
        if (b->flags & series_flag::MARK) {
            b->flags &= ~series_flag::MARK;
        } else {
            record_dead(b);
            last.freed_bytes += big->size;
            release_big_series(b);
        }
        big = next;
    }
}

void return_dead_nodes() {
    records::sort_distinct(dead_nodes);
    for (Node n : dead_nodes) return_node(n);
    dead_nodes.clear();
}

// After a collection: every live buffer is unmarked and its node points back
// at it, and every cell from head to tail names, through its type's marker,
// live nodes of the kinds the type says.
void check_heap() {
    uint64_t limit = uint64_t(memory.node_frame_count) * NODES_PER_FRAME + 1;
    checking = true;
    for (Node n = 1; n < limit; n++) {
        SeriesBuffer* b = live_buffer(n);
        if (!b) continue;
        checking_node = n;
        checking_cell = 0;
        cell_type = -1;
        if (b->flags & series_flag::MARK) heap_fault(n, "is still marked after the collection");
        if (b->unit() != 16) continue;
        if ((b->flags & series_flag::CONTEXT_RECORD) &&
            (b->tail - b->offset < 32 || type_of(b->read_cells()) != TYPE_CONTEXT))
            heap_fault(n, "is a context record without its context! cell");
        const Cell* head = b->read_cells();
        for (const Cell* c = head; c < b->read_cells_tail(); c++) {
            checking_cell = uint32_t(c - head);
            cell_type = int(c->header & TYPE_MASK);
            markers[cell_type](c);
        }
    }
    checking = false;
    checking_node = 0;
    cell_type = -1;
}

double ms_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

// ------------------------------------------------------------ set-up

void init_collector_stats() {
    cycles = 0;
    nodes_cycles = 0;
    last = LastCollection{};
    // The last step of runtime initialisation: from here on allocation may
    // collect (a stress build at every Nth allocation). VYX_GC_ACTIVE=0 keeps
    // the collector off, for looking into a suspected collector fault.
    const char* on = std::getenv("VYX_GC_ACTIVE");
    active = !(on && on[0] == '0');
}

void init() {
    active = false;
    collecting = false;
    root_block = Cell{TYPE_NONE, 0, 0, 0};  // the last runtime's node means nothing now
    root_callback_count = 0;
    sweep_callback_count = 0;
    ephemeron_callback_count = 0;
    work.clear();
    outside_marked.clear();
    dead_nodes.clear();
    install_default_markers();
    hash_index_marker = mark_hash_index_layout;
    bool stressed = stress_asked();
    stress_every = stressed ? 1 : 0;
    if (const char* n = std::getenv("VYX_GC_STRESS_N"); n && stressed) {
        long v = std::strtol(n, nullptr, 10);
        if (v > 0) stress_every = uint32_t(v);
    }
    evacuate = stressed;
    verify = stressed;
    cycles = 0;
    nodes_cycles = 0;
    last = LastCollection{};
}

bool add_gc_root_callback(RootCallback callback) {
    if (root_callback_count >= CALLBACK_CAPACITY) return false;
    root_callbacks[root_callback_count++] = callback;
    return true;
}

bool add_gc_ephemeron_callback(EphemeronCallback callback) {
    if (ephemeron_callback_count >= CALLBACK_CAPACITY) return false;
    ephemeron_callbacks[ephemeron_callback_count++] = callback;
    return true;
}

bool add_gc_sweep_callback(RootCallback callback) {
    if (sweep_callback_count >= CALLBACK_CAPACITY) return false;
    sweep_callbacks[sweep_callback_count++] = callback;
    return true;
}

void set_cell_marker(int type, CellMarker marker, bool word2_series) {
    markers[type & 0xFF] = marker ? marker : mark_nothing;
    word2_node[type & 0xFF] = marker && word2_series;
}
const char* (*type_name)(int type) = nullptr;

void (*hash_index_marker)(Node index) = mark_hash_index_layout;

// ------------------------------------------------------------ marking

bool mark_node(Node node) {
    SeriesBuffer* b = live_buffer(node);
    if (checking) {
        // Marked without a scan: a buffer of elements that are not values.
        if (!b) heap_fault(node, "is not a live node");
        if (b->unit() == 16 || (b->flags & (series_flag::CONTEXT_RECORD | series_flag::HASH_INDEX))) {
            char what[80];
            std::snprintf(what, sizeof what, "should be a byte series but is %s", buffer_kind(b));
            heap_fault(node, what);
        }
        return false;
    }
    if (!b || (b->flags & series_flag::MARK)) return false;
    b->flags |= series_flag::MARK;
    last.marked_buffers++;
    if (b->flags & series_flag::OUTSIDE_GC) outside_marked.push_back(node);
    return true;
}

void mark_series_node(Node node) {
    if (checking) {
        SeriesBuffer* b = live_buffer(node);
        if (!b) heap_fault(node, "is not a live node");
        if (b->unit() != 16 || (b->flags & (series_flag::CONTEXT_RECORD | series_flag::HASH_INDEX))) {
            char what[80];
            std::snprintf(what, sizeof what, "should be a cell series but is %s", buffer_kind(b));
            heap_fault(node, what);
        }
        return;
    }
    if (mark_node(node) && node_buffer(node)->unit() == 16) push_work(node_buffer(node), SCAN_CELLS);
}

void mark_block(const Cell* cell) {
    if (cell->data2) mark_series_node(cell->data2);
}

void mark_flat_series(const Cell* cell) {
    if (cell->data2) mark_node(cell->data2);
}

void mark_context_node(Node node) {
    SeriesBuffer* b = live_buffer(node);
    if (checking && !b) heap_fault(node, "is not a live node");
    if (b && !(b->flags & series_flag::CONTEXT_RECORD)) {
        char what[80];
        std::snprintf(what, sizeof what, "reached as a context, is %s", buffer_kind(b));
        heap_fault(node, what);
    }
    if (checking) return;
    if (mark_node(node)) push_work(b, SCAN_CONTEXT);
}

// Marking is bound by cache misses on buffer headers, so it fetches the
// headers of the series a few cells ahead (the first few before it starts).
void mark_cells(const Cell* first, const Cell* last_cell) {
    constexpr ptrdiff_t AHEAD = 6;
    last.live_cells += uint64_t(last_cell - first);
    uint64_t limit = uint64_t(memory.node_frame_count) * NODES_PER_FRAME + 1;
    auto fetch = [&](const Cell* a) {
        if (word2_node[a->header & TYPE_MASK] && a->data2 && a->data2 < limit)
            __builtin_prefetch(reinterpret_cast<const void*>(node_slots[a->data2]));
    };
    for (const Cell* c = first; c < last_cell && c < first + AHEAD; c++) fetch(c);
    for (const Cell* c = first; c < last_cell; c++) {
        if (c + AHEAD < last_cell) fetch(c + AHEAD);
        cell_type = int(c->header & TYPE_MASK);
        markers[cell_type](c);
    }
    cell_type = -1;
}

void mark_hash_index(Node index) {
    SeriesBuffer* b = live_buffer(index);
    if (checking && !b) heap_fault(index, "is not a live node");
    if (b && !(b->flags & series_flag::HASH_INDEX)) {
        char what[80];
        std::snprintf(what, sizeof what, "reached as a hash index, is %s", buffer_kind(b));
        heap_fault(index, what);
    }
    if (checking) {
        // Its tables: live buffers of their kinds.
        const HashIndexHeader* h = reinterpret_cast<const HashIndexHeader*>(b->read_data());
        int type = cell_type;
        cell_type = -1;
        for (Node part : {h->flags, h->keys})
            if (part) mark_node(part);
        if (h->kind == HASH_KIND_HASH)
            for (Node part : {h->aux, h->dup_lists})
                if (part) mark_node(part);
        if (h->block) mark_series_node(h->block);
        cell_type = type;
        return;
    }
    hash_index_marker(index);
}

bool is_marked(Node node) {
    SeriesBuffer* b = live_buffer(node);
    return b && (b->flags & series_flag::MARK);
}

// ------------------------------------------------------------ root scopes

Root::Root(Cell* cells, uint32_t count) : depth_(uint32_t(scopes.size())) { scopes.push_back(Scope{cells, count}); }

Root::~Root() {
    if (scopes.size() != size_t(depth_) + 1) {
        std::fprintf(stderr, "collector: root scopes closed out of order\n");
        fatal_error(FATAL_ASSERTION);
    }
    scopes.pop_back();
}

uint32_t root_scope_depth() { return uint32_t(scopes.size()); }

// ------------------------------------------------------------ collection

bool is_collecting() { return collecting; }

namespace {

// One collection; the objects of the handle records it freed go to `released`.
void run_collection(std::vector<handles::Record>& released) {
    collecting = true;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    // A failure to take or give back a frame raises; the flag must not stay set.
    struct Done {
        ~Done() {
            std::atomic_thread_fence(std::memory_order_seq_cst);
            collecting = false;
        }
    } done;
    auto t0 = std::chrono::steady_clock::now();
    last = LastCollection{};
    // Buffers move and nodes are freed for reuse: addresses kept are stale.
    buffers_moved++;

    mark_roots();
    last.mark_ms = ms_since(t0);

    handles::sweep_handles(&released);
    for (uint32_t i = 0; i < sweep_callback_count; i++)
        if (sweep_callbacks[i]) sweep_callbacks[i]();

    auto t1 = std::chrono::steady_clock::now();
    if (evacuate) compact_by_evacuation();
    else compact_in_place();
    sweep_big_series();
    last.compact_ms = ms_since(t1);

    return_dead_nodes();
    review_node_frames();
    for (Node n : outside_marked)
        if (SeriesBuffer* b = live_buffer(n)) b->flags &= ~series_flag::MARK;
    outside_marked.clear();

    uint64_t live = 0;
    for (SeriesFrame* f = memory.first_frame; f; f = f->next) live += uint64_t(f->heap - f->data_start());
    for (BigSeries* big = memory.first_big; big; big = big->next) live += big->size;
    memory.live_after_collection = live;
    memory.allocated_since_collection = 0;

    if (verify) check_heap();
    cycles++;
    last.total_ms = ms_since(t0);
}

}  // namespace

void collect_garbage() {
    if (collecting || !memory_ready()) return;
    std::vector<handles::Record> released;
    run_collection(released);
    // Release callbacks are foreign code: they run once the heap is whole
    // again, so they may allocate.
    for (handles::Record& r : released) handles::release_handle_record(&r);
}

bool collect_if_active() {
    if (!active) return false;
    collect_garbage();
    return true;
}

double recycle() {
    collect_garbage();
    return stats::memory_in_use();
}

}  // namespace vyx::collector
