// char!: code point arithmetic inside 0..0x10FFFF, conversions, comparison
// and the molded forms.
#include "datatypes/binary.h"
#include "datatypes/char.h"
#include "runtime_fixture.h"
#include "series_test_util.h"

using namespace vyx;
using namespace vyx::test;

namespace {

Cell to_char(Cell v) {
    Cell r;
    with_args({}, [&](Cell*) {
        Cell proto = dt(TYPE_CHAR);
        r = *handler<act::Make>(TYPE_CHAR, A_TO)(&proto, &v, TYPE_CHAR);
    });
    return r;
}

}  // namespace

TEST_F(RuntimeTest, CharMath) {
    struct { int action; Cell a, b; uint32_t result; } cases[] = {
        {A_ADD, chr('a'), int_(1), 'b'},          {A_DIVIDE, chr('a'), int_(2), 48},
        {A_SUBTRACT, chr('b'), chr('a'), 1},      {A_MULTIPLY, chr(0x100), int_(0x100), 0x10000},
        {A_ADD, chr('a'), flt(1.9), 'b'},         {A_REMAINDER, chr('a'), int_(10), 7},
        {A_XOR_T, chr('a'), int_(0x20), 'A'},     {A_ADD, chr(0x10FFFE), int_(1), 0x10FFFF},
    };
    for (auto& c : cases) {
        Cell r = call(c.action, {c.a, c.b});
        EXPECT_EQ(type_of(&r), TYPE_CHAR);
        EXPECT_EQ(r.data2, c.result) << c.action;
    }
    EXPECT_RAISES(call(A_SUBTRACT, {chr('a'), int_(98)}), err::math_overflow);
    EXPECT_RAISES(call(A_ADD, {chr(0x10FFFF), int_(1)}), err::math_overflow);
    EXPECT_RAISES(call(A_MULTIPLY, {chr(0x10000), int_(0x10000)}), err::math_overflow);  // leaves 32 bits
    EXPECT_RAISES(call(A_ADD, {chr('a'), flt(1e300)}), err::math_overflow);
    EXPECT_RAISES(call(A_DIVIDE, {chr('a'), int_(0)}), err::math_zero_divide);
    EXPECT_RAISES(call(A_ADD, {chr('a'), str("b")}), err::script_invalid_type);
    // Inherited from integer!; negate and the like are not for characters.
    EXPECT_EQ(call(A_ABSOLUTE, {chr('a')}).data2, uint32_t('a'));
    EXPECT_EQ(get_handler(TYPE_CHAR, A_EVEN_Q), get_handler(TYPE_INTEGER, A_EVEN_Q));
    EXPECT_EQ(get_handler(TYPE_CHAR, A_NEGATE), nullptr);
    EXPECT_EQ(get_handler(TYPE_CHAR, A_POWER), nullptr);
}

TEST_F(RuntimeTest, CharConversionsAndCompare) {
    EXPECT_EQ(to_char(int_(65)).data2, uint32_t('A'));
    EXPECT_EQ(to_char(flt(65.9)).data2, uint32_t('A'));
    EXPECT_EQ(to_char(str("xyz")).data2, uint32_t('x'));
    EXPECT_EQ(to_char(at(str("xyz"), 2)).data2, uint32_t('z'));
    EXPECT_EQ(to_char(int_(0x10FFFF)).data2, 0x10FFFFu);
    EXPECT_RAISES(to_char(int_(0x110000)), err::script_out_of_range);
    EXPECT_RAISES(to_char(int_(-1)), err::script_out_of_range);
    EXPECT_RAISES(to_char(flt(-0.5e10)), err::script_out_of_range);
    EXPECT_RAISES(to_char(str("")), err::script_bad_to_arg);
    EXPECT_RAISES(to_char(none_()), err::script_bad_to_arg);
    Cell bin;
    binary::make_at(&bin, 8);
    for (uint8_t byte : {0xE2, 0x98, 0xBA, 0x41}) {
        SeriesBuffer* b = node_buffer(bin.data2);
        *reserve_tail_bytes(b, 1) = byte;
    }
    EXPECT_EQ(to_char(bin).data2, 0x263Au);

    struct { Cell a, b; int op; int answer; } cases[] = {
        {chr('a'), chr('A'), COMP_EQUAL, 1},         {chr('a'), int_(97), COMP_EQUAL, 0},
        {chr('a'), int_(97), COMP_STRICT_EQUAL, 1},  {chr('a'), chr('b'), COMP_SORT, -1},
        {chr('a'), str("a"), COMP_EQUAL, NOT_COMPARABLE},
    };
    for (auto& c : cases) EXPECT_EQ(cmp(c.a, c.b, c.op), c.answer);
}

TEST_F(RuntimeTest, CharMold) {
    struct { uint32_t cp; const char* mold; const char* mold_all; } cases[] = {
        {'a', "#\"a\"", "#\"a\""},           {'\n', "#\"^/\"", "#\"^/\""},
        {'"', "#\"^\"\"", "#\"^\"\""},       {'^', "#\"^^\"", "#\"^^\""},
        {0, "#\"^@\"", "#\"^@\""},           {'\t', "#\"^-\"", "#\"^-\""},
        {30, "#\"^(1E)\"", "#\"^(1E)\""},    {31, "#\"^_\"", "#\"^_\""},
        {127, "#\"^~\"", "#\"^~\""},         {0x85, "#\"^(85)\"", "#\"^(85)\""},
        {0xE9, "#\"\xC3\xA9\"", "#\"^(E9)\""}, {0x1F600, "#\"\xF0\x9F\x98\x80\"", "#\"^(1F600)\""},
    };
    for (auto& c : cases) {
        EXPECT_EQ(mold(chr(c.cp)), c.mold);
        EXPECT_EQ(mold(chr(c.cp), true), c.mold_all);
    }
    EXPECT_EQ(form(chr(0xE9)), "\xC3\xA9");
    EXPECT_EQ(form(chr('^')), "^");
}
