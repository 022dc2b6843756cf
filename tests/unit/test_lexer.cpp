// The lexer: source text to values, its syntax errors and its trace callback.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "evaluator/lexer.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/error_catalog.h"
#include "runtime/memory.h"
#include "runtime/raise.h"
#include "runtime_fixture.h"
#include "tests/fuzz/lexer_fuzz_body.h"

using namespace vyx;

namespace {

struct LexerTest : RuntimeTest {};

Cell scan(const std::string& text) {
    Cell result{};
    lexer::load_block(&result, text);
    return result;
}

uint32_t length_of(const Cell& block) { return blk::length(&block); }

Cell item(const Cell& block, uint32_t i) {
    SeriesBuffer* b = node_buffer(block.data2);
    return b->cell_head()[block.data1 + i];
}

// The only value of a one-value text.
Cell one(const std::string& text) {
    Cell b = scan(text);
    EXPECT_EQ(length_of(b), 1u) << text;
    return item(b, 0);
}

std::string arg_text(const Cell& c) {
    if (type_of(&c) == TYPE_DATATYPE) return type_names[c.data1].name;
    if (is_any_string(type_of(&c))) return string::to_utf8(&c);
    return "";
}

// The message of the syntax error a text raises ("" when none).
std::string error_of(const std::string& text, err::Id* id = nullptr) {
    try {
        scan(text);
    } catch (VyxError& e) {
        std::string args[3] = {arg_text(e.args[0]), arg_text(e.args[1]), arg_text(e.args[2])};
        if (id) *id = e.id;
        return err::render_message(e.id, args);
    }
    return "";
}

std::string word_name(const Cell& c) { return symbol::name(int32_t(c.data2)); }

int64_t int_of(const Cell& c) { return int32_t(c.data2); }

}  // namespace

TEST_F(LexerTest, BlocksAndParensNest) {
    EXPECT_EQ(type_of(&(const Cell&)scan("")), TYPE_BLOCK);
    EXPECT_EQ(length_of(scan("")), 0u);
    EXPECT_EQ(length_of(scan("  \t\r\n ; only a comment\n")), 0u);
    Cell b = scan("1 [2 [3]] (4) #[a 1]");
    ASSERT_EQ(length_of(b), 4u);
    EXPECT_EQ(type_of(&(const Cell&)item(b, 1)), TYPE_BLOCK);
    Cell inner = item(b, 1);
    ASSERT_EQ(length_of(inner), 2u);
    EXPECT_EQ(int_of(item(inner, 0)), 2);
    EXPECT_EQ(length_of(item(inner, 1)), 1u);
    EXPECT_EQ(type_of(&(const Cell&)item(b, 2)), TYPE_PAREN);
    EXPECT_EQ(type_of(&(const Cell&)item(b, 3)), TYPE_MAP);
    // Control bytes between tokens are blanks.
    EXPECT_EQ(length_of(scan("1\x01\x02" "2")), 2u);
}

TEST_F(LexerTest, SyntaxErrorsNameTheLineAndTheNearText) {
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"[1 2", "(line 1) missing ] at [1 2"},
        {"]", "(line 1) missing [ at ]"},
        {"(1 2", "(line 1) missing ) at (1 2"},
        {"[1)", "(line 1) missing ] at )"},
        {"#[a 1 b]", "(line 1) invalid map! at #[a 1 b]"},
        {"#(foo)", "(line 1) invalid construction spec at #(foo)"},
        {"a/", "(line 1) invalid path! at a/"},
        {"12a bc", "(line 1) invalid integer! at 12a bc"},
        {"1\n2\n12a\nbc", "(line 3) invalid integer! at 12a"},
        {"1\r\n2\r\n\"abc\r\n", "(line 3) invalid string! at \"abc\r"},
        {"{a\nb\nc} {x\n", "(line 4) invalid string! at {x"},
        {"x 'a:", "(line 1) invalid lit-word! at 'a:"},
        {"a , b", "(line 1) invalid point2D! at , b"},
        {"x (1, 2", "(line 1) invalid point2D! at (1, 2"},
        {"\x80", "(line 1) invalid character at \xC2\x80"},
        // The near text stops at the first character boundary 30 bytes on.
        {"12a 4567890123456789012345678901234567890",
         "(line 1) invalid integer! at 12a 45678901234567890123456789"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.text), c.message) << c.text;
    err::Id id{};
    error_of("[1 2", &id);
    EXPECT_EQ(id.category, err::syntax_missing.category);
    EXPECT_EQ(id.entry, err::syntax_missing.entry);
}

TEST_F(LexerTest, ConstructionForms) {
    Cell b = scan("#(none) #(NONE) #(integer!) #(true) #(False) #(unset)");
    ASSERT_EQ(length_of(b), 6u);
    EXPECT_EQ(type_of(&(const Cell&)item(b, 0)), TYPE_NONE);
    EXPECT_EQ(type_of(&(const Cell&)item(b, 1)), TYPE_NONE);
    Cell t = item(b, 2);
    EXPECT_EQ(type_of(&t), TYPE_DATATYPE);
    EXPECT_EQ(t.data1, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(item(b, 3).data1, 1u);
    EXPECT_EQ(item(b, 4).data1, 0u);
    EXPECT_EQ(type_of(&(const Cell&)item(b, 5)), TYPE_UNSET);
    EXPECT_EQ(error_of("#( none)"), "(line 1) invalid construction spec at #( none)");
}

TEST_F(LexerTest, Paths) {
    Cell p = one("a/b:");
    EXPECT_EQ(type_of(&p), TYPE_SET_PATH);
    ASSERT_EQ(length_of(p), 2u);
    EXPECT_EQ(word_name(item(p, 0)), "a");
    EXPECT_EQ(type_of(&(const Cell&)item(p, 1)), TYPE_WORD);
    Cell g = one(":a/1/(b)/\"s\"");
    EXPECT_EQ(type_of(&g), TYPE_GET_PATH);
    ASSERT_EQ(length_of(g), 4u);
    EXPECT_EQ(type_of(&(const Cell&)item(g, 0)), TYPE_WORD);
    EXPECT_EQ(int_of(item(g, 1)), 1);
    EXPECT_EQ(type_of(&(const Cell&)item(g, 2)), TYPE_PAREN);
    EXPECT_EQ(type_of(&(const Cell&)item(g, 3)), TYPE_STRING);
    EXPECT_EQ(type_of(&(const Cell&)one("'a/b")), TYPE_LIT_PATH);
    Cell in_block = one("[a/b c]");
    ASSERT_EQ(length_of(in_block), 2u);
    EXPECT_EQ(type_of(&(const Cell&)item(in_block, 0)), TYPE_PATH);
    EXPECT_EQ(error_of("a/b/"), "(line 1) invalid path! at a/b/");
    EXPECT_EQ(error_of("a/b:/c"), "(line 1) invalid path! at a/b:/c");
    EXPECT_EQ(error_of(":a/b:"), "(line 1) invalid get-path! at :a/b:");
}

TEST_F(LexerTest, Escapes) {
    struct Case {
        const char* text;
        std::u32string chars;
    } cases[] = {
        {"\"^(41)^(A)\"", U"A\n"},
        {"\"^(line)^(TAB)^(null)^(Esc)^(del)\"", U"\n\t" + std::u32string(1, 0) + U"\x1b\x7f"},
        {"\"^(1F600)\"", U"\U0001F600"},
        {"\"^a^Z^[^-^/^@^^^~^\"\"", std::u32string(U"\x01\x1a\x1b\t\n") + char32_t(0) + U"^\x7f\""},
        {"{a^}b{c}d}", U"a}b{c}d"},
        {"\"\xC3\xA9\xE2\x82\xAC\"", U"\u00e9\u20ac"},
    };
    for (const Case& c : cases) {
        Cell s = one(c.text);
        ASSERT_EQ(type_of(&s), TYPE_STRING) << c.text;
        SeriesBuffer* b = node_buffer(s.data2);
        std::u32string got;
        for (uint32_t i = 0; i < b->length(); i++) got += char32_t(string::char_at(b, b->offset / b->unit() + i));
        EXPECT_EQ(got, c.chars) << c.text;
    }
    EXPECT_EQ(node_buffer(one("\"^(1F600)\"").data2)->unit(), 4u);
    EXPECT_EQ(one("#\"^(line)\"").data2, 10u);
    EXPECT_EQ(one("#\"\xF0\x9F\x98\x80\"").data2, 0x1F600u);
    for (const char* bad : {"\"^(1234567)\"", "\"^(D800)\"", "\"^(DFFF)\"", "#\"^(D83D)\"", "\"^(110000)\"",
                            "\"^(lin)\"", "\"^()\"", "#\"^\"", "#\"ab\"", "\"\xED\xA0\x80\"", "\"\xC0\x80\""}) {
        EXPECT_NE(error_of(bad).find("invalid"), std::string::npos) << bad;
    }
}

TEST_F(LexerTest, Numbers) {
    struct IntCase {
        const char* text;
        int64_t value;
    } ints[] = {{"2147483647", 2147483647}, {"-2147483648", -2147483648LL}, {"1'000'000", 1000000},
                {"+7", 7}, {"0FFh", 255}, {"FFFFFFFFh", -1}, {"00000000h", 0}, {"ABh", 0xAB}};
    for (const IntCase& c : ints) {
        Cell v = one(c.text);
        EXPECT_EQ(type_of(&v), TYPE_INTEGER) << c.text;
        EXPECT_EQ(int_of(v), c.value) << c.text;
    }
    struct FloatCase {
        const char* text;
        int type;
        double value;
    } floats[] = {{"2147483648", TYPE_FLOAT, 2147483648.0}, {"-2147483649", TYPE_FLOAT, -2147483649.0},
                  {"12345678901", TYPE_FLOAT, 12345678901.0}, {"1.5e5", TYPE_FLOAT, 150000.0},
                  {"1'000.5", TYPE_FLOAT, 1000.5}, {".5", TYPE_FLOAT, 0.5}, {"50%", TYPE_PERCENT, 0.5},
                  {"12.5%", TYPE_PERCENT, 0.125}, {"-1.#INF", TYPE_FLOAT, -HUGE_VAL}, {"1.#inf", TYPE_FLOAT, HUGE_VAL}};
    for (const FloatCase& c : floats) {
        Cell v = one(c.text);
        EXPECT_EQ(type_of(&v), c.type) << c.text;
        EXPECT_EQ(cell_float(&v), c.value) << c.text;
    }
    EXPECT_TRUE(std::isnan(cell_float(&(const Cell&)one("1.#NaN"))));
    for (const char* bad : {"1''0", "9FFFFFFFFh", "+1Fh"})
        EXPECT_NE(error_of(bad).find("invalid integer!"), std::string::npos) << bad;
    for (const char* bad : {"1.e5", "1'.5", "1.#INX", "1.5e", "1e5e5"})
        EXPECT_NE(error_of(bad).find("invalid float!"), std::string::npos) << bad;
    EXPECT_EQ(error_of("Fh"), "(line 1) invalid word! at Fh");
    // Float literals read to the same bits as a correctly rounded reader.
    struct Bits {
        const char* text;
        uint64_t bits;
    } bits[] = {
        {"1.5", 0x3ff8000000000000ULL}, {"0.1", 0x3fb999999999999aULL},
        {"1e308", 0x7fe1ccf385ebc8a0ULL}, {"2.2250738585072014e-308", 0x0010000000000000ULL},
        {"4.9e-324", 0x0000000000000001ULL}, {"123456789012345678901234567890", 0x45f8ee90ff6c373eULL},
        {"-0.0", 0x8000000000000000ULL}, {"3.141592653589793238462643383279", 0x400921fb54442d18ULL},
        {"1.7976931348623157e308", 0x7fefffffffffffffULL}, {"9007199254740993", 0x4340000000000000ULL},
        {"0.30000000000000004", 0x3fd3333333333334ULL}, {"1e-320", 0x00000000000007e8ULL},
        {"2.4703282292062327e-324", 0x0000000000000000ULL},
        {"10000000000000000000000000.5e-3", 0x4480f0cf064dd592ULL},
    };
    for (const Bits& b : bits) {
        Cell v = one(b.text);
        uint64_t got;
        double d = cell_float(&v);
        std::memcpy(&got, &d, 8);
        EXPECT_EQ(got, b.bits) << b.text;
    }
}

TEST_F(LexerTest, Words) {
    struct Case {
        const char* text;
        int type;
        const char* name;
    } cases[] = {
        {":a", TYPE_GET_WORD, "a"}, {"a:", TYPE_SET_WORD, "a"}, {"'a", TYPE_LIT_WORD, "a"},
        {"/", TYPE_WORD, "/"}, {"//", TYPE_WORD, "//"}, {"/ref", TYPE_REFINEMENT, "ref"},
        {"#iss", TYPE_ISSUE, "iss"}, {"<=", TYPE_WORD, "<="}, {"%", TYPE_WORD, "%"},
        {"+", TYPE_WORD, "+"}, {"a'b", TYPE_WORD, "a'b"}, {"\xC3\xA9t\xC3\xA9", TYPE_WORD, "\xC3\xA9t\xC3\xA9"},
    };
    for (const Case& c : cases) {
        Cell w = one(c.text);
        EXPECT_EQ(type_of(&w), c.type) << c.text;
        EXPECT_EQ(word_name(w), c.name) << c.text;
        // Unbound: the global context, looked up on first use.
        EXPECT_EQ(w.data1, context::global) << c.text;
        EXPECT_EQ(int32_t(w.data3), -1) << c.text;
    }
    EXPECT_EQ(error_of("'a:"), "(line 1) invalid lit-word! at 'a:");
    EXPECT_NE(error_of("#").find("invalid issue!"), std::string::npos);
    // U+00A0 ends a word; a token of U+3000 only is a blank.
    Cell b = scan("ab\xC2\xA0" "cd \xE3\x80\x80 ef");
    ASSERT_EQ(length_of(b), 3u);
    EXPECT_EQ(word_name(item(b, 0)), "ab");
    EXPECT_EQ(word_name(item(b, 1)), "cd");
    EXPECT_EQ(word_name(item(b, 2)), "ef");
}

TEST_F(LexerTest, WordNameCheckForOtherDatatypes) {
    EXPECT_TRUE(lexer::is_word_text("a"));
    EXPECT_TRUE(lexer::is_word_text("a:"));
    EXPECT_FALSE(lexer::is_word_text("1"));
    EXPECT_FALSE(lexer::is_word_text("a b"));
    EXPECT_FALSE(lexer::is_word_text("a/b"));
    EXPECT_FALSE(lexer::is_word_text(""));
    EXPECT_EQ(lexer::scan_single_token_type("12a"), TYPE_ERROR);
    EXPECT_EQ(lexer::scan_single_token_type("[1 2]"), TYPE_BLOCK);
}

TEST_F(LexerTest, StringsFilesAndTheirKin) {
    struct Case {
        const char* text;
        int type;
        const char* utf8;
    } cases[] = {
        {"%{a}%", TYPE_STRING, "a"},
        {"%%{a}% b}%%", TYPE_STRING, "a}% b"},
        {"%{a^b}%", TYPE_STRING, "a^b"},
        {"%file.txt", TYPE_FILE, "file.txt"},
        {"%\"a b^/\"", TYPE_FILE, "a b\n"},
        {"%a%20b%C3%A9%zz", TYPE_FILE, "a b\xC3\xA9%zz"},
        {"<a href=\"x\">", TYPE_TAG, "a href=\"x\""},
        {"http://x.org/a%20b", TYPE_URL, "http://x.org/a b"},
        {"me@here.org", TYPE_EMAIL, "me@here.org"},
        {"@ref", TYPE_REF, "ref"},
        {"{multi\nline}", TYPE_STRING, "multi\nline"},
    };
    for (const Case& c : cases) {
        Cell v = one(c.text);
        EXPECT_EQ(type_of(&v), c.type) << c.text;
        EXPECT_EQ(string::to_utf8(&v), c.utf8) << c.text;
    }
    EXPECT_EQ(error_of("%%{a}%b"), "(line 1) invalid string! at %%{a}%b");
}

TEST_F(LexerTest, Binaries) {
    struct Case {
        const char* text;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"#{}", {}},
        {"#{0aFF 10}", {0x0A, 0xFF, 0x10}},
        {"2#{00000001 ; one\n}", {1}},
        {"64#{AQ==}", {1}},
        {"64#{SGVsbG8/}", {'H', 'e', 'l', 'l', 'o', '?'}},
        {"64#{SGk=}", {'H', 'i'}},
    };
    for (const Case& c : cases) {
        Cell v = one(c.text);
        ASSERT_EQ(type_of(&v), TYPE_BINARY) << c.text;
        SeriesBuffer* b = node_buffer(v.data2);
        EXPECT_EQ(std::vector<uint8_t>(b->head(), b->tail_ptr()), c.bytes) << c.text;
    }
    for (const char* bad : {"#{0}", "8#{00}", "2#{0101}", "64#{A===}", "64#{AQ=}", "#{0g}"})
        EXPECT_NE(error_of(bad).find("invalid binary!"), std::string::npos) << bad;
    EXPECT_EQ(error_of("#{00 0g}"), "(line 1) invalid binary! at g}");
}

TEST_F(LexerTest, TuplesPairsAndPoints) {
    Cell t = one("1.2.3");
    ASSERT_EQ(type_of(&t), TYPE_TUPLE);
    EXPECT_EQ(tuple::length(&t), 3);
    EXPECT_EQ(tuple::byte_at(&t, 2), 3);
    EXPECT_EQ(tuple::length(&(const Cell&)one("1.2.3.4.5.6.7.8.9.10.11.12")), 12);
    for (const char* bad : {"1.2.3.4.5.6.7.8.9.10.11.12.13", "1.256.3", "1.2..3", "1.2.0003000"})
        EXPECT_NE(error_of(bad).find("invalid tuple!"), std::string::npos) << bad;

    Cell p = one("-2X3");
    ASSERT_EQ(type_of(&p), TYPE_PAIR);
    EXPECT_EQ(pair::x(&p), -2);
    EXPECT_EQ(pair::y(&p), 3);
    for (const char* bad : {"2.5x3", "2x12345678901", "2x3000000000"})
        EXPECT_NE(error_of(bad).find("invalid pair!"), std::string::npos) << bad;

    Cell p2 = one("(1, 2.5)");
    ASSERT_EQ(type_of(&p2), TYPE_POINT2D);
    EXPECT_EQ(point2d::x(&p2), 1.0f);
    EXPECT_EQ(point2d::y(&p2), 2.5f);
    Cell p3 = one("( 1 , -2, 1.#INF )");
    ASSERT_EQ(type_of(&p3), TYPE_POINT3D);
    EXPECT_TRUE(std::isinf(point3d::z(&p3)));
    EXPECT_NE(error_of("(1, 2, 3, 4)").find("invalid point3D!"), std::string::npos);
}

TEST_F(LexerTest, Times) {
    struct Case {
        const char* text;
        double seconds;
    } cases[] = {{"1:30", 5400}, {"1:30.5", 90.5}, {"1:30:15.5", 5415.5}, {"-0:30", -1800}, {"+2:00", 7200},
                 {"100:00", 360000}};
    for (const Case& c : cases) {
        Cell v = one(c.text);
        EXPECT_EQ(type_of(&v), TYPE_TIME) << c.text;
        EXPECT_EQ(cell_float(&v), c.seconds) << c.text;
    }
    for (const char* bad : {"1:30:", "1:30:15.5.5", "99999999999:00"})
        EXPECT_NE(error_of(bad).find("invalid time!"), std::string::npos) << bad;
}

TEST_F(LexerTest, Money) {
    money::currencies = {"EUR", "USD"};
    Cell m = one("$1'000.50");
    ASSERT_EQ(type_of(&m), TYPE_MONEY);
    EXPECT_FALSE(money::is_negative(&m));
    EXPECT_EQ(money::digit(&m, 14), 1);
    EXPECT_EQ(money::digit(&m, 18), 5);
    Cell u = one("-USD$1.5");
    EXPECT_EQ(money::currency(&u), 2u);
    EXPECT_TRUE(money::is_negative(&u));
    for (const char* bad : {"$.5", "$1.", "$1.123456", "XYZ$1", "$1''0", "$1'"})
        EXPECT_NE(error_of(bad).find("invalid money!"), std::string::npos) << bad;
    money::currencies.clear();
}

TEST_F(LexerTest, Dates) {
    struct Case {
        const char* text;
        int year, month, day;
        bool time;
        double seconds;  // stored UTC-based seconds
    } cases[] = {
        {"29-Feb-2024", 2024, 2, 29, false, 0},
        {"5-jan-99", 1999, 1, 5, false, 0},
        {"15-1-20", 2020, 1, 15, false, 0},
        {"2024-1-15", 2024, 1, 15, false, 0},
        {"2024-Sept-01", 2024, 9, 1, false, 0},
        {"2024/Mar/3", 2024, 3, 3, false, 0},
        {"1/1/2024/10:00+2", 2024, 1, 1, true, 8 * 3600},
        {"2024-W01-1", 2024, 1, 1, false, 0},
        {"2020-W05-3", 2020, 1, 29, false, 0},
        {"2024-060", 2024, 2, 29, false, 0},
        {"2024-060T12:00", 2024, 2, 29, true, 12 * 3600},
        {"20240101T103000Z", 2024, 1, 1, true, 37800},
        {"20240101T1030+0100", 2024, 1, 1, true, 34200},
        {"2024-01-01T10:00-00:30", 2024, 1, 1, true, 37800},
    };
    for (const Case& c : cases) {
        Cell d = one(c.text);
        ASSERT_EQ(type_of(&d), TYPE_DATE) << c.text;
        EXPECT_EQ(date::year(&d), c.year) << c.text;
        EXPECT_EQ(date::month(&d), c.month) << c.text;
        EXPECT_EQ(date::day(&d), c.day) << c.text;
        EXPECT_EQ(date::has_time(&d), c.time) << c.text;
        EXPECT_EQ(date::seconds(&d), c.seconds) << c.text;
    }
    for (const char* bad : {"29-Feb-2023", "2024-W01-8", "2024-000", "20240101T1030", "20240101T103000+01:00",
                            "2024-Ju-01", "31-4-2024", "1-1-2024/24:00",
                            // Week and ordinal dates and zones have range checks too.
                            "2024-W99", "2024-W00", "2024-400", "2023-366", "2024-060T99:99", "2024-W01-1T25:00",
                            "1-1-2024/10:00+01:99", "1-1-2024/10:00+16"})
        EXPECT_NE(error_of(bad).find("invalid date!"), std::string::npos) << bad;
    EXPECT_EQ(type_of(&(const Cell&)one("2024-366")), TYPE_DATE);
    EXPECT_EQ(type_of(&(const Cell&)one("2020-W53")), TYPE_DATE);  // 2020 has 53 ISO weeks, 2024 has 52
    EXPECT_NE(error_of("2024-W53").find("invalid date!"), std::string::npos);
}

TEST_F(LexerTest, NewLineFlagsMarkValuesAfterLineBreaks) {
    Cell b = scan("a [b\n c] \n d {x\ny} e");
    ASSERT_EQ(length_of(b), 5u);
    auto nl = [](const Cell& c) { return (c.header & FLAG_NEW_LINE) != 0; };
    EXPECT_FALSE(nl(item(b, 0)));
    EXPECT_FALSE(nl(item(b, 1)));
    EXPECT_TRUE(nl(item(item(b, 1), 1)));
    EXPECT_TRUE(nl(item(b, 2)));
    EXPECT_TRUE(nl(item(b, 3)));  // its own line breaks count
    EXPECT_FALSE(nl(item(b, 4)));
}

// ---------------------------------------------------------------- tracing

namespace {

struct Recorder {
    std::vector<std::string> events;
    bool drop_loads_of_integers = false;
    uint32_t stop_on = 0;
    std::function<bool(lexer::TraceCall&)> extra;
};

bool record(void* context, lexer::TraceCall& call) {
    auto* r = static_cast<Recorder*>(context);
    std::string e = lexer::event_name(call.event);
    e += ":";
    e += type_of(&call.type) == TYPE_DATATYPE ? type_names[call.type.data1].name : "-";
    e += "@";
    e += std::to_string(call.input->data1);
    r->events.push_back(e);
    if (r->extra && !r->extra(call)) return false;
    if (call.event == r->stop_on) return false;
    if (r->drop_loads_of_integers && call.event == lexer::EV_LOAD && type_of(&call.token) == TYPE_INTEGER) return false;
    return true;
}

int transcode(const std::string& text, Recorder& r, uint32_t mask, Cell* result, uint32_t* consumed = nullptr) {
    Cell input{};
    string::make_at(&input, uint32_t(text.size()), 1);
    SeriesBuffer* b = node_buffer(input.data2);
    std::memcpy(b->data(), text.data(), text.size());
    b->tail = uint32_t(text.size());
    lexer::Tracer tracer{record, &r, mask};
    return lexer::scan_string_value(result, &input, -1, false, true, true, false, consumed, &tracer, nullptr);
}

}  // namespace

TEST_F(LexerTest, TraceEventsFollowTheMask) {
    Recorder r;
    Cell result{};
    transcode("[a 12]", r, lexer::EV_ALL, &result);
    std::vector<std::string> expected = {
        "prescan:-@0", "open:block!@0",   "prescan:word!@2", "scan:word!@2",   "load:word!@2",
        "prescan:integer!@5", "scan:integer!@5", "load:integer!@5", "prescan:-@5", "close:block!@6",
    };
    EXPECT_EQ(r.events, expected);
    Recorder only;
    only.stop_on = lexer::EV_ERROR;
    transcode("[a 1x]", only, lexer::EV_ERROR | lexer::EV_CLOSE, &result);
    ASSERT_EQ(only.events.size(), 1u);
    EXPECT_EQ(only.events[0].substr(0, 11), "error:pair!");
    std::string_view names[] = {"open", "close", "error", "other"};
    EXPECT_EQ(lexer::event_mask_of_names(names, 4), uint32_t(lexer::EV_OPEN | lexer::EV_CLOSE | lexer::EV_ERROR));
    EXPECT_EQ(lexer::event_mask_of_names(names, 0), 0u);
}

TEST_F(LexerTest, CallbackAnswersSteerTheScan) {
    Recorder r;
    r.drop_loads_of_integers = true;
    Cell result{};
    transcode("1 a 2 b", r, lexer::EV_LOAD, &result);
    ASSERT_EQ(length_of(result), 2u);
    EXPECT_EQ(word_name(item(result, 1)), "b");
    // A false answer to an error event stops the scan quietly.
    Recorder quiet;
    quiet.stop_on = lexer::EV_ERROR;
    EXPECT_EQ(transcode("1 [2 12a", quiet, lexer::EV_ERROR, &result), TYPE_ERROR);
    EXPECT_EQ(length_of(result), 1u);
}

TEST_F(LexerTest, NestedScansKeepTheirOwnInputAndBuffers) {
    // The callback scans other text (and makes garbage) at every event: the
    // outer scan's input and values must be untouched.
    Recorder r;
    int inner_scans = 0;
    r.extra = [&](lexer::TraceCall&) {
        // Through a string! value, as an inner transcode would: its UTF-8
        // form is longer than the outer text's.
        std::string text = "[x y z] \"a much longer text than the outer one, to make any shared scratch grow\"";
        Cell str{};
        string::make_at(&str, uint32_t(text.size()), 1);
        SeriesBuffer* b = node_buffer(str.data2);
        std::memcpy(b->data(), text.data(), text.size());
        b->tail = uint32_t(text.size());
        Cell inner{};
        lexer::scan_string_value(&inner, &str, -1, false, true, true, false, nullptr, nullptr, nullptr);
        EXPECT_EQ(length_of(inner), 2u);
        inner_scans++;
        return true;
    };
    Cell result{};
    transcode("[1 two \"three\"] 4", r, lexer::EV_ALL, &result);
    EXPECT_GT(inner_scans, 8);
    ASSERT_EQ(length_of(result), 2u);
    Cell b = item(result, 0);
    ASSERT_EQ(length_of(b), 3u);
    EXPECT_EQ(int_of(item(b, 0)), 1);
    EXPECT_EQ(word_name(item(b, 1)), "two");
    EXPECT_EQ(string::to_utf8(&(const Cell&)item(b, 2)), "three");
    EXPECT_EQ(int_of(item(result, 1)), 4);
}

TEST_F(LexerTest, CallbackMovesTheInputOnlyWithinTheScan) {
    // Moving forward skips text; moving far outside is clamped to the range.
    Recorder r;
    r.extra = [](lexer::TraceCall& call) {
        if (call.event == lexer::EV_LOAD && type_of(&call.token) == TYPE_INTEGER && call.token.data2 == 1)
            call.input->data1 = 4;  // past "2 "
        return true;
    };
    Cell result{};
    uint32_t consumed = 0;
    transcode("1 2 3", r, lexer::EV_LOAD, &result, &consumed);
    ASSERT_EQ(length_of(result), 2u);
    EXPECT_EQ(int_of(item(result, 1)), 3);
    Recorder far;
    far.extra = [](lexer::TraceCall& call) {
        call.input->data1 = 0x7FFFFFF0;
        return true;
    };
    transcode("1 2 3", far, lexer::EV_LOAD, &result, &consumed);
    EXPECT_EQ(length_of(result), 1u);
    EXPECT_EQ(consumed, 5u);
}

// Every input the fuzzer ever found a fault with, replayed in all its modes.
TEST_F(LexerTest, FuzzerFindingsStayFixed) {
    const char* root = std::getenv("VYX_SOURCE_DIR");
    std::filesystem::path dir = std::filesystem::path(root ? root : ".") / "tests/data/lexer-crashes";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no " << dir;
    money::currencies = {"USD", "EUR"};
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        lexer_fuzz::run_once(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        replayed++;
    }
    EXPECT_GT(replayed, 0);
    money::currencies.clear();
}

TEST_F(LexerTest, ScanModesOfTheCallers) {
    auto bytes = [](const char* t) { return reinterpret_cast<const uint8_t*>(t); };
    Cell r{};
    uint32_t consumed = 0;
    // One value (transcode/next, to and make): the first value alone.
    EXPECT_EQ(lexer::scan_utf8_source(&r, bytes("12 b c"), 6, true, true, true, false, &consumed, nullptr, nullptr, nullptr),
              TYPE_INTEGER);
    EXPECT_EQ(type_of(&r), TYPE_INTEGER);
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(lexer::scan_utf8_source(&r, bytes("[1 [2]] 3"), 9, true, true, true, false, &consumed, nullptr, nullptr, nullptr),
              TYPE_BLOCK);
    EXPECT_EQ(consumed, 7u);
    EXPECT_EQ(length_of(r), 2u);
    // keep-block: still a block.
    lexer::scan_utf8_source(&r, bytes("x y"), 3, true, true, true, true, &consumed, nullptr, nullptr, nullptr);
    ASSERT_EQ(type_of(&r), TYPE_BLOCK);
    EXPECT_EQ(length_of(r), 1u);
    // Into a target block.
    Cell target = scan("0");
    lexer::scan_utf8_source(&r, bytes("1 2"), 3, false, true, true, false, &consumed, nullptr, nullptr, &target);
    EXPECT_EQ(length_of(target), 3u);
    // Without load nothing is stored and errors do not raise.
    Cell untouched{TYPE_LOGIC, 1, 0, 0};
    EXPECT_EQ(lexer::scan_utf8_source(&untouched, bytes("1 12a"), 5, false, true, false, false, &consumed, nullptr,
                                      nullptr, nullptr),
              TYPE_ERROR);
    EXPECT_EQ(type_of(&untouched), TYPE_LOGIC);
    // Prescan stops after the first value and stores nothing.
    EXPECT_EQ(lexer::scan_utf8_source(&r, bytes("\"a\" b"), 5, false, false, true, false, &consumed, nullptr, nullptr,
                                      nullptr),
              TYPE_STRING);
    EXPECT_EQ(consumed, 3u);
    // A string! input reports characters, not bytes.
    Cell text{};
    string::make_at(&text, 8, 2);
    SeriesBuffer* b = node_buffer(text.data2);
    const char16_t chars[] = u"\u00e9t\u00e9 x";
    std::memcpy(b->data(), chars, 10);
    b->tail = 10;
    lexer::scan_string_value(&r, &text, -1, true, true, true, false, &consumed, nullptr, nullptr);
    EXPECT_EQ(word_name(r), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(consumed, 3u);
}

// A collection at every allocation moves every buffer: values made earlier in
// the scan, the open blocks and the error texts must all survive.
TEST_F(LexerTest, SurvivesCollectionsAtEveryAllocation) {
    const std::string text =
        "a [b \"two\" [c 3 {four}] #{0102}] x/y/z: %file <tag> 1.2.3 http://x.y #[k \"v\"] \"\u00e9\"";
    collector::active = true;
    const uint32_t saved = collector::stress_every;
    collector::stress_every = 1;
    Cell result{};
    collector::Root keep(&result);
    lexer::load_block(&result, text);
    std::string error = error_of("[a \"b\" [c 12a");
    collector::stress_every = saved;
    collector::active = false;
    EXPECT_EQ(error, "(line 1) invalid integer! at 12a");
    ASSERT_EQ(length_of(result), 9u);
    Cell inner = item(result, 1);
    ASSERT_EQ(length_of(inner), 4u);
    EXPECT_EQ(string::to_utf8(&(const Cell&)item(inner, 1)), "two");
    Cell deeper = item(inner, 2);
    ASSERT_EQ(length_of(deeper), 3u);
    EXPECT_EQ(word_name(item(deeper, 0)), "c");
    EXPECT_EQ(string::to_utf8(&(const Cell&)item(deeper, 2)), "four");
    EXPECT_EQ(length_of(item(result, 2)), 3u);
    EXPECT_EQ(string::to_utf8(&(const Cell&)item(result, 3)), "file");
    EXPECT_EQ(string::to_utf8(&(const Cell&)item(result, 8)), "\xC3\xA9");
}

TEST_F(LexerTest, ConversionReadersReportFailureByCode) {
    auto text = [](const std::u16string& chars) {
        Cell s{};
        string::make_at(&s, uint32_t(chars.size()), 2);
        SeriesBuffer* b = node_buffer(s.data2);
        std::memcpy(b->data(), chars.data(), chars.size() * 2);
        b->tail = uint32_t(chars.size() * 2);
        return s;
    };
    int code = 0;
    Cell s = text(u"x-2'147'483'648");
    EXPECT_EQ(lexer::load_integer_syntax(&s, 1, 14, code), INT32_MIN);
    EXPECT_EQ(code, 0);
    s = text(u"2147483648");
    lexer::load_integer_syntax(&s, 0, 10, code);
    EXPECT_EQ(code, -2);
    s = text(u"12a");
    lexer::load_integer_syntax(&s, 0, 3, code);
    EXPECT_EQ(code, -1);
    s = text(u"1'000,25");
    EXPECT_EQ(lexer::load_float_syntax(&s, 0, 8, code), 1000.25);
    EXPECT_EQ(code, 0);
    s = text(u"1.e5");
    EXPECT_TRUE(std::isnan(lexer::load_float_syntax(&s, 0, 4, code)));
    EXPECT_EQ(code, -1);
    Cell r{};
    s = text(u"1.2.3.4");
    lexer::load_tuple_syntax(&s, 0, 7, code, &r);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(tuple::length(&r), 4);
    s = text(u"1.2");
    lexer::load_tuple_syntax(&s, 0, 3, code, &r);
    EXPECT_EQ(code, -1);
    money::currencies = {"USD"};
    s = text(u"-usd$1'234.5");
    lexer::load_money_syntax(&s, 0, 12, code, &r);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(money::is_negative(&r));
    EXPECT_EQ(money::currency(&r), 1u);
    for (const char16_t* bad : {u"USD1", u"$'1", u"$1'", u"$1.", u"$1.2.3", u"EUR$1", u"\u00e91"}) {
        s = text(bad);
        lexer::load_money_syntax(&s, 0, uint32_t(std::char_traits<char16_t>::length(bad)), code, &r);
        EXPECT_EQ(code, -1);
    }
    money::currencies.clear();
}
