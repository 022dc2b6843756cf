// function!, routine!, native!, action! and op! values.
#include "datatypes/function.h"
#include "datatypes/context.h"
#include "evaluator/helpers.h"
#include "runtime/stack.h"
#include "interp_fixture.h"

using namespace vyx;

TEST_F(InterpTest, FormAndMoldOfCallables) {
    const struct {
        const char* source;
        const char* formed;
    } cases[] = {
        {":add", "?action?"},
        {":if", "?native?"},
        {":+", "?op?"},
        {"func [] []", "?function?"},
    };
    for (const auto& c : cases) EXPECT_EQ(form(eval(c.source)), c.formed) << c.source;
    EXPECT_EQ(mold(eval("func [a] [a + 1]")).substr(0, 5), "func ");
    EXPECT_EQ(mold(eval(":add")).substr(0, 14), "make action! [");
}

TEST_F(InterpTest, SpecChecks) {
    const struct {
        const char* spec;
        err::Id id;  // category 0xFF: accepted
    } cases[] = {
        {"[a [integer!] \"doc\"]", {0xFF, 0}},
        {"[a \"doc\" [integer!]]", err::script_bad_func_def},
        {"[a return: [integer!] b]", err::script_bad_func_def},
        {"[a b return: [integer!] /local c d]", {0xFF, 0}},
        {"[/local :x]", err::script_bad_func_def},
        {"[a /b a]", err::script_dup_vars},
        {"[/b /b]", err::script_dup_vars},
        {"[a: b]", err::script_bad_func_def},
        {"[[trace catch] a]", {0xFF, 0}},
        {"[[1] a]", err::script_bad_func_def},
        {"[a 3]", err::script_bad_func_def},
        {"[a /local b return: [integer!]]", err::script_bad_func_def},
        {"[/ref 3]", err::script_bad_func_def},
    };
    for (const auto& c : cases) {
        std::string source = std::string("func ") + c.spec + " []";
        if (c.id.category == 0xFF) {
            Cell f = eval(source);
            EXPECT_EQ(type_of(&f), TYPE_FUNCTION) << c.spec;
        } else {
            EXPECT_TRUE(same_id(error_of(source), c.id)) << c.spec;
        }
    }
    EXPECT_EQ(message(error_of("func [a /b a] []")), "duplicate variable specified: a");
    EXPECT_EQ(message(error_of("func [a 3] []")).substr(0, 28), "invalid function definition:");
}

TEST_F(InterpTest, FunctionValues) {
    // The body is copied deep: changing the given block later changes nothing.
    EXPECT_EQ(mold(eval("b: [1 + 1] f: func [] b append b 5 f")), "2");
    // Attribute flags.
    Cell f = eval("func [[trace] a] [a]");
    EXPECT_TRUE(f.header & function::FLAG_TRACE);
    // make function! from [spec body].
    EXPECT_EQ(mold(eval("f: make function! [[a] [a * 3]] f 2")), "6");
    EXPECT_TRUE(same_id(error_of("make function! [[a]]"), err::script_bad_func_def));
    // Locals counted from /local.
    Cell spec = test::load("a /b c /local d e");
    EXPECT_EQ(function::count_locals(&spec, 0, false), 3);
    Cell none_spec = test::load("a b");
    EXPECT_EQ(function::count_locals(&none_spec, 0, false), 0);
    EXPECT_EQ(function::count_locals(&none_spec, 0, true), -1);
    // function gathers set-words and loop words as locals.
    EXPECT_EQ(mold(eval("x: 1 f: function [] [x: 2 x] f x")), "1");
}

TEST_F(InterpTest, NativeActionAndOpValues) {
    EXPECT_TRUE(same_id(error_of("make native! [[a] 121]"), err::script_bad_make_arg));
    EXPECT_TRUE(same_id(error_of("make action! [[a] 63]"), err::script_bad_make_arg));
    EXPECT_TRUE(same_id(error_of("make native! [[a] 1 2]"), err::script_bad_make_arg));
    EXPECT_TRUE(same_id(error_of("make native! [[a] x]"), err::script_bad_make_arg));
    EXPECT_EQ(mold(eval("n: make native! [[cond then-blk] 1] n true [5]")), "5");
    // Ops from functions: two plain arguments, no lit-word on the left.
    EXPECT_TRUE(same_id(error_of("make op! func ['a b] [a]"), err::script_bad_op_spec));
    EXPECT_TRUE(same_id(error_of("make op! func [a] [a]"), err::script_bad_op_spec));
    EXPECT_TRUE(same_id(error_of("make op! 3"), err::script_invalid_type));
    EXPECT_EQ(mold(eval("plus: make op! func [\"doc\" a b /local c] [c: a + b c] 2 plus 3 plus 4")), "9");
    EXPECT_EQ(mold(eval("(make op! :add) = make op! :add")), "true");
}

TEST_F(InterpTest, Reflection) {
    EXPECT_EQ(mold(eval("f: func [a /b] [a + 1] reflect :f 'spec")), "[a /b]");
    EXPECT_EQ(mold(eval("reflect :f 'body")), "[a + 1]");
    EXPECT_EQ(mold(eval("reflect :f 'words")), "[a b]");
    EXPECT_EQ(mold(eval("reflect :if 'body")), "1");
    EXPECT_TRUE(same_id(error_of("reflect :f 'nope"), err::internal_not_done));
    // The words are bound to the function's context: with no call running
    // they have no value to give.
    EXPECT_TRUE(same_id(error_of("do reflect :f 'words"), err::script_not_in_context));
}

TEST_F(InterpTest, RoutinesRunNativeCode) {
    // A library routine: C++ reading its arguments on the stack.
    uint32_t code = routine::register_code([] {
        Cell* a = stack::arguments;
        *a = Cell{TYPE_INTEGER, 0, uint32_t(int32_t(a[0].data2) * 10 + int32_t(a[1].data2)), 0};
    });
    Cell spec = test::load("a [integer!] b [integer!] /c d");
    Cell* r = routine::push_new(&spec, nullptr, code, false);
    EXPECT_EQ(routine::arg_count(r), 3);
    Cell w = word::load("r");
    context::set(&w, r);
    stack::top--;
    EXPECT_EQ(mold(eval("r 4 2")), "42");
    EXPECT_EQ(form(eval(":r")), "?routine?");
    EXPECT_TRUE(same_id(error_of("r 4 \"x\""), err::script_expect_arg));
}
