// The positional actions and element actions every series shares, on blocks
// and strings alike.
#include <vector>

#include "runtime_fixture.h"
#include "series_test_util.h"

using namespace vyx;
using namespace vyx::test;

namespace {

Cell numbers(int n) {
    Cell b = block_of({});
    for (int i = 1; i <= n; i++) {
        Cell v = int_(i);
        blk::append(&b, &v);
    }
    return b;
}

}  // namespace

TEST_F(RuntimeTest, SeriesPositionsClampToTheSeries) {
    Cell b = numbers(5);
    struct { int action; Cell start; int32_t arg; uint32_t head; } cases[] = {
        {A_SKIP, at(b, 2), -2000000000, 0},
        {A_SKIP, at(b, 2), 2000000000, 5},
        {A_SKIP, at(b, 2), INT32_MIN, 0},
        {A_SKIP, at(b, 2), 1, 3},
        {A_AT, at(b, 2), 0, 2},  // at 0 and at 1 are the same place
        {A_AT, at(b, 2), 1, 2},
        {A_AT, at(b, 2), 2, 3},
        {A_AT, at(b, 2), -1, 1},
        {A_AT, at(b, 0), INT32_MAX, 5},
    };
    for (auto& c : cases) EXPECT_EQ(call(c.action, {c.start, int_(c.arg)}).data1, c.head) << c.action << " " << c.arg;
    EXPECT_EQ(call(A_BACK, {at(b, 0)}).data1, 0u);
    EXPECT_EQ(call(A_NEXT, {at(b, 5)}).data1, 5u);
    EXPECT_EQ(call(A_TAIL, {at(b, 1)}).data1, 5u);
    EXPECT_EQ(call(A_HEAD, {at(b, 3)}).data1, 0u);
    EXPECT_EQ(call(A_INDEX_Q, {at(b, 3)}).data2, 4u);
    EXPECT_EQ(call(A_HEAD_Q, {at(b, 0)}).data1, 1u);
    EXPECT_EQ(call(A_TAIL_Q, {at(b, 4)}).data1, 0u);
    EXPECT_EQ(call(A_TAIL_Q, {at(b, 5)}).data1, 1u);
    EXPECT_RAISES(call(A_SKIP, {b, str("x")}), err::script_invalid_arg);

    Cell s = str("hello");
    EXPECT_EQ(call(A_SKIP, {s, int_(-9)}).data1, 0u);
    EXPECT_EQ(call(A_AT, {s, int_(99)}).data1, 5u);
}

TEST_F(RuntimeTest, SeriesHeadBeyondAShrunkBuffer) {
    Cell b = numbers(5);
    Cell late = at(b, 4);
    blk::set_length(&b, 2);
    auto length = handler<act::Length>(TYPE_BLOCK, A_LENGTH_Q);
    auto pick = handler<act::Pick>(TYPE_BLOCK, A_PICK);
    EXPECT_EQ(type_of(pick(&late, 1, nullptr)), TYPE_NONE);
    EXPECT_EQ(length(&late), 0);
    EXPECT_EQ(late.data1, 2u);  // moved to the tail
    EXPECT_EQ(call(A_TAIL_Q, {at(b, 4)}).data1, 1u);
}

TEST_F(RuntimeTest, SeriesPickAndPoke) {
    Cell b = at(numbers(5), 2);
    auto pick = handler<act::Pick>(TYPE_BLOCK, A_PICK);
    auto poke = handler<act::Poke>(TYPE_BLOCK, A_POKE);
    EXPECT_EQ(type_of(pick(&b, 0, nullptr)), TYPE_NONE);
    EXPECT_EQ(pick(&b, 1, nullptr)->data2, 3u);
    EXPECT_EQ(pick(&b, -1, nullptr)->data2, 2u);
    EXPECT_EQ(pick(&b, -2, nullptr)->data2, 1u);
    EXPECT_EQ(type_of(pick(&b, -3, nullptr)), TYPE_NONE);
    EXPECT_EQ(type_of(pick(&b, 4, nullptr)), TYPE_NONE);

    Cell v = int_(30);
    EXPECT_EQ(poke(&b, 1, &v, nullptr)->data2, 30u);
    EXPECT_EQ(ints(at(b, 0)), (std::vector<int>{1, 2, 30, 4, 5}));
    Cell zero = int_(0);
    try {
        poke(&b, 0, &v, &zero);
        ADD_FAILURE() << "poke 0 must raise";
    } catch (const VyxError& e) {
        EXPECT_TRUE(same_id(e.id, err::script_out_of_range));
        EXPECT_EQ(e.args[0].data2, 0u);  // the index is the argument
    }
    EXPECT_RAISES(poke(&b, 4, &v, nullptr), err::script_out_of_range);

    // Strings give and take characters only.
    Cell s = str("abc");
    auto spick = handler<act::Pick>(TYPE_STRING, A_PICK);
    auto spoke = handler<act::Poke>(TYPE_STRING, A_POKE);
    const Cell* c = spick(&s, 2, nullptr);
    EXPECT_EQ(type_of(c), TYPE_CHAR);
    EXPECT_EQ(c->data2, uint32_t('b'));
    Cell x = chr('X');
    spoke(&s, 3, &x, nullptr);
    EXPECT_EQ(text(s), "abX");
    EXPECT_RAISES(spoke(&s, 1, &v, nullptr), err::script_invalid_arg);
}

TEST_F(RuntimeTest, SeriesRemoveClearAndTake) {
    auto remove = handler<act::Remove>(TYPE_BLOCK, A_REMOVE);
    Cell b = numbers(5);
    Cell part = int_(100);
    Cell r = with_args({at(b, 3)}, [&](Cell* s) { remove(s, &part, nullptr); });
    EXPECT_EQ(r.data1, 3u);
    EXPECT_EQ(ints(b), (std::vector<int>{1, 2, 3}));  // cut at the position
    with_args({at(b, 0)}, [&](Cell* s) { remove(s, nullptr, nullptr); });
    EXPECT_EQ(ints(b), (std::vector<int>{2, 3}));
    Cell zero = int_(0);
    with_args({at(b, 0)}, [&](Cell* s) { remove(s, &zero, nullptr); });
    EXPECT_EQ(ints(b), (std::vector<int>{2, 3}));
    Cell end = at(b, 1);
    with_args({at(b, 0)}, [&](Cell* s) { remove(s, &end, nullptr); });  // /part as a position
    EXPECT_EQ(ints(b), (std::vector<int>{3}));
    Cell other = numbers(2);
    EXPECT_RAISES(with_args({b}, [&](Cell* s) { remove(s, &other, nullptr); }), err::script_invalid_refine_arg);

    Cell c = numbers(4);
    with_args({at(c, 1)}, [&](Cell* s) { handler<act::Clear>(TYPE_BLOCK, A_CLEAR)(s); });
    EXPECT_EQ(ints(c), (std::vector<int>{1}));

    auto take = handler<act::Take>(TYPE_STRING, A_TAKE);
    Cell s = str("abcdef");
    EXPECT_EQ(take(&s, nullptr, false, false)->data2, uint32_t('a'));
    EXPECT_EQ(take(&s, nullptr, false, true)->data2, uint32_t('f'));
    EXPECT_EQ(text(s), "bcde");
    Cell two = int_(2);
    with_args({}, [&](Cell*) { EXPECT_EQ(text(*take(&s, &two, false, true)), "de"); });
    EXPECT_EQ(text(s), "bc");
    Cell zero_part = int_(0);
    Cell empty;
    with_args({}, [&](Cell*) { empty = *take(&s, &zero_part, false, false); });
    EXPECT_EQ(type_of(&empty), TYPE_STRING);
    EXPECT_EQ(series::rs_length(&empty), 0u);
    Cell back = int_(-1);
    Cell positioned = at(s, 1);
    with_args({}, [&](Cell*) { EXPECT_EQ(text(*take(&positioned, &back, false, false)), "b"); });
    EXPECT_EQ(text(s), "c");
    Cell nothing = str("");
    EXPECT_EQ(type_of(take(&nothing, nullptr, false, false)), TYPE_NONE);
}

TEST_F(RuntimeTest, SeriesCopyPart) {
    auto copy = handler<act::Copy>(TYPE_STRING, A_COPY);
    Cell s = at(str("abcdef"), 3);
    struct { Cell part; const char* expect; } cases[] = {
        {int_(2), "de"}, {int_(-2), "bc"}, {int_(-9), "abc"}, {int_(99), "def"}, {at(s, 5), "de"},
    };
    for (auto& c : cases) {
        Cell r;
        copy(&s, &r, &c.part, false, nullptr);
        EXPECT_EQ(text(r), c.expect);
        EXPECT_EQ(r.data1, 0u);
    }
    Cell pair{TYPE_PAIR, 0, 2, 4};
    Cell r;
    copy(&s, &r, &pair, false, nullptr);
    EXPECT_EQ(text(r), "ef");  // from head + x - 1, y - x of them
    Cell whole;
    copy(&s, &whole, nullptr, false, nullptr);
    EXPECT_EQ(text(whole), "def");
    EXPECT_NE(whole.data2, s.data2);
}

TEST_F(RuntimeTest, SeriesReverse) {
    auto reverse = handler<act::Reverse>(TYPE_BLOCK, A_REVERSE);
    Cell b = numbers(6);
    Cell two = int_(2), four = int_(4), zero = int_(0);
    with_args({b}, [&](Cell* s) { reverse(s, nullptr, &two); });
    EXPECT_EQ(ints(b), (std::vector<int>{5, 6, 3, 4, 1, 2}));
    EXPECT_RAISES(with_args({b}, [&](Cell* s) { reverse(s, nullptr, &four); }), err::script_invalid_refine_arg);
    EXPECT_RAISES(with_args({b}, [&](Cell* s) { reverse(s, nullptr, &zero); }), err::script_out_of_range);
    Cell three = int_(3);
    with_args({at(b, 1)}, [&](Cell* s) { reverse(s, &three, nullptr); });
    EXPECT_EQ(ints(b), (std::vector<int>{5, 4, 3, 6, 1, 2}));
    Cell s = str(U"a\u00E9z");
    with_args({s}, [&](Cell* x) { reverse(x, nullptr, nullptr); });
    EXPECT_EQ(text(s), "z\xC3\xA9" "a");
}

TEST_F(RuntimeTest, SeriesMove) {
    auto move = handler<act::Move>(TYPE_BLOCK, A_MOVE);
    Cell b = numbers(5);
    Cell src = at(b, 0), dst = at(b, 3), two = int_(2);
    move(&src, &dst, &two);
    EXPECT_EQ(ints(b), (std::vector<int>{3, 1, 2, 4, 5}));
    Cell inside = at(b, 1);
    src = at(b, 0);
    EXPECT_EQ(move(&src, &inside, &two)->data1, 0u);  // target inside the run: nothing moves
    EXPECT_EQ(ints(b), (std::vector<int>{3, 1, 2, 4, 5}));
    src = at(b, 4);
    dst = at(b, 0);
    move(&src, &dst, nullptr);
    EXPECT_EQ(ints(b), (std::vector<int>{5, 3, 1, 2, 4}));

    Cell other = numbers(2);
    src = at(b, 0);
    Cell target = at(other, 1);
    move(&src, &target, &two);
    EXPECT_EQ(ints(b), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(ints(other), (std::vector<int>{1, 5, 3, 2}));

    Cell s = str("abc");
    EXPECT_RAISES(move(&src, &s, nullptr), err::script_move_bad);
    Cell n = int_(1);
    EXPECT_RAISES(move(&src, &n, nullptr), err::script_expect_arg);

    // Strings of different units convert character by character.
    Cell wide = str(U"\u0100\u0101"), narrow = str("xy");
    auto smove = handler<act::Move>(TYPE_STRING, A_MOVE);
    smove(&narrow, &wide, nullptr);
    EXPECT_EQ(text(wide), "x\xC4\x80\xC4\x81");
    EXPECT_EQ(text(narrow), "y");
}
