// The byte-level operations other parts call to build and read binaries:
// growth keeps the bytes, inserts move the rest up, and a collection between
// calls leaves a rooted binary intact.
#include <gtest/gtest.h>

#include <vector>

#include "datatypes/binary.h"
#include "evaluator/helpers.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "tests/unit/runtime_fixture.h"

using namespace vyx;

namespace {

std::vector<uint8_t> bytes_of(Cell* bin) {
    uint8_t* p = binary::rs_head(bin);
    return std::vector<uint8_t>(p, p + binary::rs_length(bin));
}

}  // namespace

struct BinaryTest : RuntimeTest {};

TEST_F(BinaryTest, AppendInsertAndIntegersKeepEveryByteThroughGrowthAndCollections) {
    collector::Rooted<1> r;
    binary::make_at(&r[0], 0);
    collector::active = true;
    std::vector<uint8_t> model;
    for (int i = 0; i < 3000; i++) {
        uint8_t b = uint8_t(i * 7);
        binary::rs_append(&r[0], &b, 1);
        model.push_back(b);
        if (i % 500 == 0) collector::collect_garbage();
    }
    binary::from_integer(-2, &r[0]);
    model.insert(model.end(), {0xFF, 0xFF, 0xFF, 0xFE});
    const uint8_t mid[] = {1, 2, 3};
    r[0].data1 = 10;
    uint8_t* at = binary::rs_insert(&r[0], 5, mid, 3);
    EXPECT_EQ(at, binary::rs_head(&r[0]) + 5);
    model.insert(model.begin() + 15, mid, mid + 3);
    binary::rs_append(&r[0], nullptr, 2);
    model.insert(model.end(), {0, 0});
    collector::collect_garbage();
    r[0].data1 = 0;
    EXPECT_EQ(bytes_of(&r[0]), model);
    EXPECT_EQ(binary::get_byte(&r[0], 16), 2);
}

TEST_F(BinaryTest, LoadPushesOrAppendsACopy) {
    const uint8_t data[] = {0xDE, 0xAD};
    Cell* top = stack::top;
    Cell* pushed = binary::load(data, 2);
    EXPECT_EQ(stack::top, top + 1);
    EXPECT_EQ(bytes_of(pushed), std::vector<uint8_t>(data, data + 2));
    stack::top = top;
    Cell block;
    blk::make_at(&block, 1);
    Cell* in = binary::load_in(data, 2, &block);
    EXPECT_EQ(stack::top, top);
    EXPECT_EQ(blk::length(&block), 1u);
    EXPECT_EQ(type_of(in), TYPE_BINARY);
    EXPECT_EQ(bytes_of(blk::at(block.data2, 0)), std::vector<uint8_t>(data, data + 2));
}
