// The decoded form's guard: every writable access to a buffer clears its
// DECODED flag, reads keep it; and a block run again really is run decoded
// (in a build that has the form), until something writes to it.
#include <gtest/gtest.h>

#include <functional>

#include "evaluator/decoded.h"
#include "interp_fixture.h"
#include "runtime/memory.h"

using namespace vyx;

TEST_F(RuntimeTest, WritableAccessClearsDecodedFlag) {
    Node n = new_cell_series(4);
    const std::pair<const char*, std::function<void(SeriesBuffer*)>> writers[] = {
        {"data", [](SeriesBuffer* b) { b->data(); }},
        {"head", [](SeriesBuffer* b) { b->head(); }},
        {"tail_ptr", [](SeriesBuffer* b) { b->tail_ptr(); }},
        {"end", [](SeriesBuffer* b) { b->end(); }},
        {"cell_head", [](SeriesBuffer* b) { b->cell_head(); }},
        {"cell_tail", [](SeriesBuffer* b) { b->cell_tail(); }},
    };
    for (const auto& [name, write] : writers) {
        SeriesBuffer* b = node_buffer(n);
        b->flags |= series_flag::DECODED;
        b->read_cells();
        b->read_cells_tail();
        b->read_head();
        b->read_data();
        b->code_cells();
        EXPECT_TRUE(b->flags & series_flag::DECODED) << "a read cleared it before " << name;
        write(b);
        EXPECT_FALSE(b->flags & series_flag::DECODED) << name << " kept it";
    }
}

TEST_F(InterpTest, BlockRunAgainRunsDecodedUntilWritten) {
    if (!decoded::enabled) GTEST_SKIP() << "this build walks the code";
    eval_source("x: 0 b: [x: x + 1 x: x * 2] loop 3 [do b]");
    Node node = eval("b").data2;
    decoded::Record* r = decoded::find(node);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->decoded);
    EXPECT_EQ(r->tops.size(), 2u);
    EXPECT_TRUE(node_buffer(node)->flags & series_flag::DECODED);
    EXPECT_EQ(result_of("x"), "14");
    // A write (then a collection): the flag goes with the write, and the
    // next runs give what walking gives, the second one decoded afresh.
    eval_source("append b [x: x - 1] recycle");
    EXPECT_FALSE(node_buffer(node)->flags & series_flag::DECODED);
    EXPECT_EQ(result_of("loop 2 [do b] x"), "59");
    EXPECT_TRUE(decoded::find(node)->decoded);
}
