#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/string.h"
#include "evaluator/helpers.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/error_catalog.h"
#include "runtime/handles.h"
#include "runtime/raise.h"
#include "runtime/stats.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {

// Bytes the frames hold up to their heaps, plus every big series' chunk.
uint64_t frames_used() {
    uint64_t n = 0;
    for (SeriesFrame* f = memory.first_frame; f; f = f->next) n += uint64_t(f->heap - f->data_start());
    for (BigSeries* b = memory.first_big; b; b = b->next) n += b->size;
    return n;
}

// Whether the node still names a buffer that names it back.
bool is_live(Node n) {
    uint64_t limit = uint64_t(memory.node_frame_count) * NODES_PER_FRAME + 1;
    if (n == 0 || n >= limit) return false;
    uintptr_t slot = node_slots[n];
    return slot >= limit && reinterpret_cast<SeriesBuffer*>(slot)->node == n;
}

uint32_t chunk(Node n) { return node_buffer(n)->size + 24; }

Cell block_of(Node n) { return Cell{TYPE_BLOCK, 0, n, 0}; }

void append_to(Node block, const Cell& value) {
    Cell holder = block_of(block);
    Cell v = value;  // `value` may live in the block's own buffer
    *append_cell(&holder) = v;
}

Node bytes_series(const std::string& text) {
    Node n = new_byte_series(uint32_t(text.size()));
    SeriesBuffer* b = node_buffer(n);
    std::memcpy(reserve_tail_bytes(b, uint32_t(text.size())), text.data(), text.size());
    return n;
}

std::string bytes_of(Node n) {
    SeriesBuffer* b = node_buffer(n);
    return std::string(reinterpret_cast<const char*>(b->head()), b->tail - b->offset);
}

// The collector switched on, in-place compaction unless a test asks otherwise.
struct CollectorTest : RuntimeTest {
    bool saved_evacuate = false;
    uint32_t saved_every = 0;
    void SetUp() override {
        RuntimeTest::SetUp();
        saved_evacuate = collector::evacuate;
        saved_every = collector::stress_every;
        collector::active = true;
        collector::collect_garbage();  // start from a heap holding only live data
    }
    void TearDown() override {
        collector::active = false;
        collector::evacuate = saved_evacuate;
        collector::stress_every = saved_every;
        RuntimeTest::TearDown();
    }
};

}  // namespace

// Every kind of root keeps its series; everything else goes, and the frames
// end up holding exactly the live chunks.
TEST_F(CollectorTest, RootsKeepSeriesAndGarbageIsReclaimed) {
    // Reached through the evaluation stack, a root scope, a value slot, the
    // root block and a registered callback.
    Node on_stack = bytes_series("stack");
    *stack::push_slot() = Cell{TYPE_BINARY, 0, on_stack, 0};
    collector::Rooted<1> scoped;
    Node in_scope = new_cell_series(2);
    scoped[0] = block_of(in_scope);
    Node nested = bytes_series("nested string");
    append_to(in_scope, Cell{TYPE_STRING, 0, nested, 0});
    Node in_slot = bytes_series("slot");
    Cell slot_value{TYPE_BINARY, 0, in_slot, 0};
    uint32_t slot = value_slots::place(&slot_value);
    Node in_root_block = bytes_series("root block");
    {
        collector::Rooted<1> hold;  // appending may grow the root block
        hold[0] = Cell{TYPE_BINARY, 0, in_root_block, 0};
        append_to(root_block.data2, hold[0]);
    }
    static Node by_callback;
    by_callback = bytes_series("callback");
    collector::add_gc_root_callback([] { collector::mark_node(by_callback); });

    std::vector<Node> garbage;
    for (int i = 0; i < 50; i++) garbage.push_back(bytes_series(std::string(100 + i, 'x')));
    garbage.push_back(new_cell_series(10));

    uint32_t cycles = collector::cycles;
    collector::collect_garbage();
    EXPECT_EQ(collector::cycles, cycles + 1);
    for (Node n : {on_stack, in_scope, nested, in_slot, in_root_block, by_callback}) EXPECT_TRUE(is_live(n));
    for (Node n : garbage) EXPECT_FALSE(is_live(n));
    EXPECT_EQ(bytes_of(on_stack), "stack");
    EXPECT_EQ(bytes_of(nested), "nested string");
    EXPECT_EQ(bytes_of(by_callback), "callback");
    EXPECT_EQ(node_buffer(in_scope)->cell_head()[0].data2, nested);

    // Dropping the roots frees them on the next collection.
    stack::top--;
    value_slots::release(slot);
    scoped[0] = Cell{TYPE_NONE, 0, 0, 0};
    collector::collect_garbage();
    for (Node n : {on_stack, in_scope, nested, in_slot}) EXPECT_FALSE(is_live(n));
    EXPECT_TRUE(is_live(in_root_block));
}

TEST_F(CollectorTest, GrownSeriesLeavesNoOldBuffer) {
    collector::evacuate = false;
    collector::Rooted<1> keep;
    Node n = bytes_series(std::string(100, 'a'));
    keep[0] = Cell{TYPE_BINARY, 0, n, 0};
    uint64_t before = frames_used();
    uint32_t old_chunk = chunk(n);
    SeriesBuffer* b = node_buffer(n);
    b = grow_series(b, 0);
    EXPECT_EQ(frames_used(), before + chunk(n));  // old and new both in the frame
    collector::collect_garbage();
    EXPECT_EQ(frames_used(), before - old_chunk + chunk(n));
    EXPECT_EQ(bytes_of(n), std::string(100, 'a'));
    // No buffer left behind by growth survives anywhere in the frames.
    for (SeriesFrame* f = memory.first_frame; f; f = f->next)
        for (uint8_t* p = f->data_start(); p < f->heap; p += reinterpret_cast<SeriesBuffer*>(p)->size + 24)
            EXPECT_TRUE(reinterpret_cast<SeriesBuffer*>(p)->flags & series_flag::IN_USE);
}

// A later frame gives its live buffers to the previous frame only when that
// one has more than 52,428 bytes of room; otherwise it compacts in place.
TEST_F(CollectorTest, PreviousFrameTakesBuffersOnlyWithEnoughRoom) {
    collector::evacuate = false;
    collector::stress_every = 0;
    // Rooms come in steps of 8 bytes: the targets straddle 52,428.
    struct Case {
        uint32_t room;
        bool moves_to_previous;
    } cases[] = {{52428 - 15, false}, {40000, false}, {52429, true}, {200000, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.room);
        // Two frames; after a collection the live data sits in the first.
        if (!memory.first_frame->next) new_series_frame();
        collector::collect_garbage();
        SeriesFrame* p = memory.first_frame;
        SeriesFrame* f = p->next;
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(f->heap, f->data_start());

        collector::Rooted<2> keep;
        memory.current_frame = p;
        uint32_t room_now = uint32_t(p->end - p->heap);
        ASSERT_GT(room_now, c.room + 64);
        keep[0] = Cell{TYPE_BINARY, 0, new_byte_series((room_now - c.room - 24) & ~15u), 0};
        uint32_t room = uint32_t(p->end - p->heap);
        ASSERT_GE(room, c.room);
        ASSERT_EQ(room <= FRAME_REUSE_MIN, !c.moves_to_previous);

        memory.current_frame = f;
        new_byte_series(1000);  // garbage in front of the live buffer
        Node live = bytes_series(std::string(3000, 'z'));
        keep[1] = Cell{TYPE_BINARY, 0, live, 0};
        uint8_t* p_heap = p->heap;
        collector::collect_garbage();

        uint8_t* at = reinterpret_cast<uint8_t*>(node_buffer(live));
        if (c.moves_to_previous) {
            EXPECT_EQ(at, p_heap);
            EXPECT_EQ(memory.first_frame->next->heap, memory.first_frame->next->data_start());
        } else {
            EXPECT_EQ(at, f->data_start());
            EXPECT_EQ(p->heap, p_heap);
        }
        EXPECT_EQ(bytes_of(live), std::string(3000, 'z'));
    }
}

TEST_F(CollectorTest, BigSeriesAreSweptAndCyclesCounted) {
    collector::stress_every = 0;
    uint32_t cycles = collector::cycles;
    collector::Rooted<1> keep;
    Node kept = new_cell_series(200000);
    keep[0] = block_of(kept);
    Node dropped = new_byte_series(3000000);
    EXPECT_TRUE(node_buffer(dropped)->flags & series_flag::BIG);
    uint64_t os = memory.os_bytes;
    EXPECT_EQ(collector::cycles, cycles + 1);  // 6 MB of allocation since the last collection made one due
    collector::collect_garbage();
    collector::collect_garbage();
    EXPECT_EQ(collector::cycles, cycles + 3);
    EXPECT_TRUE(is_live(kept));
    EXPECT_FALSE(is_live(dropped));
    EXPECT_LT(memory.os_bytes, os - 3000000);
    ASSERT_NE(memory.first_big, nullptr);
    EXPECT_EQ(memory.first_big->buffer(), node_buffer(kept));
    EXPECT_EQ(memory.first_big->next, nullptr);
    EXPECT_FALSE(node_buffer(kept)->flags & series_flag::MARK);
}

// Marking uses a work list, not the C++ stack.
TEST_F(CollectorTest, DeeplyNestedBlockIsCollectedWithoutRecursion) {
    constexpr int DEPTH = 1000000;
    collector::active = false;  // build it without collections
    uint64_t base = frames_used();
    collector::Rooted<1> keep;
    Node outer = new_cell_series(1);
    keep[0] = block_of(outer);
    Node at = outer;
    for (int i = 0; i < DEPTH; i++) {
        Node inner = new_cell_series(1);
        append_to(at, block_of(inner));
        at = inner;
    }
    Node innermost = at;
    uint64_t used = frames_used();
    collector::collect_garbage();
    EXPECT_TRUE(is_live(innermost));
    EXPECT_EQ(frames_used(), used);
    keep[0] = Cell{TYPE_NONE, 0, 0, 0};
    collector::collect_garbage();
    EXPECT_FALSE(is_live(innermost));
    EXPECT_EQ(frames_used(), base);
}

// What each type's payload keeps alive, and what it must not.
TEST_F(CollectorTest, EachTypeMarksItsPayloadNodes) {
    struct Case {
        const char* name;
        std::function<Cell(std::vector<Node>& live, std::vector<Node>& dead)> make;
    };
    auto bytes = [](const char* s) { return bytes_series(s); };
    // A context: {context! cell (word index, values), owner cell}.
    auto context = [&](std::vector<Node>& live, uint32_t flags) {
        Node values = new_cell_series(2);
        Node owner = new_cell_series(1);
        Node ctx = new_cell_series(2);
        SeriesBuffer* b = node_buffer(ctx);
        b->cell_head()[0] = Cell{TYPE_CONTEXT | flags, 0, values, 0};
        b->cell_head()[1] = block_of(owner);
        b->tail = 32;
        b->flags |= series_flag::CONTEXT_RECORD;
        live.insert(live.end(), {ctx, owner});
        if (!flags) live.push_back(values);
        return ctx;
    };
    Case cases[] = {
        {"string with scratch", [&](auto& live, auto&) {
             Node s = bytes("s"), scratch = bytes("t");
             live = {s, scratch};
             return Cell{TYPE_STRING, 0, s, scratch};
         }},
        {"symbol", [&](auto& live, auto&) {
             Node name = bytes("name"), str = bytes("str");
             live = {name, str};
             return Cell{TYPE_SYMBOL, uint32_t(-1), str, name};
         }},
        {"word", [&](auto& live, auto&) { return Cell{TYPE_WORD, context(live, 0), 7, 0}; }},
        {"refinement without context", [&](auto&, auto&) { return Cell{TYPE_REFINEMENT, 0, 7, 0}; }},
        {"context on the stack", [&](auto& live, auto& dead) {
             Node ctx = context(live, 0x400000);
             dead.push_back(node_buffer(ctx)->cell_head()[0].data2);
             return Cell{TYPE_WORD, ctx, 7, 0};
         }},
        {"function", [&](auto& live, auto&) {
             Node spec = new_cell_series(1), more = new_cell_series(5), body = new_cell_series(1);
             append_to(more, block_of(body));
             Cell f{TYPE_FUNCTION, context(live, 0x400000), spec, more};
             live.insert(live.end(), {spec, more, body});
             return f;
         }},
        {"native (code word is no node)", [&](auto& live, auto& dead) {
             Node spec = new_cell_series(1), more = new_cell_series(2), decoy = bytes("decoy");
             live = {spec, more};
             dead = {decoy};
             return Cell{TYPE_NATIVE, decoy, spec, more};
         }},
        {"op from a function", [&](auto& live, auto&) {
             Node spec = new_cell_series(1), more = new_cell_series(5);
             Cell op{TYPE_OP | (uint32_t(TYPE_FUNCTION) << 16), context(live, 0x400000), spec, more};
             live.insert(live.end(), {spec, more});
             return op;
         }},
        {"op from an action", [&](auto& live, auto& dead) {
             Node spec = new_cell_series(1), more = new_cell_series(2), decoy = bytes("decoy");
             live = {spec, more};
             dead = {decoy};
             return Cell{TYPE_OP | (uint32_t(TYPE_ACTION) << 16), decoy, spec, more};
         }},
        {"object with handler record", [&](auto& live, auto&) {
             Node spec = new_cell_series(1), record = new_cell_series(2);
             append_to(record, Cell{TYPE_CHANGE_HANDLER, 0, (3u << 16) | 1, spec});
             append_to(record, Cell{TYPE_CHANGE_HANDLER, 0, 0xFFFFFFFFu, 0});
             Cell o{TYPE_OBJECT, context(live, 0), 1000001, record};
             live.insert(live.end(), {record, spec});
             return o;
         }},
        {"vector (word 3 is no node)", [&](auto& live, auto& dead) {
             Node v = bytes("v"), decoy = bytes("decoy");
             live = {v};
             dead = {decoy};
             return Cell{TYPE_VECTOR, 0, v, decoy};
         }},
        {"hash! with its index", [&](auto& live, auto&) {
             Node blk = new_cell_series(2), flags = bytes("flags"), keys = bytes("keys"), pos = bytes("pos");
             Node dup = new_byte_series(8), list = bytes("list");
             SeriesBuffer* d = node_buffer(dup);
             std::memcpy(reserve_tail_bytes(d, 4), &list, 4);
             Node index = new_byte_series(44);
             uint32_t h[11] = {0, pos, dup, flags, keys, blk, 0, 4, 3, 0, 0};
             SeriesBuffer* ib = node_buffer(index);
             ib->flags |= series_flag::HASH_INDEX;
             std::memcpy(reserve_tail_bytes(ib, 44), h, 44);
             live = {blk, flags, keys, pos, dup, list, index};
             return Cell{TYPE_HASH, 0, blk, index};
         }},
        {"typeset holds no nodes", [&](auto&, auto& dead) {
             Node a = bytes("a"), b = bytes("b"), c = bytes("c");
             dead = {a, b, c};
             return Cell{TYPE_TYPESET, a, b, c};
         }},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Node> live, dead;
        collector::Rooted<1> keep;
        collector::active = false;
        keep[0] = c.make(live, dead);
        collector::active = true;
        collector::collect_garbage();
        for (Node n : live) EXPECT_TRUE(is_live(n)) << n;
        for (Node n : dead) EXPECT_FALSE(is_live(n)) << n;
    }
}

TEST_F(CollectorTest, HandleValuesKeepTheirRecords) {
    static int released = 0;
    static void* last_object = nullptr;
    released = 0;
    uint32_t kind = handles::register_handle_kind(7, [](void* o) {
        released++;
        last_object = o;
    });
    int dummy_a = 0, dummy_b = 0;
    int32_t kept = handles::alloc_handle(&dummy_a, kind);
    int32_t dropped = handles::alloc_handle(&dummy_b, kind);
    collector::Rooted<1> keep;
    keep[0] = Cell{TYPE_HANDLE, 0, 0, uint32_t(kept)};
    Cell* garbage = stack::push_slot();
    *garbage = Cell{TYPE_HANDLE, 0, 0, uint32_t(dropped)};
    stack::top--;  // no longer a root

    collector::collect_garbage();
    EXPECT_EQ(released, 1);
    EXPECT_EQ(last_object, &dummy_b);
    EXPECT_EQ(handles::handle_object(kept), &dummy_a);
    EXPECT_EQ(handles::handle_object(dropped), nullptr);
    collector::collect_garbage();
    EXPECT_EQ(released, 1);  // exactly once
    EXPECT_EQ(handles::alloc_handle(&dummy_b, kind), dropped);  // the record is reused
}

TEST_F(CollectorTest, RootScopesUnwindWithExceptions) {
    uint32_t depth = collector::root_scope_depth();
    try {
        collector::Rooted<2> a;
        collector::Rooted<1> b;
        EXPECT_EQ(collector::root_scope_depth(), depth + 2);
        throw 1;
    } catch (int) {
    }
    EXPECT_EQ(collector::root_scope_depth(), depth);
}

// Randomized: a graph of blocks, strings and binaries under random roots,
// changed at random with a collection every few allocations. After each
// collection every reachable series must equal its shadow copy, and the frames
// must hold exactly the reachable chunks.
TEST_F(CollectorTest, RandomGraphMatchesItsModel) {
    enum Kind { BLOCK, STRING, BINARY };
    struct Elem {
        int32_t value;  // an integer! when ref < 0
        int32_t ref;    // model series
    };
    struct MSeries {
        Kind kind;
        Node node;
        std::vector<Elem> cells;
        std::string bytes;
    };
    std::vector<MSeries> model;
    std::vector<std::pair<uint32_t, int32_t>> roots;  // value slot, model series
    std::mt19937 rng(12345);
    auto pick = [&](size_t n) { return size_t(rng() % n); };

    auto cell_for = [&](int32_t m) {
        static const uint32_t types[] = {TYPE_BLOCK, TYPE_STRING, TYPE_BINARY};
        return Cell{types[model[m].kind], 0, model[m].node, 0};
    };
    auto reachable = [&]() {
        std::vector<int32_t> order;
        std::vector<bool> seen(model.size(), false);
        std::vector<int32_t> todo;
        for (auto& r : roots) todo.push_back(r.second);
        while (!todo.empty()) {
            int32_t m = todo.back();
            todo.pop_back();
            if (seen[m]) continue;
            seen[m] = true;
            order.push_back(m);
            for (const Elem& e : model[m].cells)
                if (e.ref >= 0) todo.push_back(e.ref);
        }
        return order;
    };
    uint64_t base = frames_used();
    auto verify = [&]() {
        collector::collect_garbage();
        uint64_t live = 0;
        for (int32_t m : reachable()) {
            const MSeries& s = model[m];
            ASSERT_TRUE(is_live(s.node)) << "series " << m;
            SeriesBuffer* b = node_buffer(s.node);
            live += b->size + 24;
            if (s.kind == BLOCK) {
                ASSERT_EQ(b->length(), s.cells.size());
                for (size_t i = 0; i < s.cells.size(); i++) {
                    const Cell& c = b->cell_head()[i];
                    const Elem& e = s.cells[i];
                    if (e.ref < 0) {
                        ASSERT_EQ(type_of(&c), TYPE_INTEGER);
                        ASSERT_EQ(int32_t(c.data2), e.value);
                    } else {
                        ASSERT_EQ(c.data2, model[e.ref].node);
                    }
                }
            } else {
                ASSERT_EQ(bytes_of(s.node), s.bytes);
            }
        }
        ASSERT_EQ(frames_used(), base + live);
    };
    auto new_series = [&](Kind k) {
        Node n = k == BLOCK ? new_cell_series(1 + uint32_t(pick(6))) : new_byte_series(1 + uint32_t(pick(40)));
        model.push_back(MSeries{k, n, {}, {}});
        return int32_t(model.size() - 1);
    };

    collector::stress_every = 7;
    uint32_t checked_cycle = collector::cycles;
    int verifications = 0;
    for (int step = 0; step < 20000; step++) {
        std::vector<int32_t> live = reachable();
        std::vector<int32_t> blocks;
        for (int32_t m : live)
            if (model[m].kind == BLOCK) blocks.push_back(m);
        int op = int(pick(10));
        if (roots.empty() || (op == 0 && roots.size() < 60)) {
            // A new root.
            collector::Rooted<1> hold;
            int32_t m = new_series(Kind(pick(3)));
            hold[0] = cell_for(m);
            roots.push_back({value_slots::place(&hold[0]), m});
        } else if (op <= 2 && !blocks.empty()) {
            // A new series appended to a reachable block.
            int32_t target = blocks[pick(blocks.size())];
            collector::Rooted<1> hold;
            int32_t m = new_series(Kind(pick(3)));
            hold[0] = cell_for(m);
            append_to(model[target].node, hold[0]);
            model[target].cells.push_back(Elem{0, m});
        } else if (op == 3 && !blocks.empty()) {
            // A reference to any reachable series: sharing and cycles.
            int32_t target = blocks[pick(blocks.size())];
            int32_t m = live[pick(live.size())];
            append_to(model[target].node, cell_for(m));
            model[target].cells.push_back(Elem{0, m});
        } else if (op == 4 && !blocks.empty()) {
            int32_t target = blocks[pick(blocks.size())];
            int32_t v = int32_t(rng());
            append_to(model[target].node, Cell{TYPE_INTEGER, 0, uint32_t(v), 0});
            model[target].cells.push_back(Elem{v, -1});
        } else if (op <= 6) {
            // Bytes appended to a string or binary (growth moves it).
            int32_t m = live[pick(live.size())];
            if (model[m].kind == BLOCK) continue;
            std::string more(1 + pick(60), char('a' + pick(26)));
            SeriesBuffer* b = node_buffer(model[m].node);
            std::memcpy(reserve_tail_bytes(b, uint32_t(more.size())), more.data(), more.size());
            model[m].bytes += more;
        } else if (op <= 8 && !blocks.empty()) {
            // A cell dropped from a block.
            int32_t target = blocks[pick(blocks.size())];
            auto& cells = model[target].cells;
            if (cells.empty()) continue;
            size_t i = pick(cells.size());
            SeriesBuffer* b = node_buffer(model[target].node);
            Cell* c = b->cell_head();
            std::memmove(c + i, c + i + 1, (cells.size() - i - 1) * 16);
            b->tail -= 16;
            cells.erase(cells.begin() + long(i));
        } else {
            // A root dropped.
            size_t r = pick(roots.size());
            value_slots::release(roots[r].first);
            roots.erase(roots.begin() + long(r));
        }
        if (collector::cycles != checked_cycle) {
            verify();
            if (HasFatalFailure()) return;
            verifications++;
            checked_cycle = collector::cycles;
        }
    }
    EXPECT_GT(verifications, 100);
}

// With collections running, making and dropping a million small blocks stays
// within a small multiple of the live data.
TEST_F(CollectorTest, ChurnRunsInBoundedMemory) {
    collector::stress_every = 0;  // the allocator's own triggers only
    collector::Rooted<1> keep;
    Node live = new_cell_series(2000);
    keep[0] = block_of(live);
    for (int i = 0; i < 2000; i++) {
        Node s = bytes_series(std::string(500, char('a' + i % 26)));
        append_to(live, Cell{TYPE_STRING, 0, s, 0});
    }
    collector::collect_garbage();
    uint64_t live_bytes = frames_used();
    uint64_t peak = 0;
    uint32_t cycles = collector::cycles;
    for (int i = 0; i < 1000000; i++) {
        Node n = new_cell_series(4);
        node_buffer(n)->tail = 16;
        if (i % 1000 == 0 && memory.os_bytes > peak) peak = memory.os_bytes;
    }
    EXPECT_GT(collector::cycles, cycles + 10);
    // Without collections this would take 88 MB of frames.
    EXPECT_LT(peak, 4 * live_bytes + 4 * MAX_FRAME_SIZE);
    EXPECT_EQ(bytes_of(node_buffer(live)->cell_head()[1999].data2), std::string(500, char('a' + 1999 % 26)));
}

TEST_F(CollectorTest, StatsDescribeTheFrames) {
    collector::Rooted<1> out;
    Node big = new_byte_series(2500000);
    (void)big;
    double before = stats::memory_in_use();
    EXPECT_DOUBLE_EQ(stats::memory_stats_block(&out[0], 2), before);  // taken before the block is built
    EXPECT_TRUE(collector::active);  // paused only while it ran
    ASSERT_EQ(type_of(&out[0]), TYPE_BLOCK);
    SeriesBuffer* b = node_buffer(out[0].data2);
    ASSERT_EQ(b->length(), 5u);
    Cell* e = b->cell_head();
    for (int i = 0; i < 5; i++) EXPECT_TRUE(e[i].header & FLAG_NEW_LINE);
    // One [free used total] per series frame, adding up.
    SeriesBuffer* frames = node_buffer(e[1].data2);
    uint32_t count = 0;
    for (SeriesFrame* f = memory.first_frame; f; f = f->next) count++;
    ASSERT_EQ(frames->length(), count);
    Cell* triple = node_buffer(frames->cell_head()[0].data2)->cell_head();
    EXPECT_EQ(triple[0].data2 + triple[1].data2, triple[2].data2);
    EXPECT_EQ(node_buffer(e[2].data2)->length(), 1u);  // the big series
    EXPECT_EQ(node_buffer(e[2].data2)->cell_head()[0].data2, node_buffer(big)->size + 24);

    // Byte counts above 2147483647 become float!.
    collector::Rooted<1> list;
    list[0] = block_of(new_cell_series(2));
    EXPECT_EQ(type_of(stats::append_stats_entry(&list[0], 2147483647.0)), TYPE_INTEGER);
    Cell* f = stats::append_stats_entry(&list[0], 2147483648.0);
    EXPECT_EQ(type_of(f), TYPE_FLOAT);
    EXPECT_DOUBLE_EQ(cell_float(f), 2147483648.0);
    double after_recycle = collector::recycle();
    EXPECT_DOUBLE_EQ(after_recycle, stats::memory_in_use());
    EXPECT_LT(after_recycle, before);  // the big series went
}

// Spec text read with a collection (and every buffer moved) at each
// allocation: the nested type blocks and doc strings are only held by the
// reader until they are appended.
TEST_F(CollectorTest, SpecTextKeepsItsPartsAcrossCollections) {
    collector::evacuate = true;
    collector::stress_every = 1;
    collector::Rooted<1> spec;
    helpers::spec_from_text("\"Doc string\" value [integer! block!] /part length [integer!] \"unclosed", &spec[0]);
    collector::stress_every = 0;
    collector::collect_garbage();
    SeriesBuffer* b = node_buffer(spec[0].data2);
    ASSERT_EQ(b->length(), 7u);
    const Cell* c = b->cell_head();
    EXPECT_EQ(type_of(&c[0]), TYPE_STRING);
    EXPECT_EQ(string::to_utf8(&c[0]), "Doc string");
    EXPECT_EQ(type_of(&c[2]), TYPE_BLOCK);
    SeriesBuffer* types = node_buffer(c[2].data2);
    ASSERT_EQ(types->length(), 2u);
    EXPECT_EQ(types->cell_head()[0].header & TYPE_MASK, uint32_t(TYPE_DATATYPE));
    EXPECT_EQ(types->cell_head()[0].data1, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(types->cell_head()[1].data1, uint32_t(TYPE_BLOCK));
    EXPECT_EQ(type_of(&c[3]), TYPE_REFINEMENT);
    EXPECT_EQ(node_buffer(c[5].data2)->length(), 1u);
    // A string left open runs to the end of the text.
    EXPECT_EQ(string::to_utf8(&c[6]), "unclosed");
}

// An evacuating collection moves every buffer; the address a buffer had
// before it cannot be read after it, for a few collections more, until its
// frame serves again.
TEST_F(CollectorTest, BufferAddressKeptAcrossEvacuationFaults) {
    collector::evacuate = true;
    collector::Rooted<1> keep;
    keep[0] = Cell{TYPE_STRING, 0, bytes_series("moved"), 0};
    const SeriesBuffer* before = node_buffer(keep[0].data2);
    for (int i = 0; i < 3; i++) collector::collect_garbage();
    EXPECT_NE(node_buffer(keep[0].data2), before);
    EXPECT_EQ(string::to_utf8(&keep[0]), "moved");
    EXPECT_DEATH(
        {
            volatile uint8_t x = *reinterpret_cast<const volatile uint8_t*>(before);
            (void)x;
        },
        "");
}

// A value that names a node of the wrong kind stops the collection with an
// error naming the node: as soon as it is reached as a context or a hash
// index, and, with the heap check on, whatever its kind.
TEST_F(CollectorTest, MisnamedNodesAreFatal) {
    struct Case {
        const char* name;
        bool needs_check;
        std::function<Cell(Node& culprit)> make;
        const char* report;
    };
    Case cases[] = {
        {"word bound to a block", false,
         [](Node& n) {
             n = new_cell_series(2);
             return Cell{TYPE_WORD, n, 7, 0};
         },
         "named by a word! cell, reached as a context, is a cell series"},
        {"context! cell naming a context as its word index", false,
         [](Node& n) {
             n = context::create(1, false, false, 0, context::KIND_OBJECT);
             return Cell{TYPE_CONTEXT, n, 0, 0};
         },
         "named by a context! cell, reached as a hash index, is a context record"},
        {"block naming a byte series", true,
         [](Node& n) {
             n = bytes_series("abc");
             Node outer = new_cell_series(1);
             append_to(outer, Cell{TYPE_BLOCK, 0, n, 0});
             return block_of(outer);
         },
         "named by a block! cell .cell 0 of node [0-9]+., should be a cell series but is a byte series"},
        {"string naming a freed node", true,
         [](Node& n) {
             n = bytes_series("gone");
             Node outer = new_cell_series(1);
             append_to(outer, Cell{TYPE_STRING, 0, n, 0});
             return_node(n);  // as if its buffer had been reclaimed under it
             return block_of(outer);
         },
         "named by a string! cell .cell 0 of node [0-9]+., is not a live node"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        collector::active = false;
        Node culprit = 0;
        collector::Rooted<1> keep;
        keep[0] = c.make(culprit);
        EXPECT_DEATH(
            {
                collector::verify = c.needs_check;
                collector::collect_garbage();
            },
            "collector: node " + std::to_string(culprit) + ", " + c.report);
    }
}

// An error raised with no guard around it stays held until the next one; a
// fresh runtime must not keep it, since its values name nodes of the last.
TEST_F(CollectorTest, FreshRuntimeHoldsNoErrorOfTheLast) {
    {
        collector::Rooted<1> text;
        string::make_at(&text[0], 4);
        try {
            raise_error(err::script_no_value, &text[0]);
        } catch (const VyxError&) {
        }
    }
    shutdown_runtime();
    init_runtime();
    collector::verify = true;
    collector::active = true;
    for (int i = 0; i < 3; i++) new_byte_series(64);  // the old nodes come back as other series
    uint32_t before = collector::cycles;
    collector::collect_garbage();
    EXPECT_EQ(collector::cycles, before + 1);
}
