// The native table, and the natives that evaluate, bind, coerce, print and
// load: code is scanned from source text by the lexer and evaluated.
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/lexer.h"
#include "evaluator/native_table.h"
#include "interp_fixture.h"
#include "runtime/output.h"

using namespace vyx;

namespace {

std::string printed;

void capture_print(const Cell* value, bool newline) {
    printed += string::to_utf8(value);
    if (newline) printed += "\n";
}

struct NativesTest : InterpTest {
    void SetUp() override {
        InterpTest::SetUp();
        add_output_hooks(capture_print, nullptr);
        printed.clear();
    }

    // Evaluates source text scanned by the lexer.
    Cell run(std::string_view source) {
        collector::Rooted<1> r;
        lexer::load_block(&r[0], source);
        return eval_block(r[0]);
    }

    // Calls an entry as compiled code does: a frame named by the word, the
    // argument cells, the check flag and the refinement integers. The result
    // molded, or "** " and the error message.
    std::string call_entry(const char* name, natives::Entry entry, int check, std::vector<Cell> args,
                           std::vector<int> refs) {
        Cell* top = stack::top;
        Cell* saved_args = stack::arguments;
        stack::Frame* frames = stack::frame_top;
        // The arguments are held on the stack first: loading the word may collect.
        for (const Cell& a : args) stack::push(&a);
        Cell w = word::load(name);
        stack::push_call_frame(&w);
        for (const Cell& a : args) stack::push(&a);
        std::string out;
        try {
            entry(check, refs.data());
            out = mold(*stack::arguments);
        } catch (const VyxError& e) {
            out = "** " + message(e);
        }
        stack::restore_frame_top(frames);
        stack::top = top;
        stack::arguments = saved_args;
        return out;
    }

    std::string result(std::string_view source) {
        try {
            return mold(run(source));
        } catch (const VyxError& e) {
            return "** " + message(e);
        }
    }
};

struct Case {
    const char* source;
    const char* expected;
};

void expect_cases(NativesTest& t, std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(t.result(c.source), c.expected) << c.source;
}

}  // namespace

TEST_F(NativesTest, TableHoldsEveryNativeAtItsNumber) {
    for (uint32_t n = 1; n <= native_table::COUNT; n++) {
        const native_table::Info& info = native_table::entries[n - 1];
        ASSERT_EQ(info.number, n);
        Cell w = word::load(info.word);
        const Cell* v = context::get(&w);
        ASSERT_EQ(type_of(v), TYPE_NATIVE) << info.word;
        EXPECT_EQ(native::number_of(v), n) << info.word;
        EXPECT_NE(natives::table[n - 1], nullptr) << info.word;
    }
    struct Fixed {
        uint32_t number;
        const char* word;
    };
    for (Fixed f : {Fixed{1, "if"}, {107, "apply"}, {84, "debase"}, {91, "enbase"}, {97, "sign?"},
                    {100, "zero?"}, {101, "size?"}, {35, "reduce"}, {106, "transcode"}})
        EXPECT_STREQ(native_table::entries[f.number - 1].word, f.word);
}

TEST_F(NativesTest, SpecsDriveArgumentChecksAndReflection) {
    expect_cases(*this, {
        {"call 5", "** call does not allow integer! for its cmd argument"},
        // scalar! and any-point! are typesets in the specs, not unknown words.
        {"max 1 2", "2"},
        {"zero? 1x1", "false"},
        {"max \"a\" #\"b\"", "** cannot compare \"a\" with #\"b\""},
        {"max none 1", "** max does not allow none! for its value1 argument"},
        {"reduce/into [1] 5", "** reduce does not allow integer! for its out argument"},
        {"transcode/trace \"1\" 5", "** transcode does not allow integer! for its callback argument"},
    });
    // The deprecated refinement keeps its notice for help.
    Cell w = word::load("arctangent2");
    Cell spec{TYPE_BLOCK, 0, context::get(&w)->data2, 0};
    EXPECT_NE(mold(spec).find("/radians \"DEPRECATED: use `atan2` native instead\""), std::string::npos)
        << mold(spec);
    // Callback specs nested in a type block keep their return: set-word.
    w = word::load("transcode");
    spec = Cell{TYPE_BLOCK, 0, context::get(&w)->data2, 0};
    EXPECT_NE(mold(spec).find("token return: [logic!]"), std::string::npos) << mold(spec);
}

TEST_F(NativesTest, CheckFlagTestsArgumentsAgainstTheSpec) {
    Cell one{TYPE_INTEGER, 0, 1, 0};
    Cell none_value{TYPE_NONE, 0, 0, 0};
    Cell code = test::load("(1 + 1)");
    // Check flag 1: the spec's typesets, for mandatory arguments and the
    // arguments of present refinements only.
    EXPECT_EQ(call_entry("compose", natives::compose_, 1, {one}, {-1, -1, -1}),
              "** compose does not allow integer! for its value argument");
    EXPECT_EQ(call_entry("compose", natives::compose_, 1, {code, one}, {-1, -1, 1}),
              "** compose does not allow integer! for its out argument");
    EXPECT_EQ(call_entry("compose", natives::compose_, 1, {code, none_value}, {-1, -1, -1}), "[2]");
    EXPECT_EQ(call_entry("transcode", natives::transcode_, 1, {one}, {-1, -1, -1, -1, -1, -1, -1}),
              "** transcode does not allow integer! for its src argument");
    // Check flag 0: the native's own rule.
    EXPECT_EQ(call_entry("compose", natives::compose_, 0, {one}, {-1, -1, -1}), "** expected block! not integer!");
}

TEST_F(NativesTest, Reduce) {
    expect_cases(*this, {
        {"reduce [1 + 1 \"a\"]", "[2 \"a\"]"},
        {"reduce []", "[]"},
        {"same? :print reduce :print", "true"},
        {"x: 4 reduce 'x", "4"},
        {"b: [0] reduce/into [1 2] tail b b", "[0 1 2]"},
        // Into the middle: each result inserted at the position, which moves past it.
        {"b: [0] r: reduce/into [1 + 1 3] b reduce [b r]", "[[2 3 0] [0]]"},
        {"reduce [1 zz-none]", "** zz-none has no value"},
        // New-line markers of the results do not carry over.
        {"reduce [\n 1\n 2]", "[1 2]"},
        // Exits pass through the reduction and leave the stacks balanced.
        {"loop 1 [reduce [1 break 2]] 7", "7"},
        {"f: func [] [reduce [1 return 5 2]] f", "5"},
    });
}

TEST_F(NativesTest, Compose) {
    expect_cases(*this, {
        {"compose [(1 + 1) ([a b]) ([]) (()) [(x)]]", "[2 a b [(x)]]"},
        {"compose/only [(1 + 1) ([a b]) ([]) (()) [(x)]]", "[2 [a b] [] [(x)]]"},
        {"x: 5 compose/deep [(1 + 1) [(x) [(x)]]]", "[2 [5 [5]]]"},
        {"compose [a (do []) b]", "[a b]"},
        {"b: [z] compose/into [(1) (2)] b b", "[1 2 z]"},
        {"b: [z] compose/into [(1) (2)] tail b b", "[z 1 2]"},
        {"compose 1", "** compose does not allow integer! for its value argument"},
        {"loop 1 [compose [(break)]] 3", "3"},
    });
}

TEST_F(NativesTest, GetSetUnsetValue) {
    expect_cases(*this, {
        {"set [a b c] [1 2] reduce [a b c]", "[1 2 none]"},
        {"set [a b c] [1 2] c", "none"},
        {"a: 5 set/some [a b] reduce [none 2] reduce [a b]", "[5 2]"},
        {"set/only [a b] [1 2] reduce [a b]", "[[1 2] [1 2]]"},
        {"set [a b] 7 reduce [a b]", "[7 7]"},
        {"set 'a 1 + 2", "3"},
        {"o: make object! [a: 1] set 'o/a 9 o/a", "9"},
        {"o: make object! [a: 1 b: 2] set o [3 4] reduce [o/a o/b]", "[3 4]"},
        // A refused set changes nothing.
        {"a: 1 set [a 2] [5 6]", "** invalid argument: 2"},
        {"a: 1 attempt: func [] [try [set [a 2] [5 6]]] attempt a", "1"},
        {"set 'a ()", "** a needs a value"},
        {"set/any 'a () value? 'a", "false"},
        {"get 'zz-unset", "** zz-unset has no value"},
        {"type? get/any 'zz-unset", "unset!"},
        {"a: 3 get 'a", "3"},
        {"o: make object! [a: 1 b: [2]] get 'o/b", "[2]"},
        {"o: make object! [a: 1 b: \"x\"] get o", "[1 \"x\"]"},
        {"value? 'zz-nothing", "false"},
        {"value? 'print", "true"},
        {"a: 1 unset 'a value? 'a", "false"},
        {"a: 1 b: 2 unset [a 5 b] reduce [value? 'a value? 'b]", "[false false]"},
        {"f: function [] [x: 1] f x", "** x has no value"},
    });
}

TEST_F(NativesTest, BindInContext) {
    expect_cases(*this, {
        {"in make object! [a: 1] 'b", "none"},
        {"o: make object! [a: 1] get in o 'a", "1"},
        {"o: make object! [a: 1] get in o /a", "1"},
        {"o: make object! [a: 1] w: 7 get bind 'w o", "7"},
        {"o: make object! [a: 1] a: 2 do bind [a] o", "1"},
        {"o: make object! [a: 1] a: 2 b: [a] c: bind/copy b o reduce [do b do c]", "[2 1]"},
        {"f: func [x] [in-f: 'x] f 5 get in :f 'x", "** context for x is not available"},
        {"o: make object! [a: 1] same? o context? in o 'a", "true"},
        {"f: func [x] [context? 'x] same? :f f 1", "true"},
        {"type? context? 'print", "object!"},
    });
}

TEST_F(NativesTest, AsAndConstruct) {
    expect_cases(*this, {
        // The spec refuses a word before the native sees it.
        {"as string! 'a", "** as does not allow word! for its spec argument"},
        {"as block! as paren! [1 2]", "[1 2]"},
        {"p: as paren! [1 2] b: as block! p append b 3 p", "(1 2 3)"},
        {"as \"x\" as file! \"a.txt\"", "\"a.txt\""},
        {"as paren! \"a\"", "** cannot coerce string! to paren!"},
        {"o: construct [a: 1 + 2 b: c: none] reduce [o/a type? o/b type? o/c]", "[1 none! none!]"},
        {"o: construct/only [a: none] type? o/a", "word!"},
        {"p: make object! [a: 1 b: 2] o: construct/with [b: 5] p reduce [o/a o/b]", "[1 5]"},
        {"extend make object! [] [a 1]", "** reserved for future use (or not yet implemented)"},
    });
    // Compiled callers that pass check flag 0 reach the native's own refusal.
    Cell string_type{TYPE_DATATYPE, TYPE_STRING, 0, 0};
    EXPECT_EQ(call_entry("as", natives::as_, 0, {string_type, word::load("a")}, {}),
              "** cannot coerce word! to string!");
}

TEST_F(NativesTest, PrintFormsReducedBlocks) {
    run("print [1 + 1 \"a\"]");
    EXPECT_EQ(printed, "2 a\n");
    EXPECT_TRUE(natives::last_lf);

    printed.clear();
    run("prin \"a\" prin \"b\"");
    EXPECT_EQ(printed, "ab");
    EXPECT_FALSE(natives::last_lf);

    // A print inside the block being printed writes its own line first and
    // leaves the outer text alone.
    printed.clear();
    run("print [1 (print [2 3] 4) 5]");
    EXPECT_EQ(printed, "2 3\n1 4 5\n");

    printed.clear();
    EXPECT_EQ(result("x: next \"abc\" print x"), "unset");
    run("print 12 print []");
    EXPECT_EQ(printed, "bc\n12\n\n");

    // An exit out of the reduction prints nothing and leaves the buffer as it was.
    printed.clear();
    EXPECT_EQ(result("loop 1 [print [1 break]] print [7]"), "unset");
    EXPECT_EQ(result("print [1 zz-none]"), "** zz-none has no value");
    run("print [8]");
    EXPECT_EQ(printed, "7\n8\n");
    EXPECT_EQ(blk::size(natives::print_buffer()->data2), 0u);
}

TEST_F(NativesTest, Transcode) {
    expect_cases(*this, {
        {"transcode #{EFBBBF313233}", "[123]"},
        {"transcode #{313233}", "[123]"},
        {"transcode {1 [a] \"b\"}", "[1 [a] \"b\"]"},
        {"transcode/next \"1 2 3\"", "[1 \" 2 3\"]"},
        {"transcode/one \"12 3\"", "12"},
        {"transcode/scan \"12\"", "integer!"},
        {"transcode/prescan \"\"", "none"},
        {"transcode/scan \"12 abc\"", "integer!"},
        {"transcode/prescan \"abc 12\"", "word!"},
        {"transcode/scan \"#{zz}\"", "error!"},
        {"transcode/scan \"  \"", "none"},
        {"transcode/part \"123 456\" 3", "[123]"},
        {"transcode/part #{31323320343536} 5", "[123 4]"},
        {"transcode/part \"123\" #{00}", "** values must be of the same type"},
        {"b: [x] transcode/into \"1 2\" b b", "[x 1 2]"},
        // A callback sees the loads and may drop values.
        {"n: 0 transcode/trace \"1 2 3\" func [event input type line token] [if event = 'load [n: n + 1] token <> 2] reduce [n]",
         "[3]"},
        {"transcode/trace \"1 2 3\" func [event input type line token] [not all [event = 'load token = 2]]", "[1 3]"},
        {"transcode \"1 [\"", "** \"(line 1)\" missing \"]\" at \"[\""},
    });
}

TEST_F(NativesTest, LoadValueFromString) {
    collector::Rooted<2> r;
    struct LoadCase {
        const char* text;
        const char* expected;
    };
    for (LoadCase c : {LoadCase{"12", "12"}, {" [a b] c", "[a b]"}, {"", "unset"}}) {
        string::make_at(&r[0], 8);
        string::concatenate_literal(&r[0], c.text, NO_LIMIT);
        const Cell* v = helpers::load_value_from_string_into(&r[0], &r[1]);
        EXPECT_EQ(mold(*v), c.expected) << c.text;
    }
    string::make_at(&r[0], 8);
    string::concatenate_literal(&r[0], "1 [", NO_LIMIT);
    EXPECT_EQ(helpers::load_value_from_string_into(&r[0], &r[1]), &helpers::FAILURE_CELL);
}

TEST_F(NativesTest, DoOfStringsAndNext) {
    expect_cases(*this, {
        {"do \"1 + 2\"", "3"},
        {"do [1 2]", "2"},
        {"do/next [1 + 2 3] 'p", "3"},
        {"do/next [1 + 2 3] 'p p", "[3]"},
        {"do 5", "5"},
        {"do []", "unset"},
        {"do/next \"1 + 2 3\" 'p", "3"},
        {"do/next \"1 + 2 3\" 'p p", "[3]"},
        {"do/next [] 'p p", "[]"},
        {"x: 6 do 'x", "6"},
        {"o: make object! [a: 5] do 'o/a", "5"},
        {"f: func [] [do [return 4] 5] f", "4"},
        {"e: try [1 / 0] do e", "** attempt to divide by zero"},
        {"do %no-such-script.vyx", "** reserved for future use (or not yet implemented)"},
    });
}
