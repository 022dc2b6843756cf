// The interpreter: expressions, infix operators, calls with refinements,
// paths, non-local exits and the errors of argument gathering.
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/runtime_words.h"
#include "evaluator/call.h"
#include "evaluator/natives.h"
#include "interp_fixture.h"

#include <cmath>

using namespace vyx;

namespace {

struct ValueCase {
    const char* source;
    const char* molded;
};

}  // namespace

TEST_F(InterpTest, ExpressionsEvaluateLeftToRight) {
    const ValueCase cases[] = {
        {"1 + 2", "3"},
        {"1 + 2 * 3", "9"},
        {"2 * 3 + 1", "7"},
        {"f: func [a] [a] f 1 + 2", "3"},
        {"a: b: 4 a + b", "8"},
        {"(1 + 1) * 3", "6"},
        {"'abc", "abc"},
        {"f: func [a] [a] type? :f", "function!"},
        {"x: 5 :x", "5"},
        {"if 1 > 2 [3]", "none"},
        {"either 1 < 2 [3] [4]", "3"},
        {"any [none false 3 4]", "3"},
        {"all [1 2]", "2"},
        {"f: func [n] [if n > 0 [f n - 1] n] f 3", "3"},
        {"f: func [a /twice b] [either twice [a + b] [a]] f/twice 1 10", "11"},
        {"f: func [a /twice b] [either twice [a + b] [a]] f 1", "1"},
        {"f: func [a /twice b] [b] f 1", "none"},
        {"f: func [/local x] [x] f", "none"},
        {"f: func ['a [unset! integer!]] [type? :a] f", "unset!"},
        {"f: func ['a :b] [type? :b] f x y", "word!"},
        {"f: func [a] [a] f (1 + 1)", "2"},
        {"f: func ['a] [a] f (1 + 1)", "2"},
    };
    for (const ValueCase& c : cases) EXPECT_EQ(result_of(c.source), c.molded) << c.source;
}

TEST_F(InterpTest, EmptyBlockIsUnset) {
    Cell r = eval("");
    EXPECT_EQ(type_of(&r), TYPE_UNSET);
}

TEST_F(InterpTest, ArgumentErrors) {
    struct ErrorCase {
        const char* source;
        err::Id id;
        const char* message;
    };
    const ErrorCase cases[] = {
        {"do [a:]", err::script_need_value, "a: needs a value"},
        {"a: ()", err::script_need_value, "a: needs a value"},
        {"+ 1", err::script_no_op_arg, "+ operator is missing an argument"},
        {"f: func [a b] [a] f 1", err::script_no_arg, "f is missing its b argument"},
        {"append/only/only [] 1", err::script_dup_refine, "duplicate refinement usage in: append/only/only"},
        {"f: func [a /b] [a] f/b/b 1", err::script_dup_refine, "duplicate refinement usage in: f/b/b"},
        {"f: func [a] [a] f/nope 1", err::script_no_refine, "f has no refinement called nope"},
        {"nothing-here", err::script_no_value, "nothing-here has no value"},
        {"f: func [a [integer!]] [a] f \"x\"", err::script_expect_arg,
         "f does not allow string! for its a argument"},
        {"q/1", err::script_unset_path, "q is unset in path q/1"},
        {"f: func [a] [a] f/1 2", err::script_bad_refine, "invalid refinement value: 1"},
    };
    for (const ErrorCase& c : cases) {
        VyxError e = error_of(c.source);
        EXPECT_TRUE(same_id(e, c.id)) << c.source;
        EXPECT_EQ(message(e), c.message) << c.source;
    }
}

TEST_F(InterpTest, SetPathChangesTheBlock) {
    EXPECT_EQ(mold(eval("b: [1 2 3] b/2: 5 b")), "[1 5 3]");
    EXPECT_EQ(mold(eval("b: [1 [2 3]] b/2/1")), "2");
    EXPECT_EQ(mold(eval("b: [1 2 3] i: 3 b/:i")), "3");
    EXPECT_EQ(mold(eval("b: [1 2 3] b/(1 + 1)")), "2");
}

TEST_F(InterpTest, NativeReceivesRefinementsInPathOrder) {
    // append/dup/only: /dup's count comes first in the argument cells, and
    // the entry still reads each refinement by its own index.
    EXPECT_EQ(mold(eval("append/dup/only [] [1] 2")), "[[1] [1]]");
    EXPECT_EQ(mold(eval("append/only/dup [] [1] 2")), "[[1] [1]]");
}

TEST_F(InterpTest, GetWordRefinementHoldingFalseStillEvaluatesItsArguments) {
    Cell r = eval("n: 0 b: false f: func [a /b c] [c] f/:b 1 (n: n + 1 99) n");
    EXPECT_EQ(mold(r), "1");
    EXPECT_EQ(mold(eval("b: false f: func [a /b c] [c] f/:b 1 99")), "none");
    EXPECT_EQ(mold(eval("b: true f: func [a /b c] [c] f/:b 1 99")), "99");
}

TEST_F(InterpTest, NonLocalExits) {
    const ValueCase cases[] = {
        {"loop 3 [break/return 5]", "5"},
        {"type? loop 3 [break]", "unset!"},
        {"n: 0 i: 0 loop 5 [i: i + 1 if i > 2 [continue] n: n + 1] n", "2"},
        {"f: func [] [loop 5 [return 7] 8] f", "7"},
        {"f: func [] [exit 8] type? f", "unset!"},
        {"catch [throw 1 2]", "1"},
        {"catch/name [catch/name [throw/name 1 'b] 'a 2] 'b", "1"},
        {"catch [throw/name 1 'a]", "1"},
        {"catch/name [throw/name 2 'B] [a b]", "2"},
        {"catch/name [throw 1] 'a", "** no catch for throw: 1"},
        {"catch [catch/name [throw/name 2 'c] [a b] 3]", "2"},
        {"catch/name [throw 1] [a 1]", "** invalid name argument: [a 1]"},
        {"try [5]", "5"},
        {"loop 2 [try [break/return 4]]", "4"},
        {"f: func [] [try [return 6] 7] f", "6"},
        {"catch [f: func [] [throw 4] f 5]", "4"},
        {"type? try [1 / 0]", "error!"},
        {"try [loop 2 [break] 3]", "3"},
        {"i: 0 while [i < 3] [i: i + 1] i", "3"},
        {"type? while [true] [break/return 5]", "unset!"},
        {"until [true]", "true"},
        {"i: 0 forever [i: i + 1 if i = 4 [break/return i]]", "4"},
        // A break through a function call unwinds its frame and context.
        {"g: func [x] [loop 1 [break] x] g 6", "6"},
        {"f: func [n] [loop 1 [if n > 0 [f n - 1 break]] n] f 3", "3"},
        // A break that leaves an inner call of the same function.
        {"f: func [n] [either n = 0 [break] [loop 1 [f n - 1] n]] f 2", "2"},
        {"f: func [n] [either n = 0 [throw 0] [catch [f n - 1] n]] f 2", "2"},
    };
    for (const ValueCase& c : cases) EXPECT_EQ(result_of(c.source), c.molded) << c.source;
}

TEST_F(InterpTest, ExitsWithNoTarget) {
    struct ErrorCase {
        const char* source;
        err::Id id;
        const char* message;
    };
    const ErrorCase cases[] = {
        {"break", err::throw_break, "no loop to break"},
        {"continue", err::throw_continue, "no loop to continue"},
        {"return 1", err::throw_return, "return or exit not in function"},
        {"throw 1", err::throw_throw, "no catch for throw: 1"},
        {"loop 2 [try/all [break]]", err::throw_break, "no loop to break"},
    };
    for (const ErrorCase& c : cases) {
        VyxError e;
        if (std::string_view(c.source).starts_with("loop")) {
            // try/all turns the break into an error it returns.
            Cell r = eval(c.source);
            ASSERT_EQ(type_of(&r), TYPE_ERROR);
            e = helpers::error_of(&r);
        } else {
            e = error_of(c.source);
        }
        EXPECT_TRUE(same_id(e, c.id)) << c.source;
        EXPECT_EQ(message(e), c.message) << c.source;
    }
}

TEST_F(InterpTest, DeepRecursionIsACatchableStackOverflow) {
    VyxError e = error_of("f: func [n] [f n + 1] f 1");
    EXPECT_TRUE(same_id(e, err::internal_stack_overflow));
    EXPECT_EQ(message(e), "stack overflow");
    // And the system is still usable.
    EXPECT_EQ(mold(eval("1 + 2")), "3");
    EXPECT_EQ(mold(eval("type? try [f: func [n] [f n + 1] f 1]")), "error!");
    EXPECT_EQ(mold(eval("f: func [n] [either n = 0 [0] [1 + f n - 1]] f 100")), "100");
}

TEST_F(InterpTest, TwelveThousandNestedCallsOverflow) {
    EXPECT_EQ(mold(eval("f: func [n] [either n = 0 [0] [1 + f n - 1]] type? try [f 12000]")), "error!");
    EXPECT_EQ(mold(eval("f 10")), "10");
}

TEST_F(InterpTest, DoNextInSeries) {
    Cell b = test::load("1 + 2 3");
    stack::push(&b);
    Cell* slot = stack::push_slot();
    *slot = Cell{TYPE_UNSET, 0, 0, 0};
    stack::Frame* frames = stack::frame_top;
    stack::push_call_frame(&words::frame_body);
    stack::push(&b);
    uint32_t next = interp::do_next_in_series(&b);
    EXPECT_EQ(next, 3u);
    EXPECT_EQ(mold(*stack::arguments), "3");
    b.data1 = 4;
    EXPECT_EQ(interp::do_next_in_series(&b), 4u);
    EXPECT_EQ(type_of(stack::arguments), TYPE_UNSET);
    stack::pop_frame_discard();
    EXPECT_EQ(stack::frame_top, frames);
}

TEST_F(InterpTest, CallFunctionFillsUnusedRefinements) {
    eval("f: func [a /b c] [either b [c] [a]] g: func [a] [a * 2]");
    Cell w = test::load("f g");
    Cell f = *context::get(blk::at(w.data2, 0));
    Cell g = *context::get(blk::at(w.data2, 1));
    Cell args[3] = {{TYPE_INTEGER, 0, 4, 0}, {TYPE_LOGIC, 1, 0, 0}, {TYPE_INTEGER, 0, 9, 0}};
    Cell* top = stack::top;
    EXPECT_EQ(int_of(*call::call_function(&f, args, 1)), 4);
    stack::top = top;
    EXPECT_EQ(int_of(*call::call_function(&f, args, 3)), 9);
    stack::top = top;
    EXPECT_EQ(int_of(*call::call_function(&g, args, 1)), 8);
    EXPECT_EQ(stack::top, top + 1);
}

TEST_F(InterpTest, OuterCallReadsItsOwnArgumentsAfterInnerReturns) {
    EXPECT_EQ(mold(eval("f: func [n] [if n > 0 [f n - 1] n] f 3")), "3");
    EXPECT_EQ(mold(eval("f: func [n] [if n > 0 [return f n - 1] n] f 3")), "0");
    EXPECT_EQ(mold(eval("f: func [a b] [if a > 0 [f a - 1 b + 1] b] f 2 10")), "10");
}

TEST_F(InterpTest, NativeHelpers) {
    auto flt = [](double d) {
        Cell c{TYPE_FLOAT, 0, 0, 0};
        set_cell_float(&c, d);
        return c;
    };
    Cell big = flt(2147483647.5), low = flt(-2147483648.0), up = flt(3.9), down = flt(-3.9), nan = flt(NAN);
    EXPECT_TRUE(same_id([&] {
        try { helpers::check_float_to_integer(&big); } catch (const VyxError& e) { return e; }
        return VyxError{};
    }(), err::script_out_of_range));
    EXPECT_THROW(helpers::check_float_to_integer(&nan), VyxError);
    EXPECT_EQ(helpers::check_float_to_integer(&low), INT32_MIN);
    EXPECT_EQ(helpers::check_float_to_integer(&up), 3);
    EXPECT_EQ(helpers::check_float_to_integer(&down), -3);
    EXPECT_NEAR(helpers::degrees_to_radians(270, 1), -M_PI / 2, 1e-12);
    EXPECT_NEAR(helpers::degrees_to_radians(120, 0), -M_PI / 3, 1e-12);
    EXPECT_NEAR(helpers::degrees_to_radians(120, 2), M_PI / 3, 1e-12);

    // select_in_block on (key, block) arguments: pairs, or every cell.
    Cell args = test::load("b [a 1 b 2 b]");
    stack::push_call_frame(&words::frame_anon);
    Cell key = *blk::at(args.data2, 0);  // a word: nothing for the collector to move
    stack::push(&key);
    stack::push(blk::at(args.data2, 1));
    EXPECT_EQ(mold(*helpers::select_in_block(false, false)), "2");
    *stack::arguments = key;
    EXPECT_EQ(mold(*helpers::select_in_block(true, false)), "2");
    stack::pop_frame_discard();
}

TEST_F(InterpTest, SourceText) {
    EXPECT_EQ(result_of("do \"1 + 2\""), "3");
    Cell out{TYPE_UNSET, 0, 0, 0};
    Cell text = eval("\"7 8\"");
    stack::push(&text);
    EXPECT_EQ(mold(*helpers::load_value_from_string_into(&text, &out)), "7");
    Cell empty = eval("\"\"");
    const Cell* r = helpers::load_value_from_string_into(&empty, &out);
    EXPECT_EQ(type_of(r), TYPE_UNSET);
    Cell bad = eval("\"1 [\"");
    EXPECT_EQ(helpers::load_value_from_string_into(&bad, &out), &helpers::FAILURE_CELL);
}
