#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "datatypes/string.h"
#include "runtime/case_map.h"
#include "runtime/char_width.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"
#include "runtime_fixture.h"

using namespace vyx;

TEST(CaseMap, TablesHoldTheBuiltInPairs) {
    using namespace case_data;
    EXPECT_EQ(upper_pairs_count, 1250u);
    EXPECT_EQ(lower_pairs_count, 1158u);
    EXPECT_EQ(upper_pairs_astral_count, 225u);
    EXPECT_EQ(lower_pairs_astral_count, 225u);
    EXPECT_EQ(upper_pairs[0][0], 0x61u);
    EXPECT_EQ(upper_pairs[upper_pairs_count - 1][0], 0xFF5Au);
    EXPECT_EQ(lower_pairs[lower_pairs_count - 1][1], 0xFF5Au);
    for (uint32_t i = 1; i < upper_pairs_astral_count; i++) {
        ASSERT_LT(upper_pairs_astral[i - 1][0], upper_pairs_astral[i][0]);
        ASSERT_LT(lower_pairs_astral[i - 1][0], lower_pairs_astral[i][0]);
    }
}

TEST_F(RuntimeTest, CaseFoldChar) {
    struct {
        uint32_t cp;
        uint32_t up, down;
    } cases[] = {
        {'a', 'A', 'a'},       {'A', 'A', 'a'},       {'7', '7', '7'},       {0xDF, 'S', 0xDF},
        {0x131, 'I', 0x131},   {0x130, 0x130, 'i'},   {0xFF, 0x178, 0xFF},   {0x10428, 0x10400, 0x10428},
        {0x10400, 0x10400, 0x10428}, {0x1E943, 0x1E921, 0x1E943}, {0x10570, 0x10570, 0x10570},
        {0x1F600, 0x1F600, 0x1F600}, {0xFF41, 0xFF21, 0xFF41},
    };
    for (auto& c : cases) {
        EXPECT_EQ(case_fold_char(c.cp, CASE_UPPER), c.up) << std::hex << c.cp;
        EXPECT_EQ(case_fold_char(c.cp, CASE_LOWER), c.down) << std::hex << c.cp;
    }
}

// Every BMP mapping against python3's str.upper()/str.lower() (first character).
TEST_F(RuntimeTest, CaseMapAgreesWithPython) {
    FILE* p = popen("python3 -c \"import sys\n"
                    "for c in range(0x10000):\n"
                    "  if 0xD800<=c<=0xDFFF: continue\n"
                    "  s=chr(c); sys.stdout.write('%x %x %x\\n'%(c,ord(s.upper()[0]),ord(s.lower()[0])))\" 2>/dev/null",
                    "r");
    if (!p) GTEST_SKIP();
    unsigned c, up, down;
    int n = 0, differ = 0;
    // Letters encoded after the tables' repertoire map to themselves here.
    auto later = [](unsigned x) {
        return (x >= 0xA7BA && x <= 0xA7CA) || x == 0xA7F5 || x == 0xA7F6 || x == 0x2C2F || x == 0x2C5F ||
               (x >= 0xA7D0 && x <= 0xA7D9);
    };
    while (std::fscanf(p, "%x %x %x", &c, &up, &down) == 3) {
        n++;
        if (later(c) || later(up) || later(down)) continue;
        if (case_fold_char(c, CASE_UPPER) != up || case_fold_char(c, CASE_LOWER) != down) {
            if (++differ <= 5) ADD_FAILURE() << std::hex << c;
        }
    }
    pclose(p);
    if (n == 0) GTEST_SKIP() << "python3 not available";
    EXPECT_EQ(differ, 0);
}

TEST_F(RuntimeTest, ChangeCaseWidensAndHonoursPart) {
    Cell s;
    string::make_at(&s, 4, 1);
    for (uint32_t c : {uint32_t('a'), 0xFFu, uint32_t('b'), uint32_t('c')}) unicode::append_char(s.data2, c);
    change_case(&s, CASE_UPPER);
    SeriesBuffer* b = node_buffer(s.data2);
    EXPECT_EQ(b->unit(), 2u);  // U+0178 does not fit in a byte
    EXPECT_EQ(string::char_at(b, 1), 0x178u);
    EXPECT_EQ(string::char_at(b, 3), uint32_t('C'));

    Cell two{TYPE_INTEGER, 0, 2, 0};
    Cell at = s;
    at.data1 = 1;
    change_case(&at, CASE_LOWER, &two);
    b = node_buffer(s.data2);
    EXPECT_EQ(string::char_at(b, 0), uint32_t('A'));
    EXPECT_EQ(string::char_at(b, 1), 0xFFu);
    EXPECT_EQ(string::char_at(b, 2), uint32_t('b'));
    EXPECT_EQ(string::char_at(b, 3), uint32_t('C'));

    Cell negative{TYPE_INTEGER, 0, uint32_t(-3), 0};
    change_case(&s, CASE_LOWER, &negative);
    EXPECT_EQ(string::char_at(node_buffer(s.data2), 0), uint32_t('A'));
    // A position in the same series limits the range.
    Cell upto = s;
    upto.data1 = 1;
    change_case(&s, CASE_LOWER, &upto);
    EXPECT_EQ(string::char_at(node_buffer(s.data2), 0), uint32_t('a'));
    EXPECT_EQ(string::char_at(node_buffer(s.data2), 3), uint32_t('C'));
    // An index past the tail changes nothing.
    Cell past = s;
    past.data1 = 50;
    change_case(&past, CASE_UPPER);
    EXPECT_EQ(string::char_at(node_buffer(s.data2), 0), uint32_t('a'));

    // A part that is neither a count nor a position in the same series.
    Cell other;
    string::make_at(&other, 1, 1);
    try {
        change_case(&s, CASE_UPPER, &other);
        ADD_FAILURE() << "a foreign series was taken as the part";
    } catch (const VyxError& e) {
        EXPECT_EQ(e.id.category, err::script_invalid_refine_arg.category);
        EXPECT_EQ(e.id.entry, err::script_invalid_refine_arg.entry);
        EXPECT_EQ(type_of(&e.args[0]), TYPE_WORD);
    }

    Cell ch{TYPE_CHAR, 0, 0x10428, 0};
    change_case(&ch, CASE_UPPER);
    EXPECT_EQ(ch.data2, 0x10400u);
}

TEST(CharWidth, TablesAndSpotChecks) {
    EXPECT_EQ(width_data::zero_width_count, 339u);
    EXPECT_EQ(width_data::wide_count, 122u);
    EXPECT_EQ(width_data::zero_width[0][0], 0x300u);
    EXPECT_EQ(width_data::zero_width[338][1], 0xE01EFu);
    EXPECT_EQ(width_data::wide[0][0], 0x1100u);
    EXPECT_EQ(width_data::wide[121][1], 0x3FFFDu);
    for (auto* t : {width_data::zero_width, width_data::wide}) {
        uint32_t n = t == width_data::wide ? width_data::wide_count : width_data::zero_width_count;
        for (uint32_t i = 1; i < n; i++) ASSERT_GT(t[i][0], t[i - 1][1] + 1) << "ranges overlap or touch";
    }
    struct {
        uint32_t cp;
        int width;
    } cases[] = {
        {0, 0},      {9, 1},      {'a', 1},    {127, 1},    {0x9F, 1},    {0xAD, 1},      {0x301, 0},
        {0x4E00, 2}, {0x3FFFD, 2}, {0x3FFFE, 1}, {0x1160, 0}, {0x200B, 1}, {0x2614, 2},    {0x302A, 0},
        {0x3000, 2}, {0x1F004, 2}, {0x1F600, 2}, {0xFEFF, 1}, {0x600, 0},   {0xE0020, 1},   {0x1171E, 0},
        {0x16FE4, 0}, {0x10FFFF, 1},
    };
    for (auto& c : cases) EXPECT_EQ(char_display_width(c.cp), c.width) << std::hex << c.cp;
}

// Spot checks across the whole range against python3's categories and widths.
TEST(CharWidth, AgreesWithPythonCategories) {
    FILE* p = popen("python3 -c \"import unicodedata as u,sys\n"
                    "for c in range(0x300,0x110000,7):\n"
                    "  ch=chr(c); cat=u.category(ch)\n"
                    "  w=0 if cat in ('Mn','Me') else 2 if cat!='Cn' and u.east_asian_width(ch) in 'WF' else -1\n"
                    "  sys.stdout.write('%x %d\\n'%(c,w))\" 2>/dev/null",
                    "r");
    if (!p) GTEST_SKIP();
    unsigned c;
    int w, n = 0, differ = 0;
    while (std::fscanf(p, "%x %d", &c, &w) == 2) {
        n++;
        if (w < 0) continue;  // neither class: decided by the listed exceptions and block defaults
        if (char_display_width(c) != w && ++differ <= 5) ADD_FAILURE() << std::hex << c;
    }
    pclose(p);
    if (n == 0) GTEST_SKIP() << "python3 not available";
    EXPECT_EQ(differ, 0);
}
