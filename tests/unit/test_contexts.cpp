// Contexts: adding and finding words, values, function contexts whose values
// are a running call's arguments, and deep binding.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/simple.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/cycle_stack.h"
#include "runtime/raise.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {

// Blocks and contexts made here are kept in the root block, out of the
// collector's reach (stress builds collect at every allocation).
struct ContextTest : RuntimeTest {
    static Cell new_block(uint32_t n = 8) {
        Cell block{TYPE_BLOCK, 0, new_cell_series(n), 0};
        context::keep_in_root(&block);
        return block;
    }
    static Node kept(Node ctx) {
        Cell holder{TYPE_OBJECT, ctx, 0, 0};
        context::keep_in_root(&holder);
        return ctx;
    }
    static Node new_context(uint32_t n, bool self = false) {
        return kept(context::create(n, false, self, 0, context::KIND_OBJECT));
    }

    // A word of the name, unbound (global context, index -1), as the lexer makes them.
    static void add_word(Cell* block, const char* name, int type) {
        Cell w = word::make_cell(type, context::global, symbol::make(name), -1);
        *append_cell(block) = w;
    }
    static Cell integer(int32_t v) { return Cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }

    static err::Id raised(void (*fn)()) {
        try {
            fn();
        } catch (const VyxError& e) {
            return e.id;
        }
        return err::Id{0, 0};
    }
};

bool same_id(err::Id a, err::Id b) { return a.category == b.category && a.entry == b.entry; }

}  // namespace

TEST_F(ContextTest, GlobalWordsGetAndSet) {
    Cell w;
    word::make_at(symbol::make("answer"), &w);
    EXPECT_EQ(word::ctx_of(&w), context::global);
    EXPECT_GE(word::index_of(&w), 0);
    EXPECT_EQ(type_of(context::get(&w)), TYPE_UNSET);
    Cell v = integer(42);
    context::set(&w, &v);
    EXPECT_EQ(context::get(&w)->data2, 42u);
    // Another spelling of the name reaches the same value.
    Cell W;
    word::make_at(symbol::make("ANSWER"), &W);
    EXPECT_EQ(word::index_of(&W), word::index_of(&w));
    EXPECT_EQ(word::symbol_of(&W), symbol::make("ANSWER")) << "the word keeps its spelling";
    EXPECT_EQ(word::get(&W)->data2, 42u);
}

TEST_F(ContextTest, ReadingErrors) {
    // An unset value read through word::get: no-value.
    EXPECT_TRUE(same_id(raised([] {
        Cell w;
        word::make_at(symbol::make("nothing-here"), &w);
        word::get(&w);
    }), err::script_no_value));
    // A word never looked up (index -1): no-value; `self` there is the owner.
    EXPECT_TRUE(same_id(raised([] {
        Cell w = word::make_cell(TYPE_WORD, context::global, symbol::make("loose"), -1);
        context::get(&w);
    }), err::script_no_value));
    Node ctx = new_context(2, true);
    *context::owner_of(ctx) = Cell{TYPE_OBJECT, ctx, 1000001, 0};
    Cell self = word::make_cell(TYPE_WORD, ctx, sym::self, -1);
    EXPECT_EQ(type_of(context::get(&self)), TYPE_OBJECT);
    // Setting a set-word to unset!: need-value.
    EXPECT_TRUE(same_id(raised([] {
        Cell* base = stack::top;
        stack::arguments = base;
        word::push_new(symbol::make("x"), TYPE_SET_WORD);
        stack::push(&UNSET_CELL);
        context::set_word_assign();
    }), err::script_need_value));
}

TEST_F(ContextTest, FunctionContextValuesAreTheRunningCallsArguments) {
    Cell spec = new_block();
    add_word(&spec, "a", TYPE_WORD);
    add_word(&spec, "b", TYPE_WORD);
    Node fn = kept(context::make_from_block(&spec, true, false, context::KIND_FUNCTION));
    Cell a = word::from_symbol_in(fn, symbol::make("a"));
    Cell b = word::from_symbol_in(fn, symbol::make("b"));
    ASSERT_EQ(word::ctx_of(&b), fn);

    // Not running: reading and setting are not-in-context, and
    // get_value_ptr has nothing to give (never a same-named global).
    static Cell sa, sb;
    sa = a;
    sb = b;
    EXPECT_TRUE(same_id(raised([] { context::get(&sb); }), err::script_not_in_context));
    EXPECT_TRUE(same_id(raised([] {
        Cell v{TYPE_INTEGER, 0, 1, 0};
        context::set(&sb, &v);
    }), err::script_not_in_context));
    Cell global_b;
    word::make_at(symbol::make("b"), &global_b);
    Cell seven = integer(7);
    context::set(&global_b, &seven);
    EXPECT_EQ(context::get_value_ptr(symbol::make("b"), fn), nullptr);

    // Running: the arguments on the stack are the values.
    Cell* first = stack::push(&UNSET_CELL);
    Cell one = integer(1), two = integer(2);
    *first = one;
    stack::push(&two);
    context::set_stack_base(fn, first);
    EXPECT_EQ(context::get(&b)->data2, 2u);
    EXPECT_EQ(context::get_value_ptr(symbol::make("B"), fn)->data2, 2u) << "the argument, not the global b";
    Cell three = integer(3);
    context::set(&a, &three);
    EXPECT_EQ(first->data2, 3u);
    context::clear_stack_base(fn);
    EXPECT_TRUE(same_id(raised([] { context::get(&sa); }), err::script_not_in_context));
}

TEST_F(ContextTest, MakeFromBlockSharesDuplicateSlots) {
    Cell spec = new_block();
    add_word(&spec, "a", TYPE_WORD);
    add_word(&spec, "b", TYPE_WORD);
    add_word(&spec, "a", TYPE_WORD);
    add_word(&spec, "A", TYPE_WORD);
    add_word(&spec, "c", TYPE_SET_WORD);  // set-words are not taken
    Node ctx = kept(context::make_from_block(&spec, false, false, context::KIND_OBJECT));
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_EQ(context::find_word(ctx, symbol::make("c"), true), -1);
    EXPECT_EQ(context::find_word(ctx, symbol::make("A"), true), 0);
    EXPECT_EQ(context::find_word(ctx, symbol::make("A"), false), -1) << "exact compare tells spellings apart";

    // bind-walk adds the set-words.
    EXPECT_TRUE(context::bind_walk(ctx, &spec));
    EXPECT_EQ(context::word_count(ctx), 3u);
    EXPECT_FALSE(context::bind_walk(ctx, &spec));
}

TEST_F(ContextTest, DeepBindTouchesEveryWordKindButIssues) {
    Node ctx = new_context(8);
    for (const char* n : {"w", "n", "p", "q", "lw", "gw", "r", "i"}) context::add(ctx, symbol::make(n));

    Cell top = new_block();
    add_word(&top, "w", TYPE_WORD);
    Cell nested = new_block();
    add_word(&nested, "n", TYPE_WORD);
    *append_cell(&top) = nested;
    Cell paren = new_block();
    paren.header = TYPE_PAREN;
    add_word(&paren, "p", TYPE_WORD);
    *append_cell(&top) = paren;
    Cell path = new_block();
    path.header = TYPE_PATH;
    add_word(&path, "q", TYPE_WORD);
    *append_cell(&top) = path;
    add_word(&top, "lw", TYPE_LIT_WORD);
    add_word(&top, "gw", TYPE_GET_WORD);
    add_word(&top, "r", TYPE_REFINEMENT);
    add_word(&top, "i", TYPE_ISSUE);
    add_word(&top, "elsewhere", TYPE_WORD);
    *append_cell(&top) = top;  // the block holds itself

    context::bind(&top, ctx, false);
    EXPECT_EQ(cycle_depth(), 0u);
    for (uint32_t i : {0u, 4u, 5u, 6u}) EXPECT_EQ(word::ctx_of(blk::at(top.data2, i)), ctx) << i;
    EXPECT_EQ(word::ctx_of(blk::at(nested.data2, 0)), ctx);
    EXPECT_EQ(word::ctx_of(blk::at(paren.data2, 0)), ctx);
    EXPECT_EQ(word::ctx_of(blk::at(path.data2, 0)), ctx);
    EXPECT_EQ(word::index_of(blk::at(top.data2, 0)), 0);
    EXPECT_EQ(word::ctx_of(blk::at(top.data2, 7)), context::global) << "issues are left alone";
    EXPECT_EQ(word::index_of(blk::at(top.data2, 7)), -1);
    EXPECT_EQ(word::ctx_of(blk::at(top.data2, 8)), context::global) << "unknown words keep their binding";

    // With self? a `self` word stands for the owner.
    Cell body = new_block();
    add_word(&body, "self", TYPE_WORD);
    context::bind(&body, ctx, true);
    EXPECT_EQ(word::ctx_of(blk::at(body.data2, 0)), ctx);
    EXPECT_EQ(word::index_of(blk::at(body.data2, 0)), -1);
}

TEST_F(ContextTest, ObjectFieldsAreMarkedWhenSet) {
    Node ctx = new_context(2);
    int32_t pos = context::add(ctx, symbol::make("field"));
    Cell w = *context::key_word(ctx, uint32_t(pos));
    EXPECT_EQ(context::key_word(ctx, uint32_t(pos))->header & context::WORD_SET_MARK, 0u);
    Cell v = integer(5);
    context::set(&w, &v);
    EXPECT_NE(context::key_word(ctx, uint32_t(pos))->header & context::WORD_SET_MARK, 0u);

    // Setting a word the context does not hold yet adds it.
    Cell fresh = word::make_cell(TYPE_WORD, ctx, symbol::make("later"), -1);
    context::set(&fresh, &v);
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_EQ(context::get(&fresh)->data2, 5u);
}

TEST_F(ContextTest, CloneRepointsKeys) {
    Node ctx = new_context(2);
    context::add(ctx, symbol::make("x"));
    context::add(ctx, symbol::make("y"));
    Cell holder{TYPE_OBJECT, ctx, 0, 0};
    Node copy = kept(context::clone(&holder, context::KIND_OBJECT));
    EXPECT_NE(copy, ctx);
    EXPECT_EQ(holder.data1, copy);
    EXPECT_EQ(context::word_count(copy), 2u);
    EXPECT_EQ(word::ctx_of(context::key_word(copy, 1)), copy);
    EXPECT_EQ(word::ctx_of(context::key_word(ctx, 1)), ctx);
    context::add(copy, symbol::make("z"));
    EXPECT_EQ(context::word_count(ctx), 2u) << "the copy has its own index";
    EXPECT_EQ(context::find_word(copy, symbol::make("y"), true), 1);
}

TEST_F(ContextTest, RuntimeWordsAreBoundAndKept) {
    EXPECT_EQ(symbol::name(word::symbol_of(&words::append)), "append");
    EXPECT_EQ(word::ctx_of(&words::frame_body), context::global);
    EXPECT_EQ(symbol::name(word::symbol_of(&words::frame_body)), "<body>");
    EXPECT_EQ(sym::changed, word::symbol_of(&words::changed));
    EXPECT_EQ(type_of(&refinements::part), TYPE_REFINEMENT);
    EXPECT_EQ(word::ctx_of(&refinements::part), 0u);
    EXPECT_EQ(context::find_word(context::global, symbol::make("integer!"), false) >= 0, true);
    EXPECT_EQ(symbol::name(int32_t(type_names[TYPE_BLOCK].word)), "block!");
    // Interned words share the global slot of their canonical spelling.
    Cell w;
    word::make_at(sym::windows, &w);
    EXPECT_EQ(word::index_of(&w), gword::windows);
}

TEST_F(ContextTest, BindingTooDeepRaisesAndLeavesAnEmptyCycleStack) {
    Node ctx = new_context(1);
    Cell outer = new_block();
    Cell inner = outer;
    for (int i = 0; i < 1000; i++) {
        Cell next = new_block(1);
        *append_cell(&inner) = next;
        inner = next;
    }
    static Cell deep;
    static Node target;
    deep = outer;
    target = ctx;
    EXPECT_TRUE(same_id(raised([] { context::bind(&deep, target, false); }), err::internal_too_deep));
    EXPECT_EQ(cycle_depth(), 0u);
}

// Where a context's values are is remembered by context (see value_at); the
// values may move under it: grown, moved by a collection, or, for a call's
// context, pointed at another call's cells.
TEST_F(ContextTest, ValueAtFollowsTheValuesWhereverTheyAre) {
    auto values_head = [](Node ctx) { return node_buffer(context::cell_of(ctx)->data2)->cell_head(); };
    Node ctx = kept(context::create(2, false, false, 0, context::KIND_GLOBAL));
    int32_t first = context::add(ctx, symbol::make("first"));
    *context::value_at(ctx, first) = integer(11);
    ASSERT_EQ(context::value_at(ctx, first), values_head(ctx) + first);
    // Grown far past its room: the values move to a new buffer.
    for (int i = 0; i < 200; i++) context::add(ctx, symbol::make(("grown-" + std::to_string(i)).c_str()));
    EXPECT_EQ(context::value_at(ctx, first), values_head(ctx) + first);
    EXPECT_EQ(context::value_at(ctx, first)->data2, 11u);
    collector::collect_garbage();
    EXPECT_EQ(context::value_at(ctx, first), values_head(ctx) + first);
    EXPECT_EQ(context::value_at(ctx, first)->data2, 11u);
    Cell w = word::make_cell(TYPE_WORD, ctx, symbol::make("first"), first);
    EXPECT_EQ(context::poke_slot(&w), values_head(ctx) + first);

    // An object's values are known too, but its fields are never poked.
    Node obj = new_context(2);
    int32_t field = context::add(obj, symbol::make("field"));
    EXPECT_EQ(context::value_at(obj, field), values_head(obj) + field);
    Cell f = word::make_cell(TYPE_WORD, obj, symbol::make("field"), field);
    EXPECT_EQ(context::poke_slot(&f), nullptr);

    // A call's context: its values are whichever call's cells run it.
    Cell spec = new_block();
    add_word(&spec, "a", TYPE_WORD);
    Node fn = kept(context::make_from_block(&spec, true, false, context::KIND_FUNCTION));
    EXPECT_EQ(context::value_at(fn, 0), nullptr) << "not running";
    Cell* outer = stack::push(&UNSET_CELL);
    context::set_stack_base(fn, outer);
    EXPECT_EQ(context::value_at(fn, 0), outer);
    Cell* inner = stack::push(&UNSET_CELL);
    context::set_stack_base(fn, inner);
    EXPECT_EQ(context::value_at(fn, 0), inner);
    context::clear_stack_base(fn);
    EXPECT_EQ(context::value_at(fn, 0), nullptr);
}
