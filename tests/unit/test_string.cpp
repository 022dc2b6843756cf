// string!: fixed-width storage with widening, molding, comparison and the
// conversions.
#include <string>

#include "datatypes/integer.h"
#include "runtime_fixture.h"
#include "series_test_util.h"

using namespace vyx;
using namespace vyx::test;

namespace {

Cell appended(std::u32string_view chars) {
    Cell s;
    string::make_at(&s, 0);
    for (char32_t c : chars) string::append_char(node_buffer(s.data2), uint32_t(c));
    return s;
}

}  // namespace

TEST_F(RuntimeTest, StringWidening) {
    // Appending 0xE9 widens; writing it inside the text keeps one byte.
    Cell a = appended(U"\u00E9");
    EXPECT_EQ(unit_of(a), 2u);
    Cell p = str("x");
    string::poke_char(node_buffer(p.data2), 0, 0xE9);
    EXPECT_EQ(unit_of(p), 1u);
    EXPECT_EQ(string::char_at(&a, 0), 0xE9u);
    EXPECT_EQ(string::char_at(&p, 0), 0xE9u);
    EXPECT_EQ(cmp(a, p, COMP_STRICT_EQUAL), 0);

    // Past the BMP goes straight to four bytes, keeping what was there.
    Cell w = str("ab");
    string::append_char(node_buffer(w.data2), 0x1F600);
    EXPECT_EQ(unit_of(w), 4u);
    EXPECT_EQ(text(w), "ab\xF0\x9F\x98\x80");

    with_args({w}, [&](Cell* a) { handler<act::Clear>(TYPE_STRING, A_CLEAR)(a); });
    string::append_char(node_buffer(w.data2), 'z');
    EXPECT_EQ(unit_of(w), 1u);
    EXPECT_EQ(text(w), "z");
    Cell partly = str(U"ab\u0100");
    with_args({at(partly, 1)}, [&](Cell* a) { handler<act::Clear>(TYPE_STRING, A_CLEAR)(a); });
    EXPECT_EQ(unit_of(partly), 2u);  // text left: the unit stays
    EXPECT_EQ(text(partly), "a");

    // Inserting and overwriting at a position widen before they address it.
    Cell s = str("abcd");
    string::insert_char(node_buffer(s.data2), 2, 0x263A);
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(text(s), "ab\xE2\x98\xBA" "cd");
    string::overwrite_char(node_buffer(s.data2), 5, '!');
    EXPECT_EQ(text(s), "ab\xE2\x98\xBA" "cd!");
    string::remove_part(&s, 1, 3);
    EXPECT_EQ(text(s), "ad!");

    // A long unit-1 text widened past its capacity keeps every character.
    Cell big = str(std::string(1000, 'q'));
    string::append_char(node_buffer(big.data2), 0x10000);
    EXPECT_EQ(unit_of(big), 4u);
    EXPECT_EQ(series::rs_length(&big), 1001u);
    EXPECT_EQ(string::char_at(&big, 999), uint32_t('q'));
    EXPECT_EQ(string::char_at(&big, 1000), 0x10000u);
}

TEST_F(RuntimeTest, StringConcatenate) {
    Cell dst = str("hello");
    Cell wide = str(U"\u0100!");
    string::concatenate(&dst, &wide, -1, 0, true, false);
    EXPECT_EQ(text(dst), "hello\xC4\x80!");
    EXPECT_EQ(unit_of(wide), 2u);

    Cell narrow = str("XY");
    string::concatenate(&dst, &narrow, 1, 2, true, true);  // insert one character at 2
    EXPECT_EQ(text(dst), "heXllo\xC4\x80!");
    EXPECT_EQ(unit_of(narrow), 1u);  // kept: converted on the way

    Cell self = str("abc");
    Cell tail = at(self, 1);
    string::concatenate(&self, &tail, -1, 0, false, true);
    EXPECT_EQ(text(self), "bcabc");
}

TEST_F(RuntimeTest, StringMoldDelimiters) {
    struct { Cell s; const char* mold; } cases[] = {
        {str(std::string(49, 'a')), nullptr},
        {str(std::string(50, 'a')), nullptr},
        {str("a\nb\nc"), "\"a^/b^/c\""},
        {str("a\nb\nc\nd"), "{a^/b^/c^/d}"},
        {str("say \"hi\""), "{say \"hi\"}"},
        {str("a\"b"), "{a\"b}"},
        {str("\"{x"), "{\"^{x}"},        // an unmatched brace is escaped
        {str("\"{x}"), "{\"{x}}"},        // a matched one is not
        {str("\"}{"), "{\"^}^{}"},
        {str("{x"), "\"{x\""},            // in quotes braces need nothing
        {str("a^b"), "\"a^^b\""},
        {str(std::u32string(U"\x1E")), "\"^(1E)\""},
        {str(std::u32string(U"\x85")), "\"^(85)\""},
        {str(std::u32string(U"\u00E9")), "\"\xC3\xA9\""},
        {str(std::u32string(U"\t\x1B\x7F", 3)), "\"^-^[^~\""},
        {str(std::u32string(U"\0", 1)), "\"^@\""},
        {at(str("abc"), 1), "\"bc\""},
    };
    for (auto& c : cases) {
        std::string molded = mold(c.s);
        if (!c.mold) {
            uint32_t n = series::rs_length(&c.s);
            char open = n < 50 ? '"' : '{', close = n < 50 ? '"' : '}';
            EXPECT_EQ(molded, open + std::string(n, 'a') + close);
        } else {
            EXPECT_EQ(molded, c.mold);
        }
    }
    EXPECT_EQ(mold(str(std::u32string(U"\u00E9\x85"))), "\"\xC3\xA9^(85)\"");
    EXPECT_EQ(mold(str(std::u32string(U"\u00E9\x85")), true), "\"^(E9)^(85)\"");
    EXPECT_EQ(form(str("a\"b")), "a\"b");
    EXPECT_EQ(form(str("abcdef"), 3), "abc");
}

TEST_F(RuntimeTest, StringCompare) {
    struct { Cell a, b; int op; int answer; } cases[] = {
        {str("abc"), str("ABC"), COMP_EQUAL, 0},
        {str("abc"), str("ABC"), COMP_STRICT_EQUAL, 1},
        {str("abc"), str("abd"), COMP_EQUAL, -1},
        {str("ab"), str("abc"), COMP_LESSER, -1},      // a prefix orders first
        {str("abc"), str("ab"), COMP_LESSER, 1},
        {str("ab"), str("abc"), COMP_EQUAL, 1},
        {str(""), str(""), COMP_SORT, 0},
        {str(""), str("a"), COMP_SORT, -1},
        {str("a"), str(""), COMP_SORT, 1},
        {str("B"), str("a"), COMP_SORT, 1},
        {str("B"), str("a"), COMP_CASE_SORT, -1},
        {str("abc"), str("abc", TYPE_FILE), COMP_EQUAL, 0},
        {str("abc"), str("abc", TYPE_FILE), COMP_LESSER, NOT_COMPARABLE},
        {str("abc"), str("abc", TYPE_FILE), COMP_STRICT_EQUAL, NOT_COMPARABLE},
        {str("1"), int_(1), COMP_EQUAL, NOT_COMPARABLE},
        {str(U"\u00E9"), str(U"\u00C9"), COMP_EQUAL, 0},  // folding beyond ASCII
    };
    for (auto& c : cases) EXPECT_EQ(cmp(c.a, c.b, c.op), c.answer) << text(c.a) << " op " << c.op;
    Cell s = str("same");
    EXPECT_EQ(cmp(s, s, COMP_SAME), 0);
    EXPECT_EQ(cmp(s, str("same"), COMP_SAME), -1);

    // Prefix matching, as find and parse use it.
    EXPECT_TRUE(string::is_match_value(&s, &s, 0));
    Cell pre = str("SA");
    EXPECT_TRUE(string::is_match_value(&s, &pre, 0));
    EXPECT_FALSE(string::is_match_value(&s, &pre, 2));
    Cell ch = chr('S');
    EXPECT_TRUE(string::is_match_value(&s, &ch, 0));
    EXPECT_TRUE(string::is_match_ascii(&s, "sam"));
    EXPECT_FALSE(string::is_match_ascii(&s, "samey"));
    EXPECT_EQ(string::position_at(&s, 'm'), 2);
    EXPECT_EQ(string::position_at(&s, 'z'), -1);
}

TEST_F(RuntimeTest, StringMakeAndTo) {
    auto make = handler<act::Make>(TYPE_STRING, A_MAKE);
    auto to = handler<act::Make>(TYPE_STRING, A_TO);
    with_args({}, [&](Cell*) {
        Cell proto = dt(TYPE_STRING);
        Cell b = block_of({int_(1), str("a"), chr('b')});
        EXPECT_EQ(text(*to(&proto, &b, TYPE_STRING)), "1ab");
        Cell n = int_(-1);
        EXPECT_RAISES(make(&proto, &n, TYPE_STRING), err::script_out_of_range);
        Cell f = flt(3e10);
        EXPECT_RAISES(make(&proto, &f, TYPE_STRING), err::script_out_of_range);
        Cell cap = int_(100);
        const Cell* empty = make(&proto, &cap, TYPE_FILE);
        EXPECT_EQ(type_of(empty), TYPE_FILE);
        EXPECT_EQ(series::rs_length(empty), 0u);
        Cell none = none_();
        EXPECT_RAISES(to(&proto, &none, TYPE_STRING), err::script_bad_to_arg);
        Cell src = at(str("hello"), 2);
        const Cell* copy = to(&proto, &src, TYPE_STRING);
        EXPECT_EQ(text(*copy), "llo");
        EXPECT_NE(copy->data2, src.data2);
        Cell i = int_(-42);
        EXPECT_EQ(text(*to(&proto, &i, TYPE_STRING)), "-42");
    });
}

TEST_F(RuntimeTest, StringLoad) {
    const char utf8[] = "a\xC3\xA9\xE2\x98\xBA";
    Cell s;
    string::load(reinterpret_cast<const uint8_t*>(utf8), 6, 0, &s);
    EXPECT_EQ(text(s), utf8);
    EXPECT_EQ(unit_of(s), 2u);
    const uint8_t utf16[] = {'h', 0, 0xE9, 0, 0x3A, 0x26};
    Cell w;
    string::load(utf16, 6, -1, &w);
    EXPECT_EQ(text(w), "h\xC3\xA9\xE2\x98\xBA");
    Cell b = block_of({});
    string::load_in(reinterpret_cast<const uint8_t*>(utf8), 3, 0, &b);
    EXPECT_EQ(mold(b), "[\"a\xC3\xA9\"]");
    EXPECT_EQ(unit_of(*blk::at(b.data2, 0)), 1u);  // 0xE9 fits one byte
}

TEST_F(RuntimeTest, StringPath) {
    auto path = handler<act::EvalPath>(TYPE_STRING, A_EVAL_PATH);
    Cell s = str("abc");
    Cell two = int_(2), z = chr('Z');
    EXPECT_EQ(path(&s, &two, nullptr, nullptr, false)->data2, uint32_t('b'));
    path(&s, &two, &z, nullptr, false);
    EXPECT_EQ(text(s), "aZc");
}
