// The symbol table: interning, case variants sharing a canonical symbol, the
// names' UTF-8 and string! forms, and symbol! comparison.
#include <gtest/gtest.h>

#include "datatypes/actions.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/context.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include <vector>
#include "runtime/stack.h"
#include "runtime_fixture.h"

using namespace vyx;

using SymbolTest = RuntimeTest;

TEST_F(SymbolTest, CaseVariantsShareTheFirstSpellingAsCanonical) {
    int32_t abc = symbol::make("abc");
    int32_t Abc = symbol::make("Abc");
    int32_t ABC = symbol::make("ABC");
    EXPECT_NE(abc, Abc);
    EXPECT_NE(Abc, ABC);
    EXPECT_EQ(symbol::resolve(abc), abc);
    EXPECT_EQ(symbol::resolve(Abc), abc);
    EXPECT_EQ(symbol::resolve(ABC), abc);
    EXPECT_EQ(symbol::alias_of(abc), -1);
    EXPECT_EQ(symbol::alias_of(ABC), abc);
    EXPECT_EQ(symbol::make("abc"), abc);
    EXPECT_EQ(symbol::make("ABC"), ABC);
    EXPECT_EQ(symbol::name(Abc), "Abc");

    // The first spelling met is canonical, whatever its case.
    int32_t Zed = symbol::make("Zed");
    int32_t zed = symbol::make("zed");
    EXPECT_EQ(symbol::resolve(zed), Zed);
    EXPECT_EQ(symbol::alias_of(Zed), -1);

    // Any-case interning (boot) never makes a variant.
    EXPECT_EQ(symbol::make_any_case("ZED"), Zed);
    EXPECT_EQ(symbol::make_any_case("brand-NEW"), symbol::make("brand-NEW"));
}

TEST_F(SymbolTest, NonAsciiLettersAreNotFolded) {
    int32_t lower = symbol::make("caf\xC3\xA9");   // café
    int32_t upper = symbol::make("CAF\xC3\x89");   // CAFÉ
    int32_t mixed = symbol::make("CAF\xC3\xA9");   // CAFé: an ASCII-only variant of café
    EXPECT_EQ(symbol::resolve(upper), upper) << "É and é differ beyond ASCII";
    EXPECT_EQ(symbol::resolve(mixed), lower);
}

TEST_F(SymbolTest, NamesAndOtherEntries) {
    int32_t id = symbol::make("append");
    EXPECT_EQ(symbol::name_view(id), "append");
    // The UTF-8 buffer ends with a NUL that its tail does not count.
    Cell* rec = symbol::record(id);
    SeriesBuffer* b = node_buffer(rec->data3);
    EXPECT_EQ(b->tail - b->offset, 6u);
    EXPECT_EQ(b->head()[6], 0);
    EXPECT_EQ(rec->data2, 0u) << "no string form until something needs it";

    const uint16_t wide[] = {'a', 0x3B1, 'b'};  // aαb
    int32_t w = symbol::make_chars(wide, 3, 2);
    EXPECT_EQ(symbol::name(w), "a\xCE\xB1" "b");
    EXPECT_EQ(symbol::make("a\xCE\xB1" "b"), w);

    Cell str;
    string::make_at(&str, 8);
    context::keep_in_root(&str);
    string::concatenate_literal(&str, "append", NO_LIMIT);
    EXPECT_EQ(symbol::make_from_string(&str), id);

    // The string form shares one buffer between calls.
    Cell* pushed = symbol::push_name(w);
    EXPECT_EQ(type_of(pushed), TYPE_STRING);
    EXPECT_EQ(string::to_utf8(pushed), "a\xCE\xB1" "b");
    EXPECT_EQ(node_buffer(pushed->data2)->unit(), 2u);
    EXPECT_EQ(symbol::get(w)->data2, pushed->data2);

    EXPECT_EQ(symbol::make(""), symbol::make(""));
}

TEST_F(SymbolTest, SymbolValuesCompareAsStrings) {
    auto cmp = reinterpret_cast<act::Compare>(get_handler(TYPE_SYMBOL, A_COMPARE));
    ASSERT_NE(cmp, nullptr);
    Cell a = *symbol::record(symbol::make("apple"));
    Cell A = *symbol::record(symbol::make("APPLE"));
    Cell b = *symbol::record(symbol::make("banana"));
    EXPECT_EQ(cmp(&a, &A, COMP_EQUAL), 0);
    EXPECT_NE(cmp(&a, &A, COMP_STRICT_EQUAL), 0);
    EXPECT_LT(cmp(&a, &b, COMP_LESSER), 0);
    EXPECT_GT(cmp(&b, &A, COMP_GREATER), 0);
    Cell integer{TYPE_INTEGER, 0, 1, 0};
    EXPECT_EQ(cmp(&a, &integer, COMP_EQUAL), NOT_COMPARABLE);
    // Every other action is unsupported.
    EXPECT_EQ(get_handler(TYPE_SYMBOL, A_MOLD), nullptr);
}

// Collections at every allocation must lose nothing the table, the global
// context or a context under construction refers to.
TEST_F(SymbolTest, SurvivesCollectionsAtEveryAllocation) {
    collector::active = true;
    const uint32_t saved = collector::stress_every;
    collector::stress_every = 1;
    std::vector<int32_t> ids;
    for (int i = 0; i < 3000; i++) ids.push_back(symbol::make("name-" + std::to_string(i)));
    for (int i = 0; i < 3000; i += 7) {
        Cell w;
        word::make_at(ids[size_t(i)], &w);
        Cell v{TYPE_INTEGER, 0, uint32_t(i), 0};
        context::set(&w, &v);
    }
    Node ctx = context::create(4, false, false, context::global, context::KIND_OBJECT);
    Cell holder{TYPE_OBJECT, ctx, 0, 0};
    collector::Root keep(&holder);
    context::add(ctx, symbol::make("extra"));
    collector::collect_garbage();
    collector::active = false;
    collector::stress_every = saved;
    for (int i = 0; i < 3000; i++) ASSERT_EQ(symbol::name(ids[size_t(i)]), "name-" + std::to_string(i));
    for (int i = 0; i < 3000; i += 7) {
        Cell w;
        word::make_at(ids[size_t(i)], &w);
        ASSERT_EQ(context::get(&w)->data2, uint32_t(i));
    }
    EXPECT_GE(context::find_word(ctx, symbol::make("name-700"), true), 0);
    EXPECT_GE(context::find_word(ctx, symbol::make("extra"), true), 0);
    EXPECT_EQ(symbol::make("name-2999"), ids.back());
}
