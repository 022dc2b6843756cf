// block!, paren! and the path types: storage helpers, the text writers with
// new-line markers and cycles, comparison and the modifying actions.
#include <type_traits>
#include <vector>

#include "datatypes/path.h"
#include "datatypes/simple.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/cycle_stack.h"
#include "runtime_fixture.h"
#include "series_test_util.h"

using namespace vyx;
using namespace vyx::test;

namespace {

// The shared none! the lookups answer must not be writable through them.
static_assert(std::is_same_v<decltype(block::find_value(nullptr, nullptr)), const Cell*>);
static_assert(std::is_same_v<decltype(block::select_word(nullptr, nullptr, false)), const Cell*>);

Cell append_(Cell s, Cell v, int part = -1, bool only = false, int dup = 1) {
    return with_args({s, v}, [&](Cell* a) { block::append(a, a + 1, part, only, dup); });
}
Cell insert_(Cell s, Cell v, int part = -1, bool only = false, int dup = 1) {
    return with_args({s, v}, [&](Cell* a) { block::insert(a, a + 1, part, only, dup); });
}

}  // namespace

TEST_F(RuntimeTest, BlockMoldNewLines) {
    Cell lines = block_of({with_new_line(int_(1)), with_new_line(int_(2)), with_new_line(str("x"))});
    EXPECT_EQ(mold(lines), "[\n    1\n    2\n    \"x\"\n]");
    EXPECT_EQ(mold(lines, false, false, true), "[1 2 \"x\"]");  // /flat
    EXPECT_EQ(mold(lines, false, true), "1\n2\n\"x\"");           // /only: no brackets, no indent
    EXPECT_EQ(mold(block_of({int_(1), with_new_line(int_(2)), int_(3)})), "[1\n2 3]");
    Cell nested = block_of({with_new_line(int_(1)), with_new_line(block_of({with_new_line(int_(2))}))});
    EXPECT_EQ(mold(nested), "[\n    1\n    [\n        2\n    ]\n]");
    EXPECT_EQ(mold(block_of({})), "[]");
    EXPECT_EQ(mold(block_of({int_(1), block_of({int_(2), str("a")}), block_of({}, TYPE_PAREN)})), "[1 [2 \"a\"] ()]");
    EXPECT_EQ(mold(block_of({int_(1), int_(2)}, TYPE_PAREN)), "(1 2)");
    EXPECT_EQ(mold(block_of({int_(123), int_(456)}), false, false, false, 5), "[123 ");  // stops when spent
}

TEST_F(RuntimeTest, BlockTextCutsCycles) {
    Cell b = block_of({int_(1)});
    blk::append(&b, &b);
    EXPECT_EQ(mold(b), "[1 [...]]");
    EXPECT_EQ(form(b), "1 ...");
    Cell p = block_of({int_(1)}, TYPE_PAREN);
    blk::append(&p, &p);
    EXPECT_EQ(mold(p), "(1 (...))");
    Cell path = block_of({int_(1)}, TYPE_PATH);
    blk::append(&path, &path);
    EXPECT_EQ(mold(path), "1/...");
    EXPECT_EQ(cycle_depth(), 0u);

    auto chain = [](int depth) {
        Cell outer = block_of({});
        Cell inner = outer;
        for (int i = 1; i < depth; i++) {
            Cell next = block_of({});
            blk::append(&inner, &next);
            inner = next;
        }
        return outer;
    };
    EXPECT_EQ(mold(chain(999)).size(), 999u * 2);
    EXPECT_RAISES(mold(chain(1000)), err::internal_too_deep);
    EXPECT_EQ(cycle_depth(), 0u);  // emptied for whoever catches the error

    uint8_t area[30] = {'a', 'b', 'c'};
    EXPECT_EQ(fill_by_doubling(area, 3, 10), area + 30);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(area), 30), "abcabcabcabcabcabcabcabcabcabc");
}

TEST_F(RuntimeTest, BlockForm) {
    EXPECT_EQ(form(block_of({str("a\n"), str("b\t"), str("c"), int_(1)})), "a\nb\tc 1");
    EXPECT_EQ(form(block_of({int_(1), block_of({int_(2), int_(3)})})), "1 2 3");
    EXPECT_EQ(form(at(block_of({int_(1), int_(2)}), 1)), "2");
}

TEST_F(RuntimeTest, BlockCompare) {
    Cell empty = block_of({}), one = block_of({int_(1)}), two = block_of({int_(1), int_(2)});
    struct { Cell a, b; int op; int answer; } cases[] = {
        {empty, one, COMP_LESSER, -1},  // [] < [1]
        {one, empty, COMP_LESSER, 1},
        {empty, one, COMP_SORT, -1},
        {empty, block_of({}), COMP_SORT, 0},
        {empty, one, COMP_EQUAL, 1},
        {one, two, COMP_SORT, -1},
        {block_of({int_(2)}), two, COMP_SORT, 1},
        {block_of({int_(1), str("A")}), block_of({int_(1), str("a")}), COMP_EQUAL, 0},
        {block_of({int_(1), str("A")}), block_of({int_(1), str("a")}), COMP_STRICT_EQUAL, -1},
        {block_of({int_(1)}), block_of({str("1")}), COMP_SORT, 1},  // different types order by type id
        {one, block_of({int_(1)}, TYPE_PAREN), COMP_EQUAL, NOT_COMPARABLE},
        {block_of({int_(1)}, TYPE_PATH), block_of({int_(1)}, TYPE_LIT_PATH), COMP_LIT_STRICT_EQUAL, 0},
        {one, one, COMP_SAME, 0},
        {one, block_of({int_(1)}), COMP_SAME, -1},
    };
    for (auto& c : cases) EXPECT_EQ(cmp(c.a, c.b, c.op), c.answer) << mold(c.a) << " " << c.op << " " << mold(c.b);

    Cell self = block_of({int_(1)});
    blk::append(&self, &self);
    Cell other = block_of({int_(1)});
    blk::append(&other, &other);
    EXPECT_EQ(cmp(self, other, COMP_EQUAL), 0);
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST_F(RuntimeTest, BlockAppendInsertChange) {
    Cell b = at(block_of({int_(1), int_(2)}), 1);
    Cell r = append_(b, int_(3));
    EXPECT_EQ(r.data1, 0u);  // at its head, wherever it was
    EXPECT_EQ(ints(r), (std::vector<int>{1, 2, 3}));
    append_(b, block_of({int_(4), int_(5), int_(6)}), 2);
    EXPECT_EQ(ints(at(b, 0)), (std::vector<int>{1, 2, 3, 4, 5}));
    append_(b, block_of({int_(7)}), -1, true);
    EXPECT_EQ(series::length_from_head(&b), 6u);
    EXPECT_EQ(type_of(blk::at(b.data2, 5)), TYPE_BLOCK);

    Cell d = block_of({});
    append_(d, int_(9), -1, false, 3);
    append_(d, block_of({int_(1), int_(2)}), -1, false, 2);
    EXPECT_EQ(ints(d), (std::vector<int>{9, 9, 9, 1, 2, 1, 2}));
    append_(d, d);  // a block spliced into itself
    EXPECT_EQ(series::length_from_head(&d), 14u);

    Cell i = at(block_of({int_(1), int_(4)}), 1);
    Cell after = insert_(i, block_of({int_(2), int_(3)}));
    EXPECT_EQ(after.data1, 3u);  // just after what was inserted
    EXPECT_EQ(ints(at(i, 0)), (std::vector<int>{1, 2, 3, 4}));
    Cell far = at(block_of({int_(1)}), 9);
    EXPECT_EQ(insert_(far, int_(2)).data1, 2u);  // a head past the tail inserts at the tail

    Cell c = block_of({int_(1), int_(2), int_(3), int_(4)});
    Cell r2 = with_args({at(c, 1), block_of({int_(8), int_(9)})}, [&](Cell* a) { block::change(a, a + 1, -1, false, 1); });
    EXPECT_EQ(ints(at(c, 0)), (std::vector<int>{1, 8, 9, 4}));
    EXPECT_EQ(r2.data1, 3u);
    with_args({at(c, 1), int_(0)}, [&](Cell* a) { block::change(a, a + 1, 3, false, 1); });
    EXPECT_EQ(ints(at(c, 0)), (std::vector<int>{1, 0}));
    with_args({at(c, 2), int_(7)}, [&](Cell* a) { block::change(a, a + 1, -1, false, 2); });
    EXPECT_EQ(ints(at(c, 0)), (std::vector<int>{1, 0, 7, 7}));
}

TEST_F(RuntimeTest, BlockCopyDeep) {
    Cell inner = block_of({int_(2)});
    Cell s = str("t");
    Cell b = block_of({int_(1), inner, s});
    Cell shallow, deep;
    with_args({}, [&](Cell*) {
        block::copy(&b, &shallow, nullptr, false, nullptr);
        block::copy(&b, &deep, nullptr, true, nullptr);
    });
    EXPECT_EQ(blk::at(shallow.data2, 1)->data2, inner.data2);
    EXPECT_NE(blk::at(deep.data2, 1)->data2, inner.data2);
    EXPECT_NE(blk::at(deep.data2, 2)->data2, s.data2);
    EXPECT_EQ(mold(deep), "[1 [2] \"t\"]");

    Cell typed;
    Cell only_strings = dt(TYPE_STRING);
    with_args({}, [&](Cell*) { block::copy(&b, &typed, nullptr, false, &only_strings); });
    EXPECT_EQ(blk::at(typed.data2, 1)->data2, inner.data2);
    EXPECT_NE(blk::at(typed.data2, 2)->data2, s.data2);

    Cell self = block_of({int_(1)});
    blk::append(&self, &self);
    Cell out;
    EXPECT_RAISES(with_args({}, [&](Cell*) { block::copy(&self, &out, nullptr, true, nullptr); }), err::internal_no_cycle);
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST_F(RuntimeTest, BlockFindAndSelect) {
    Cell b = block_of({int_(1), str("a"), int_(2), str("b"), int_(1), str("c")});
    auto find = [&](Cell s, Cell v, Cell* part = nullptr, bool only = false, bool last = false, bool reverse = false,
                    bool tail = false, bool match = false, Cell* skip = nullptr, bool case_ = false) {
        const Cell* r = block::find(&s, &v, part, only, case_, false, false, nullptr, skip, last, reverse, tail, match);
        return type_of(r) == TYPE_NONE ? -1 : int(r->data1);
    };
    EXPECT_EQ(find(b, int_(2)), 2);
    EXPECT_EQ(find(b, dt(TYPE_STRING)), 1);
    EXPECT_EQ(find(b, dt(TYPE_STRING), nullptr, true), -1);  // /only looks for the datatype itself
    EXPECT_EQ(find(block_of({int_(1), dt(TYPE_STRING)}), dt(TYPE_STRING), nullptr, true), 1);
    EXPECT_EQ(find(b, block_of({int_(1), str("c")})), 4);
    EXPECT_EQ(find(b, block_of({int_(2), str("b")}), nullptr, false, false, false, true), 4);  // /tail after the run
    EXPECT_EQ(find(b, int_(1), nullptr, false, true), 4);                              // /last
    EXPECT_EQ(find(at(b, 4), int_(1), nullptr, false, false, true), 0);                // /reverse
    EXPECT_EQ(find(b, int_(2), nullptr, false, false, false, false, true), -1);        // /match
    EXPECT_EQ(find(b, int_(1), nullptr, false, false, false, true, true), 1);
    Cell three = int_(3);
    EXPECT_EQ(find(b, int_(1), &three, false, false, false, false, false), 0);
    EXPECT_EQ(find(at(b, 1), int_(1), &three), -1);  // /part stops before the second 1
    Cell two = int_(2);
    EXPECT_EQ(find(b, str("b"), nullptr, false, false, false, false, false, &two), -1);  // steps 0, 2, 4
    EXPECT_EQ(find(at(b, 1), str("b"), nullptr, false, false, false, false, false, &two), 3);
    EXPECT_EQ(find(b, str("B")), 3);
    EXPECT_EQ(find(b, str("B"), nullptr, false, false, false, false, false, nullptr, true), -1);
    EXPECT_EQ(find(at(b, 6), int_(1)), -1);

    auto select = [&](Cell s, Cell v) {
        return *block::select(&s, &v, nullptr, false, false, false, false, nullptr, nullptr, false, false, false, false);
    };
    EXPECT_EQ(text(select(b, int_(2))), "b");
    EXPECT_EQ(type_of(&(const Cell&)select(b, str("c"))), TYPE_NONE);  // the last cell has nothing after it
    EXPECT_EQ(select(b, block_of({int_(2), str("b")})).data2, 1u);

    auto word = [](const char* name, int type = TYPE_WORD) {
        return Cell{uint32_t(type), 0, uint32_t(symbol::make(name)), uint32_t(-1)};
    };
    Cell words = block_of({word("key", TYPE_SET_WORD), int_(1), word("other"), int_(2), word("last")});
    Cell upper = word("KEY"), last = word("last");
    EXPECT_EQ(block::select_word(&words, &upper, false)->data2, 1u);  // canonical symbols match
    EXPECT_EQ(block::select_word(&words, &upper, true), &NONE_CELL);
    EXPECT_EQ(block::select_word(&words, &last, false), &NONE_CELL);  // nothing after it

    Cell key = int_(2);
    EXPECT_EQ(text(*block::find_value(&b, &key)), "b");
    Cell c = str("c");
    EXPECT_EQ(block::find_value(&b, &c), &NONE_CELL);
    block::remove_value(&b, &key);
    EXPECT_EQ(series::length_from_head(&b), 5u);
}

TEST_F(RuntimeTest, BlockPutSwapTrimTake) {
    Cell b = block_of({str("k"), int_(1)});
    Cell k = str("K"), v = int_(5), k2 = str("new");
    block::put(&b, &k, &v, false);
    block::put(&b, &k2, &v, false);
    EXPECT_EQ(mold(b), "[\"k\" 5 \"new\" 5]");

    Cell x = block_of({int_(1), int_(2)}), y = at(block_of({int_(8), int_(9)}), 1);
    with_args({x, y}, [&](Cell* a) { block::swap(a, a + 1); });
    EXPECT_EQ(mold(x), "[9 2]");
    EXPECT_EQ(mold(at(y, 0)), "[8 1]");
    Cell not_block = int_(1);
    EXPECT_RAISES(with_args({x, not_block}, [&](Cell* a) { block::swap(a, a + 1); }), err::script_invalid_arg);

    Cell t = block_of({none_(), int_(1), none_(), int_(2), none_()});
    with_args({at(t, 1)}, [&](Cell* a) { block::trim(a, false, false, false, false, false, nullptr); });
    EXPECT_EQ(mold(t), "[none 1 2]");

    Cell inner = block_of({int_(3)});
    Cell src = block_of({with_new_line(inner), int_(4)});
    with_args({}, [&](Cell*) {
        const Cell* taken = block::take(&src, nullptr, true, false);
        EXPECT_EQ(type_of(taken), TYPE_BLOCK);
        EXPECT_NE(taken->data2, inner.data2);  // /deep copies the series it takes
    });
    Cell at_tail = at(src, 1);
    EXPECT_EQ(type_of(block::take(&at_tail, nullptr, false, false)), TYPE_NONE);
}

TEST_F(RuntimeTest, BlockMakeToAndPath) {
    with_args({}, [&](Cell*) {
        Cell proto = dt(TYPE_BLOCK);
        Cell zero = int_(0);
        const Cell* made = block::make(&proto, &zero, TYPE_BLOCK);
        EXPECT_EQ(series::length_from_head(made), 0u);
        EXPECT_GE(node_buffer(made->data2)->size, 16u);
        Cell src = at(block_of({int_(1), int_(2)}), 1);
        EXPECT_EQ(mold(*block::make(&proto, &src, TYPE_PAREN)), "(2)");
        Cell one = int_(1);
        EXPECT_EQ(mold(*block::to(&proto, &one, TYPE_BLOCK)), "[1]");
        Cell bad = str("x");
        EXPECT_RAISES(block::make(&proto, &bad, TYPE_BLOCK), err::script_bad_make_arg);
        Cell source = str("1 [2 \"a\"] (3)");
        EXPECT_EQ(mold(*block::to(&proto, &source, TYPE_BLOCK)), "[1 [2 \"a\"] (3)]");
        Cell ts{TYPE_TYPESET, 0, 0, 0};
        reinterpret_cast<uint8_t*>(&ts.data1)[TYPE_INTEGER >> 3] |= 0x80 >> (TYPE_INTEGER & 7);
        reinterpret_cast<uint8_t*>(&ts.data1)[TYPE_STRING >> 3] |= 0x80 >> (TYPE_STRING & 7);
        const Cell* types = block::to(&proto, &ts, TYPE_BLOCK);
        ASSERT_EQ(series::length_from_head(types), 2u);
        EXPECT_EQ(blk::at(types->data2, 0)->data1, uint32_t(TYPE_STRING));
        EXPECT_EQ(blk::at(types->data2, 1)->data1, uint32_t(TYPE_INTEGER));

        Cell pproto = dt(TYPE_PATH);
        const Cell* p = path::make(&pproto, &zero, TYPE_PATH);
        EXPECT_EQ(type_of(p), TYPE_PATH);
        EXPECT_EQ(series::length_from_head(p), 0u);
        Cell words = block_of({int_(1), str("a")});
        EXPECT_EQ(mold(*path::to(&pproto, &words, TYPE_SET_PATH)), "1/\"a\":");
    });
    Cell p = block_of({int_(1), str("a")}, TYPE_PATH);
    EXPECT_EQ(mold(p), "1/\"a\"");
    EXPECT_EQ(form(p), "1/a");
    EXPECT_EQ(form(at(p, 1)), "a");
    EXPECT_EQ(mold(block_of({int_(1), str("a")}, TYPE_LIT_PATH)), "'1/\"a\"");
    EXPECT_EQ(mold(block_of({int_(1), str("a")}, TYPE_GET_PATH)), ":1/\"a\"");
    EXPECT_EQ(get_handler(TYPE_PATH, A_TRIM), nullptr);
    EXPECT_NE(get_handler(TYPE_PAREN, A_TRIM), nullptr);

    auto eval = handler<act::EvalPath>(TYPE_BLOCK, A_EVAL_PATH);
    Cell b = block_of({str("k"), int_(1), int_(7)});
    Cell key = str("k"), two = int_(2), v = int_(9);
    EXPECT_EQ(eval(&b, &key, nullptr, nullptr, false)->data2, 1u);
    EXPECT_EQ(eval(&b, &two, nullptr, nullptr, false)->data2, 1u);
    eval(&b, &key, &v, nullptr, false);
    EXPECT_EQ(mold(b), "[\"k\" 9 7]");
    Cell missing = str("zz");
    EXPECT_RAISES(eval(&b, &missing, &v, nullptr, false), err::script_bad_path_set);
}

// With a collection (and every buffer moved) at each allocation, the actions
// must reach their series only through nodes.
TEST_F(RuntimeTest, BlockAndStringActionsUnderCollections) {
    collector::Rooted<4> r;
    blk::make_at(&r[0], 1);
    collector::active = true;
    collector::stress_every = 1;
    collector::evacuate = true;
    struct Off {
        ~Off() {
            collector::active = false;
            collector::stress_every = 0;
        }
    } off;
    for (int i = 0; i < 40; i++) {
        Cell* s = string::push(1);
        for (uint32_t c : {uint32_t('a' + i % 26), 0xE9u, 0x263Au, 0x1F600u}) {
            SeriesBuffer* b = node_buffer(s->data2);
            string::append_char(b, c);
        }
        with_args({r[0], *s}, [&](Cell* a) { block::append(a, a + 1, -1, false, 2); });
        Cell n = int_(i);
        with_args({r[0], n}, [&](Cell* a) { block::insert(a, a + 1, -1, false, 1); });
        stack::top = s;
    }
    ASSERT_EQ(series::length_from_head(&r[0]), 120u);
    string::make_at(&r[1], 1);
    block::mold(&r[0], &r[1], false, false, false, NO_LIMIT, 0);
    std::string molded = text(r[1]);
    EXPECT_EQ(molded.substr(0, 40), "[39 38 37 36 35 34 33 32 31 30 29 28 27 ");
    EXPECT_NE(molded.find("\"a\xC3\xA9\xE2\x98\xBA\xF0\x9F\x98\x80\" \"a"), std::string::npos);
    with_args({}, [&](Cell*) { block::copy(&r[0], &r[2], nullptr, true, nullptr); });
    EXPECT_EQ(cmp(r[0], r[2], COMP_STRICT_EQUAL), 0);
    with_args({r[2]}, [&](Cell* a) {
        Cell part = int_(50);
        r[3] = *block::take(a, &part, true, true);
    });
    EXPECT_EQ(series::length_from_head(&r[3]), 50u);
    EXPECT_EQ(series::length_from_head(&r[2]), 70u);
    Cell proto = dt(TYPE_STRING);
    with_args({}, [&](Cell*) { r[1] = *handler<act::Make>(TYPE_STRING, A_TO)(&proto, &r[3], TYPE_STRING); });
    EXPECT_EQ(text(r[1]).substr(0, 10), "p\xC3\xA9\xE2\x98\xBA\xF0\x9F\x98\x80");
    EXPECT_GT(collector::cycles, 100u);
}

TEST_F(RuntimeTest, BlockSortAndSetOperations) {
    auto sort = [](Cell b, Cell* skip = nullptr, Cell* compare = nullptr, Cell* part = nullptr, bool case_ = false,
                   bool all = false, bool reverse = false, bool stable = true) {
        with_args({b}, [&](Cell* a) { block::sort(a, case_, skip, compare, part, all, reverse, stable); });
        return mold(at(b, 0));
    };
    EXPECT_EQ(sort(block_of({int_(3), int_(1), int_(2)})), "[1 2 3]");
    EXPECT_EQ(sort(block_of({str("b"), str("B"), str("a")})), "[\"a\" \"b\" \"B\"]");  // stable among equals
    EXPECT_EQ(sort(block_of({str("b"), str("B"), str("a")}), nullptr, nullptr, nullptr, true), "[\"B\" \"a\" \"b\"]");
    EXPECT_EQ(sort(block_of({int_(1), str("x"), none_(), block_of({}), block_of({int_(1)})})), "[none [] [1] \"x\" 1]");
    EXPECT_EQ(sort(block_of({int_(3), int_(1), int_(2)}), nullptr, nullptr, nullptr, false, false, true), "[3 2 1]");
    Cell two = int_(2), one = int_(1), zero = int_(0);
    Cell records = block_of({int_(2), str("b"), int_(1), str("z"), int_(3), str("a")});
    EXPECT_EQ(sort(records, &two), "[1 \"z\" 2 \"b\" 3 \"a\"]");
    EXPECT_EQ(sort(records, &two, &two), "[3 \"a\" 2 \"b\" 1 \"z\"]");  // by the second field
    EXPECT_RAISES(sort(records, &two, &zero), err::script_out_of_range);
    Cell four = int_(4);
    EXPECT_RAISES(sort(records, &four, nullptr), err::script_invalid_refine_arg);
    EXPECT_RAISES(sort(records, nullptr, &one), err::script_bad_refines);
    EXPECT_EQ(sort(at(block_of({int_(9), int_(3), int_(1), int_(0)}), 1), nullptr, nullptr, &two), "[9 1 3 0]");

    auto set_op = [](int op, Cell a, Cell b, bool case_ = false, Cell* skip = nullptr) {
        std::string out;
        with_args({}, [&](Cell*) { out = mold(*block::set_operation(op, &a, &b, case_, skip)); });
        return out;
    };
    Cell x = block_of({int_(1), str("a"), int_(1), block_of({int_(5)}), str("A")});
    Cell y = block_of({int_(2), str("a"), block_of({int_(5)})});
    EXPECT_EQ(set_op(series::SET_UNIQUE, x, x), "[1 \"a\" [5]]");
    EXPECT_EQ(set_op(series::SET_UNIQUE, x, x, true), "[1 \"a\" [5] \"A\"]");
    EXPECT_EQ(set_op(series::SET_UNION, x, y), "[1 \"a\" [5] 2]");
    EXPECT_EQ(set_op(series::SET_INTERSECT, x, y), "[\"a\" [5]]");
    EXPECT_EQ(set_op(series::SET_EXCLUDE, x, y), "[1]");
    EXPECT_EQ(set_op(series::SET_DIFFERENCE, x, y), "[1 2]");
    Cell pairs = block_of({int_(1), str("p"), int_(2), str("q"), int_(1), str("r")});
    EXPECT_EQ(set_op(series::SET_UNIQUE, pairs, pairs, false, &two), "[1 \"p\" 2 \"q\"]");
    EXPECT_RAISES(set_op(series::SET_UNIQUE, pairs, pairs, false, &zero), err::script_invalid_refine_arg);
    EXPECT_EQ(set_op(series::SET_UNION, block_of({}, TYPE_PAREN), block_of({int_(1)})), "(1)");
}
