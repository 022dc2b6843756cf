// The garbage collector: mark from the roots, then compact the series frames.
//
// Marking never recurses on the C++ stack: reached series go on an explicit
// work list, so a block nested a million deep is no deeper for the collector
// than a flat one. Node ids never move (there is no node compaction), so the
// collector rewrites nothing in value cells: it moves buffers and points their
// nodes at the new places.
//
// Roots, in marking order: the root block (which holds the global context and
// the symbol index); the evaluation stack from stack::bottom to stack::top and
// the contexts named by its call frames; the RAII root scopes
// (collector::Root); the value slots; then every callback registered with
// add_gc_root_callback, in registration order (the interpreter's current
// block, the lexer's buffers, the ownership table ... mark themselves so).
//
// C++ code that keeps a value across anything that may allocate holds it in a
// cell on the evaluation stack or in a cell covered by a Root scope. Since
// buffers move, it keeps the cell (which names the series by node), never a
// SeriesBuffer* or a data pointer.
//
// Per-type marking is one table, indexed by type id, filled from the datatype
// registry: each datatype's row gives the marker that follows its payload
// layout. The collector marks its own internal records (TYPE_CONTEXT_REF).
//
// Allocation collects (when `active`) only when no frame has reusable room
// and enough has been allocated since the last collection (see
// MIN_COLLECTION_DEBT in memory.h); `recycle` always collects.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx {

// The root block: a block kept alive for the whole run (interned words, the
// global context and the symbol index, the parse stacks, boot literals ...).
// Its first buffer lives outside the frames.
extern Cell root_block;
void init_root_block();

}  // namespace vyx

namespace vyx::collector {

// Whether allocation may run a collection. Off after init_runtime until the
// start-up sequence switches it on (GC-stress builds: on after init_runtime);
// tests of the collector switch it on themselves.
extern bool active;
// Collections completed.
extern uint32_t cycles;
// Node compactions that moved a node: always 0 here, since nodes never move;
// kept because hash indexes keyed by node identity compare stamps against it.
extern uint32_t nodes_cycles;
// Collect at every Nth series allocation while `active` (0: never): set by
// init() when the process runs stressed (VYX_GC_STRESS=1 in the environment,
// or a GC-stress build); tests may set it.
extern uint32_t stress_every;
// A stretch of allocation without the stress build's forced collections
// (collections the heap calls for still run). Nests.
struct StressPause {
    uint32_t saved;
    StressPause() : saved(stress_every) { stress_every = 0; }
    ~StressPause() { stress_every = saved; }
    StressPause(const StressPause&) = delete;
    StressPause& operator=(const StressPause&) = delete;
};
// Move every live buffer into fresh frames at each collection and give the old
// frames back, so any stale buffer pointer faults at once. On in GC-stress
// builds; layout tests switch it off.
extern bool evacuate;
// Check the heap after each collection (see check_heap in collector.cpp): a
// reference of the wrong kind or to a dead node is a fatal error that names
// the node. On in GC-stress builds. Whether or not it is on, marking stops
// with the same error when a value names as a context or a hash index a node
// that is not one.
extern bool verify;

// Resets the collector's state for a fresh runtime (callbacks, counters).
void init();
// The collector's counters: the last step of runtime initialisation. In a
// GC-stress build it also switches the collector on, so that everything after
// start-up runs with a collection at every Nth allocation.
void init_collector_stats();

// One full collection. Does nothing when called while one runs.
void collect_garbage();
// collect_garbage when `active`; returns whether one ran.
bool collect_if_active();
bool is_collecting();

// ---- marking operations, for root callbacks and datatype markers
// They only record what is reached; scanning happens from the work list.

// Sets the mark of the node's buffer; true when it was not marked before.
bool mark_node(Node node);
// mark_node, and when newly marked, the cells from head to tail (cell series only).
void mark_series_node(Node node);
// The node in payload word 2 of a series cell, with its cells.
void mark_block(const Cell* cell);
// The node in payload word 2 of a series cell whose elements hold no values.
void mark_flat_series(const Cell* cell);
// A context: its node, then its word index, its values (unless they live on
// the stack) and its owner cell.
void mark_context_node(Node node);
// Every cell from first up to, not including, last.
void mark_cells(const Cell* first, const Cell* last);
inline void mark_cell(const Cell* cell) { mark_cells(cell, cell + 1); }
// A hash index: its own node, its tables and its block. The default reads the
// index header layout (see collector.cpp); the hash index module may replace
// it through hash_index_marker.
void mark_hash_index(Node index);
extern void (*hash_index_marker)(Node index);
// Whether the node's buffer is marked in the running collection (for the
// steps that run after marking: weak tables drop their dead entries).
bool is_marked(Node node);

using RootCallback = void (*)();
// Registers a callback that marks roots with the operations above; the list
// holds 100 entries. Returns false when it is full.
bool add_gc_root_callback(RootCallback callback);
// Callbacks run after marking and before compaction, while marks can be read
// (the ownership table drops records of dead series there). They must not
// allocate series. Handle release callbacks, by contrast, run after the
// collection has finished and may.
bool add_gc_sweep_callback(RootCallback callback);
// Weak tables whose entries live only while their key is reached (the
// ownership table): after the roots, each callback marks what the entries of
// marked keys hold and answers whether it marked anything new; they run until
// none does.
using EphemeronCallback = bool (*)();
bool add_gc_ephemeron_callback(EphemeronCallback callback);

using CellMarker = void (*)(const Cell* cell);
// The marker of a type id: what a cell of that type keeps alive (null: nothing).
// `word2_series` says payload word 2 names a series, which marking fetches
// ahead (a hint; the marker decides what is marked).
void set_cell_marker(int type, CellMarker marker, bool word2_series = false);
// Names a type id in the heap check's fault reports; the datatype registry
// installs it (null: the report gives the number).
extern const char* (*type_name)(int type);

// ---- root scopes

// Keeps `count` cells starting at `cells` alive while the scope lasts. The
// cells themselves stay where they are (a local, a member ...): only buffers
// move, and the cells name buffers by node. Scopes nest strictly (LIFO).
class Root {
public:
    explicit Root(Cell* cells, uint32_t count = 1);
    ~Root();
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

private:
    uint32_t depth_;
};

// N cells that are roots for their lifetime, starting as unset!.
template <uint32_t N = 1>
struct Rooted {
    Cell cells[N];
    Root root{init_cells(cells), N};
    Cell& operator[](uint32_t i) { return cells[i]; }
    Cell* get() { return cells; }

private:
    static Cell* init_cells(Cell* c) {
        for (uint32_t i = 0; i < N; i++) c[i] = Cell{TYPE_UNSET, 0, 0, 0};
        return c;
    }
};

// Switches `active` off for the scope and restores it afterwards.
class Pause {
public:
    Pause() : was_(active) { active = false; }
    ~Pause() { active = was_; }
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;

private:
    bool was_;
};

// Number of root scopes open now (tests check that scopes unwind).
uint32_t root_scope_depth();

// ---- figures of the last collection (for benchmarks and tests)
struct LastCollection {
    uint64_t live_cells;     // cells scanned while marking
    uint64_t marked_buffers; // buffers marked
    uint64_t moved_bytes;    // bytes moved by compaction
    uint64_t freed_bytes;    // bytes of frames and big series reclaimed
    double mark_ms, compact_ms, total_ms;
};
extern LastCollection last;

// The `recycle` operation: one whole collection, then the memory in use in
// bytes (as `stats` reports it).
double recycle();

}  // namespace vyx::collector
