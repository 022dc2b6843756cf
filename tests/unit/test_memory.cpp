#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/arrays.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/raise.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {

uint32_t frame_data_size(SeriesFrame* f) { return uint32_t(f->end - f->data_start()); }

}  // namespace

TEST(Cell, LayoutAndNullNode) {
    static_assert(sizeof(Cell) == 16);
    EXPECT_EQ(sizeof(SeriesBuffer), 20u);
    init_memory();
    Node n = take_node();
    EXPECT_NE(n, 0u);  // node 0 stays null
    EXPECT_EQ(node_buffer(0), nullptr);
    free_all_frames();
}

TEST(Cell, SetTypeKeepsFlags) {
    Cell c{TYPE_INTEGER | FLAG_NEW_LINE, 0, 5, 0};
    set_cell_type(&c, TYPE_FLOAT);
    EXPECT_EQ(type_of(&c), TYPE_FLOAT);
    EXPECT_TRUE(c.header & FLAG_NEW_LINE);
    clear_new_line_flag(&c);
    EXPECT_EQ(c.header, uint32_t(TYPE_FLOAT));
}

TEST_F(RuntimeTest, FrameAndBigSeriesThreshold) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    // 131,070 cells: chunk 2,097,144 bytes, still in a frame.
    SeriesBuffer* in_frame = node_buffer(new_cell_series(131070));
    EXPECT_FALSE(in_frame->flags & series_flag::BIG);
    EXPECT_EQ(in_frame->size, 131070u * 16);
    // 131,071 cells: chunk 2,097,160 bytes, a big series.
    SeriesBuffer* big = node_buffer(new_cell_series(131071));
    EXPECT_TRUE(big->flags & series_flag::BIG);
    ASSERT_NE(memory.first_big, nullptr);
    EXPECT_EQ(memory.first_big->buffer(), big);
}

TEST_F(RuntimeTest, FrameSizesAreOneThenTwoMegabytes) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    ASSERT_NE(memory.first_frame, nullptr);
    // The first frame is 1 MB, every later one 2 MB. Start-up may already
    // have made later frames (a build that moves every buffer fills frames
    // fast), and the list is sorted by address, so the 1 MB frame is found
    // by its size.
    std::vector<SeriesFrame*> before;
    for (SeriesFrame* f = memory.first_frame; f; f = f->next) before.push_back(f);
    // Fill past the current frames: the new ones are 2 MB.
    for (int i = 0; i < 3; i++) new_byte_series(500000);
    int added = 0, small = 0;
    for (SeriesFrame* f = memory.first_frame; f; f = f->next) {
        bool old = std::find(before.begin(), before.end(), f) != before.end();
        if (frame_data_size(f) == 1048576u) {
            small++;
            EXPECT_TRUE(old);
        } else {
            EXPECT_EQ(frame_data_size(f), 2097152u);
        }
        if (!old) added++;
    }
    EXPECT_GE(added, 1);
    EXPECT_LE(small, 1);
    // (A stressed run moves every buffer, and may have emptied and let go
    // of the first frame during start-up.)
    if (before.size() == 1 && !collector::evacuate) {
        EXPECT_EQ(small, 1);
    }
    // Frames stay sorted by address.
    for (SeriesFrame* f = memory.first_frame; f && f->next; f = f->next) EXPECT_LT(f, f->next);
}

TEST_F(RuntimeTest, SizesOfSmallSeries) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    struct Case { Node node; uint32_t size; uint32_t elements; } cases[] = {
        {new_byte_series(0), 16, 16},
        {new_char_series(0, 4), 16, 4},
        {new_char_series(0, 2), 16, 8},
        {new_char_series(0, 1), 16, 16},
        {new_byte_series(100), 112, 112},
        {new_cell_series(3), 48, 3},
    };
    for (auto& c : cases) {
        SeriesBuffer* b = node_buffer(c.node);
        EXPECT_EQ(b->size, c.size);
        EXPECT_EQ(b->size / b->unit(), c.elements);
        EXPECT_EQ(b->node, c.node);
        EXPECT_EQ(b->flags & 0xA0000000u, 0xA0000000u);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b->data()) % 8, 0u);  // data is 8-byte aligned
    }
}

TEST_F(RuntimeTest, MiddleOffsetAndGrowthKeepsContent) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    SeriesBuffer* mid = node_buffer(new_series(64, 1, -1));
    EXPECT_EQ(mid->offset, 32u);
    EXPECT_EQ(mid->tail, 32u);
    EXPECT_TRUE(mid->flags & series_flag::MIDDLE);

    Node n = new_byte_series(100);
    SeriesBuffer* b = node_buffer(n);
    for (int i = 0; i < 100; i++) b->data()[i] = uint8_t(i);
    b->tail = 100;
    SeriesBuffer* grown = grow_series(b, 0);
    EXPECT_EQ(grown->size, 224u);
    EXPECT_EQ(node_buffer(n), grown);
    EXPECT_EQ(grown->offset, 0u);
    EXPECT_EQ(grown->tail, 100u);
    for (int i = 0; i < 100; i++) ASSERT_EQ(grown->data()[i], uint8_t(i));
    // The old buffer stays in its frame, orphaned, until a compaction.
    EXPECT_EQ(b->node, 0u);
    EXPECT_FALSE(b->flags & series_flag::IN_USE);
}

TEST_F(RuntimeTest, GrowFilledAndDuplicate) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    Node n = new_byte_series(16);
    SeriesBuffer* b = node_buffer(n);
    std::memset(b->data(), 7, 16);
    b->tail = 16;
    b = grow_series_filled(b, 64, 0xEE);
    EXPECT_EQ(b->size, 64u);
    EXPECT_EQ(b->data()[15], 7);
    EXPECT_EQ(b->data()[16], 0xEE);
    EXPECT_EQ(b->data()[63], 0xEE);
    Node d = duplicate_series(b);
    SeriesBuffer* c = node_buffer(d);
    EXPECT_EQ(c->size, 64u);
    EXPECT_EQ(c->tail, 16u);
    EXPECT_EQ(std::memcmp(c->data(), node_buffer(n)->data(), 64), 0);
}

TEST_F(RuntimeTest, AppendCellGrowsEvenFromZeroCapacity) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    // A zero-capacity block must still take an append.
    Node n = new_cell_series(0);
    Cell block{TYPE_BLOCK, 0, n, 0};
    Cell* c = append_cell(&block);
    EXPECT_EQ(type_of(c), TYPE_UNSET);
    EXPECT_EQ(node_buffer(n)->length(), 1u);

    // A full 16-cell block moves to 32 cells; the returned cell is the 17th.
    Node m = new_cell_series(16);
    Cell b16{TYPE_BLOCK, 0, m, 0};
    for (int i = 0; i < 16; i++) append_cell(&b16)->data2 = uint32_t(i);
    EXPECT_EQ(node_buffer(m)->size, 256u);
    Cell* seventeenth = append_cell(&b16);
    SeriesBuffer* after = node_buffer(m);
    EXPECT_EQ(after->size, 512u);
    EXPECT_EQ(seventeenth, after->cell_head() + 16);
    for (int i = 0; i < 16; i++) EXPECT_EQ(after->cell_head()[i].data2, uint32_t(i));
}

TEST_F(RuntimeTest, ReserveTailBytes) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    SeriesBuffer* b = node_buffer(new_byte_series(16));
    uint8_t* at = reserve_tail_bytes(b, 100);
    EXPECT_EQ(b->size, 208u);  // 200 rounded up to 16
    EXPECT_EQ(at, b->data());
    EXPECT_EQ(b->tail, 100u);
}

TEST_F(RuntimeTest, NodesAreReusedAndFramesReviewed) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    Node a = take_node();
    return_node(a);
    EXPECT_EQ(take_node(), a);
    // Exhaust the first frame: a second frame appears and serves later ids.
    int32_t first = memory.current_node_frame;
    uint32_t before = memory.node_frames[first].used;
    for (uint32_t i = before; i < NODES_PER_FRAME; i++) take_node();
    Node next = take_node();
    EXPECT_NE(node_frame_of(next), first);
    // A frame whose nodes are all returned goes back to the system on review.
    return_node(next);
    uint64_t os = memory.os_bytes;
    review_node_frames();
    EXPECT_LT(memory.os_bytes, os);
    EXPECT_EQ(memory.last_node_frame, first);
}

TEST_F(RuntimeTest, OutsideGcSeries) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    SeriesBuffer* b = node_buffer(new_series_outside_gc(20000, 16, 0));
    EXPECT_EQ(b->flags & ~series_flag::UNIT_MASK, 0xA0100000u);
    EXPECT_EQ(b->size, 320000u);
}

TEST(MemoryLifecycle, FreeAllFramesReturnsEveryByte) {
    init_runtime();
    collector::active = false;
    for (int i = 0; i < 50; i++) new_byte_series(100000);
    new_cell_series(200000);  // big
    EXPECT_GT(memory.os_bytes, 0u);
    shutdown_runtime();
    EXPECT_EQ(memory.os_bytes, 0u);
}

TEST_F(RuntimeTest, GrowthBelowOneIsRefused) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    SeriesBuffer* b = node_buffer(new_byte_series(16));
    try {
        grow_series(b, -5);
        FAIL() << "expected no-memory";
    } catch (const VyxError& e) {
        EXPECT_EQ(e.id.category, err::internal_no_memory.category);
        EXPECT_EQ(e.id.entry, err::internal_no_memory.entry);
    }
}

// Growable arrays ---------------------------------------------------------

TEST_F(RuntimeTest, ArraysFindRemoveAndTail) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    Node a = new_array(0, 4);
    EXPECT_EQ(array_length(a), 0u);
    EXPECT_EQ(find_array_int(a, 5), -1);
    for (uint32_t v : {10u, 20u, 30u, 40u}) array_append_int(a, v);  // grows from empty
    EXPECT_EQ(array_length(a), 4u);
    EXPECT_EQ(find_array_int(a, 30), 8);
    EXPECT_EQ(array_int_at(a, 2), 20u);
    set_array_int_at(a, 2, 21);
    EXPECT_EQ(array_int_at(a, 2), 21u);
    remove_array_pointer(a, 99);  // absent: unchanged
    EXPECT_EQ(array_length(a), 4u);
    remove_array_pointer(a, 21);
    EXPECT_EQ(array_length(a), 3u);
    EXPECT_EQ(array_int_at(a, 2), 30u);
    Node copy = copy_array(a);
    EXPECT_EQ(array_length(copy), 3u);
    EXPECT_EQ(array_int_at(copy, 3), 40u);
    set_array_tail(a, 2);  // keeps n - 1 items
    EXPECT_EQ(array_length(a), 1u);
    set_array_tail(a, 0);  // no items, never a tail before the head
    EXPECT_EQ(array_length(a), 0u);
    EXPECT_EQ(node_buffer(a)->tail, node_buffer(a)->offset);
    array_append_int(a, 7);
    EXPECT_EQ(array_int_at(a, 1), 7u);
}

TEST_F(RuntimeTest, ByteArrays) {
    collector::Pause layout_only;  // these tests hold bare nodes and check layouts
    Node a = new_array(0, 1);
    for (int i = 0; i < 1000; i++) array_append_byte(a, uint8_t(i));
    EXPECT_EQ(array_length(a), 1000u);
    const uint8_t more[3] = {1, 2, 3};
    array_append_bytes(a, more, 3);
    EXPECT_EQ(array_length(a), 1003u);
    EXPECT_EQ(node_buffer(a)->head()[1002], 3);
    remove_array_at(a, 0, 1000);
    EXPECT_EQ(array_length(a), 3u);
    EXPECT_EQ(node_buffer(a)->head()[0], 1);
}
