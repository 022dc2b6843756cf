// error! values: making them from the catalog, raising and catching them,
// and the report.
#include "datatypes/error.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "evaluator/protect.h"
#include "interp_fixture.h"
#include "runtime/collector.h"

using namespace vyx;

namespace {

struct ErrorTest : InterpTest {
    // The report of the error! the text evaluates to.
    std::string report_of(std::string_view text) {
        Cell e = eval(text);
        if (type_of(&e) != TYPE_ERROR) return "not an error: " + mold(e);
        return error::report(&e);
    }
};

}  // namespace

TEST_F(ErrorTest, MakeFromACode) {
    struct Case {
        int code;
        err::Id id;
    };
    const Case cases[] = {
        {331, err::script_invalid_path}, {0, err::throw_break},   {300, err::script_no_value},
        {402, err::math_positive},       {800, err::user_message}, {913, err::internal_deprecated},
    };
    for (const Case& c : cases) {
        Cell e = eval("make error! " + std::to_string(c.code));
        ASSERT_EQ(type_of(&e), TYPE_ERROR) << c.code;
        err::Id id = error::id_of(&e);
        EXPECT_TRUE(id.category == c.id.category && id.entry == c.id.entry) << c.code;
        EXPECT_EQ(int_of(*error::field(&e, error::F_CODE)), c.code);
    }
    EXPECT_EQ(mold(eval("e: make error! 331 e/type")), "script");
    EXPECT_EQ(mold(eval("e/id")), "invalid-path");
    // Past the last entry of a category, an empty category, a negative
    // code and a category beyond the catalog are all out of range.
    for (const char* bad : {"make error! 394", "make error! 399", "make error! -1", "make error! 1000",
                            "make error! 600"}) {
        VyxError e = error_of(bad);
        EXPECT_TRUE(same_id(e, err::script_out_of_range)) << bad;
    }
}

TEST_F(ErrorTest, MakeFromABlockOrAString) {
    EXPECT_EQ(mold(eval("e: make error! [script no-value] e/code")), "300");
    EXPECT_EQ(mold(eval("e: make error! [type: 'math id: 'zero-divide] e/code")), "400");
    EXPECT_EQ(result_of("make error! [nope no-value]"), "** invalid type field in spec block");
    EXPECT_EQ(result_of("make error! [script nope]"), "** invalid id field in spec block");
    EXPECT_EQ(result_of("make error! [script]"), "** invalid id field in spec block");
    EXPECT_EQ(result_of("make error! [script 3]"), "** invalid argument: 3");
    EXPECT_EQ(result_of("make error! [type: 'math id: 'nope]"), "** invalid id field in spec block");
    EXPECT_TRUE(same_id(error_of("make error! [3]"), err::internal_invalid_error));
    EXPECT_EQ(result_of("make error! 'w"), "** cannot MAKE error! from: w");

    collector::Rooted<1> e;
    e[0] = eval("make error! \"boom\"");
    EXPECT_EQ(int_of(*error::field(e.get(), error::F_CODE)), 800);
    EXPECT_EQ(mold(*error::field(e.get(), error::F_ID)), "message");
    // near is the code that made it.
    EXPECT_EQ(error::report(e.get()), "*** User Error: boom\n*** Where: ???\n*** Near : make error! \"boom\"");
}

TEST_F(ErrorTest, ReportOfAnErrorInAFunction) {
    EXPECT_EQ(report_of("f: func [] [x] try [f]"),
              "*** Script Error: x has no value\n*** Where: f\n*** Near : x");
    // Outside any function there is no name to give.
    EXPECT_EQ(error::report(error_of("nothing-here")),
              "*** Script Error: nothing-here has no value\n*** Where: ???\n*** Near : nothing-here");
    // A failing native names itself.
    EXPECT_EQ(report_of("try [1 / 0]").substr(0, 54), "*** Math Error: attempt to divide by zero\n*** Where: /");
}

TEST_F(ErrorTest, NearIsMoldedFlatAndCut) {
    std::string r = report_of("f: func [] [nope [a b c] \"some string\" [1 2 3 4 5 6 7 8 9 10 11 12]] try [f]");
    size_t at = r.find("*** Near : ");
    ASSERT_NE(at, std::string::npos);
    std::string near = r.substr(at + 11);
    EXPECT_EQ(near, std::string("nope [a b c] \"some string\" [1 2 3 4 5 6 7 8 9 10 11 12]").substr(0, 40));
    EXPECT_EQ(near.find('\n'), std::string::npos);
}

TEST_F(ErrorTest, ArgumentsAreFormedForSyntaxErrorsOnly) {
    EXPECT_EQ(report_of("e: make error! 309 e/arg1: \"s\" e").substr(0, 40),
              "*** Script Error: invalid argument: \"s\"\n");
    EXPECT_EQ(report_of("e: make error! 202 e/arg1: \"s\" e").substr(0, 57),
              "*** Syntax Error: script is missing a Vyx header: s\n*** W");
}

TEST_F(ErrorTest, AReportNamingNoEntryBecomesInvalidError) {
    collector::Rooted<1> keep;
    keep[0] = eval("e: make error! 300 e/type: 'bogus e");
    EXPECT_EQ(error::report(&keep[0]).substr(0, 70),
              "*** Internal Error: invalid error object field value: bogus\n*** Where:");
    // The value itself was turned into that error.
    EXPECT_EQ(int_of(*error::field(&keep[0], error::F_CODE)), 910);
    EXPECT_EQ(mold(eval("e: make error! 300 e/id: 'nope form e")).substr(0, 64),
              "{*** Internal Error: invalid error object field value: nope^/***");
}

TEST_F(ErrorTest, MoldAndComparison) {
    std::string m = mold(eval("mold make error! 300"));
    EXPECT_EQ(m.substr(0, 14), "{make error! [");
    EXPECT_EQ(m.substr(m.size() - 2), "]}");
    EXPECT_EQ(mold(eval("mold/only/flat make error! 300")).substr(0, 36), "{code: 300 type: 'script id: 'no-val");
    // Against an object the answer is "not comparable", not "different".
    collector::Rooted<2> keep;
    keep[0] = eval("make error! 300");
    keep[1] = eval("make object! [a: 1]");
    auto cmp = reinterpret_cast<act::Compare>(get_handler(TYPE_ERROR, A_COMPARE));
    EXPECT_EQ(cmp(&keep[0], &keep[1], COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(mold(eval("e: make error! 300 e = e")), "true");
}

TEST_F(ErrorTest, RaisedErrorsCarryTheirValue) {
    VyxError e = error_of("f: func [] [x] f");
    ASSERT_EQ(type_of(&e.value), TYPE_ERROR);
    EXPECT_TRUE(same_id(e, err::script_no_value));
    // Held while in flight: a collection does not take it.
    collector::collect_garbage();
    collector::collect_garbage();
    EXPECT_EQ(error::report(e).substr(0, 17), "*** Script Error:");
    EXPECT_EQ(mold(*error::field(&e.value, error::F_WHERE)), "f");
    // try answers that same value, with where and near filled in.
    EXPECT_EQ(mold(eval("e: try [f] e/where")), "f");
    EXPECT_EQ(mold(eval("e/code")), "300");
    EXPECT_EQ(mold(eval("e/near")), "[x]");
    EXPECT_EQ(mold(eval("type? e/stack")), "integer!");
}

TEST_F(ErrorTest, BeforeTheCatalogTheReportIsPlain) {
    collector::Rooted<2> keep;
    keep[0] = *error::catalog();
    keep[1] = eval("make error! 300");
    Cell none{TYPE_NONE, 0, 0, 0};
    error::set_catalog(&none);
    ASSERT_FALSE(error::ready());
    // An error! met while there is no catalog is reported plainly too.
    EXPECT_EQ(error::report(&keep[1]), "*** Script Error: none has no value\n*** Where: ???");
    VyxError e{};
    try {
        Cell n{TYPE_INTEGER, 0, 7, 0};
        raise_error(err::script_out_of_range, &n);
    } catch (const VyxError& caught) {
        e = caught;
    }
    error::set_catalog(&keep[0]);
    EXPECT_EQ(type_of(&e.value), TYPE_NONE);
    EXPECT_EQ(error::report(e), "*** Script Error: value out of range: 7\n*** Where: ???");
    testing::internal::CaptureStdout();
    EXPECT_EQ(error::report_uncaught(e), -2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "*** Script Error: value out of range: 7\n*** Where: ???\n");
    EXPECT_EQ(error::report_uncaught(e) & 255, 254);
}

TEST_F(ErrorTest, CatalogObjectMatchesTheTable) {
    EXPECT_EQ(mold(eval("e: make error! 0 e/type")), "throw");
    const Cell* cat = error::catalog();
    ASSERT_EQ(type_of(cat), TYPE_OBJECT);
    EXPECT_EQ(object::field_count(cat), uint32_t(err::CATEGORY_COUNT));
    for (int c = 0; c < err::CATEGORY_COUNT; c++) {
        Cell category = *object::value_at(cat, uint32_t(c));
        ASSERT_EQ(type_of(&category), TYPE_OBJECT);
        EXPECT_EQ(object::field_count(&category), uint32_t(err::entry_count(c) + 2)) << c;
        EXPECT_EQ(int_of(*object::value_at(&category, 0)), c * 100);
    }
}

TEST_F(ErrorTest, StackOfCallsWhenAsked) {
    VyxError e = error_of("g: func [] [x] f: func [] [1 + g] f");
    collector::Rooted<1> keep;
    keep[0] = e.value;
    // Without a stack-trace level the report has no stack line.
    EXPECT_EQ(error::report(keep.get()).find("*** Stack:"), std::string::npos);
    error::stack_trace_level = 1;
    EXPECT_NE(error::report(keep.get()).find("\n*** Stack: f g"), std::string::npos);
    error::set_stack(keep.get());
    EXPECT_EQ(mold(*error::field(keep.get(), error::F_STACK)), "[f g]");
    EXPECT_NE(error::report(keep.get()).find("\n*** Stack: f g"), std::string::npos);
    error::stack_trace_level = 0;
}

namespace {

// A mold that always fails, standing in for a datatype whose writer is
// missing or broken.
int failing_mold(Cell*, Cell*, bool, bool, bool, int, int) { raise_error(err::internal_not_done); }

struct FailingMold {
    act::Any& slot;
    act::Any saved;
    explicit FailingMold(int type)
        : slot(action_handlers[type * ROW_SLOTS + A_MOLD - 1]), saved(slot) {
        slot = reinterpret_cast<act::Any>(failing_mold);
    }
    ~FailingMold() { slot = saved; }
};

}  // namespace

TEST_F(ErrorTest, AReportWritesEveryPartThatMolds) {
    collector::Rooted<1> keep;
    keep[0] = eval("e: make error! 343 e/arg1: 'w e/arg2: 1.5 e/where: 'f e/near: [w < 1.5 \"s\" (w 1.5 [1.5])] e");
    {
        // Words are written by hand; values that cannot be written are left out.
        FailingMold words(TYPE_WORD), floats(TYPE_FLOAT);
        EXPECT_EQ(error::report(&keep[0]),
                  "*** Script Error: cannot compare w with \n*** Where: f\n*** Near : w < \"s\" (w [])");
    }
    EXPECT_EQ(error::report(&keep[0]),
              "*** Script Error: cannot compare w with 1.5\n*** Where: f\n*** Near : w < 1.5 \"s\" (w 1.5 [1.5])");
    // Without an error! value, the plain report still names words, texts
    // and datatypes.
    Cell args[3] = {eval("'compare"), eval("\"s\""), eval("integer!")};
    VyxError plain{err::script_expect_arg, {args[0], args[1], args[2]}, Cell{TYPE_NONE, 0, 0, 0}};
    EXPECT_EQ(error::report(plain),
              "*** Script Error: compare does not allow \"s\" for its integer! argument\n*** Where: ???");
}

TEST_F(ErrorTest, ACaughtErrorStaysWithItsCatcher) {
    protect::Guard guard;
    ASSERT_FALSE(guard.run([&] { eval("f: func [] [x] f"); }));
    // However many errors are raised after it, and collections, the error
    // the guard caught is still whole.
    for (int i = 0; i < 20; i++) error_of("1 / 0");
    collector::collect_garbage();
    error_of("1 / 0");
    collector::collect_garbage();
    EXPECT_EQ(error::report(guard.error()), "*** Script Error: x has no value\n*** Where: f\n*** Near : x");
}

TEST_F(ErrorTest, AReportedErrorIsPrintedAndTheCallGoesOn) {
    // As a dialect native would: its own call frame, then the report.
    Cell name = word::load("draw");
    uint32_t depth = stack::frame_depth();
    Cell* top = stack::top;
    stack::push_call_frame(&name);
    Cell seven{TYPE_INTEGER, 0, 7, 0};
    testing::internal::CaptureStdout();
    error::push_error_result(err::script_invalid_arg, &seven);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "*** Script Error: invalid argument: 7\n*** Where: draw\n*** Near : none\n");
    EXPECT_EQ(type_of(stack::result()), TYPE_UNSET);
    EXPECT_EQ(stack::frame_depth(), depth + 1);
    stack::pop_frame_discard();
    EXPECT_EQ(stack::top, top);
}
