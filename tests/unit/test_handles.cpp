#include "runtime/collector.h"
#include "runtime/handles.h"
#include "runtime/raise.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {

int releases = 0;
void count_release(void*) { releases++; }

template <typename F>
err::Id raised(F f) {
    try {
        f();
    } catch (const VyxError& e) {
        return e.id;
    }
    return err::Id{0, 0};
}

bool same(err::Id a, err::Id b) { return a.category == b.category && a.entry == b.entry; }

}  // namespace

TEST_F(RuntimeTest, HandleTableDoublesAtTheThousandthAllocation) {
    uint32_t kind = handles::register_handle_kind(1, count_release);
    for (int32_t i = 0; i < 999; i++) ASSERT_EQ(handles::alloc_handle(nullptr, kind), i);
    EXPECT_EQ(handles::table.capacity, 1000u);
    EXPECT_EQ(handles::alloc_handle(nullptr, kind), 999);  // the last free record: the table doubled first
    EXPECT_EQ(handles::table.capacity, 2000u);
    EXPECT_EQ(handles::alloc_handle(nullptr, kind), 1000);  // no gap in the indexes
    EXPECT_EQ(handles::table.live_head, 1000);
}

TEST_F(RuntimeTest, FreeHandleUnlinksAndReuses) {
    releases = 0;
    uint32_t kind = handles::register_handle_kind(1, count_release);
    int a = 0, b = 0;
    int32_t first = handles::alloc_handle(&a, kind);
    int32_t second = handles::alloc_handle(&b, kind);
    EXPECT_EQ(handles::table.live_head, second);
    // Freeing the live head moves the head to the next record.
    EXPECT_EQ(handles::free_handle(second, true), -1);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(handles::table.live_head, first);
    EXPECT_EQ(handles::alloc_handle(&b, kind), second);
    handles::free_handle(first, false);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(handles::table.live_count, 1u);
}

// Indexes are checked: a bad one must not corrupt the lists.
TEST_F(RuntimeTest, HandleMisuseIsRefused) {
    uint32_t kind = handles::register_handle_kind(1, count_release);
    int32_t h = handles::alloc_handle(nullptr, kind);
    handles::free_handle(h, false);
    EXPECT_TRUE(same(raised([&] { handles::free_handle(h, false); }), err::internal_wrong_mem));  // double release
    EXPECT_TRUE(same(raised([] { handles::free_handle(-1, false); }), err::script_out_of_range));
    EXPECT_TRUE(same(raised([] { handles::free_handle(1000000, false); }), err::script_out_of_range));
    EXPECT_TRUE(same(raised([] { handles::alloc_handle(nullptr, 0); }), err::script_invalid_arg));
    EXPECT_TRUE(same(raised([&] { handles::alloc_handle(nullptr, kind + 1); }), err::script_invalid_arg));
    // Marking a free or foreign record does nothing.
    EXPECT_FALSE(handles::mark_handle(h));
    EXPECT_FALSE(handles::mark_handle(5000000));
    EXPECT_FALSE(handles::mark_handle(-7));
    // The free list is still whole: the freed record comes back first.
    EXPECT_EQ(handles::alloc_handle(nullptr, kind), h);
    // The registry holds 20 kinds.
    while (handles::kind_count() < handles::KIND_CAPACITY) handles::register_handle_kind(9, nullptr);
    EXPECT_TRUE(same(raised([] { handles::register_handle_kind(9, nullptr); }), err::internal_limit_hit));
}

TEST_F(RuntimeTest, MarkHandleReportsFirstMarkAndStoresObject) {
    uint32_t kind = handles::register_handle_kind(1, count_release);
    int x = 0;
    int32_t h = handles::alloc_handle(nullptr, kind);
    EXPECT_TRUE(handles::mark_handle(h, &x));
    EXPECT_FALSE(handles::mark_handle(h));
    EXPECT_EQ(handles::handle_object(h), &x);
    releases = 0;
    handles::sweep_handles();  // marked: kept, mark cleared
    EXPECT_EQ(releases, 0);
    handles::sweep_handles();  // unmarked now: released
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(handles::table.live_head, -1);
}

TEST_F(RuntimeTest, ValueSlotsHoldValuesAcrossCollections) {
    std::vector<uint32_t> slots;
    std::vector<Node> nodes;
    for (uint32_t i = 0; i < 250; i++) {  // past the first 100: the block doubles, twice
        Node n = new_byte_series(8);
        Cell v{TYPE_BINARY, 0, n, 0};
        slots.push_back(value_slots::place(&v));
        nodes.push_back(n);
    }
    EXPECT_EQ(slots.front(), 1u);
    EXPECT_EQ(slots.back(), 250u);
    EXPECT_EQ(value_slots::used(), 250u);
    collector::collect_garbage();
    for (size_t i = 0; i < nodes.size(); i++) {
        ASSERT_NE(value_slots::at(slots[i]), nullptr);
        EXPECT_EQ(value_slots::at(slots[i])->data2, nodes[i]);
        EXPECT_EQ(node_buffer(nodes[i])->node, nodes[i]);
    }
    EXPECT_TRUE(value_slots::release(7));
    EXPECT_FALSE(value_slots::release(7));
    EXPECT_EQ(value_slots::at(7), nullptr);
    EXPECT_EQ(value_slots::at(0), nullptr);
    EXPECT_EQ(value_slots::at(100000), nullptr);
    Cell none{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(value_slots::place(&none), 7u);  // the freed slot first
}
