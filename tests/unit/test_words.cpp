// The word datatypes: constructors, mold/form, conversion, comparison, index?.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/raise.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {

// Strings made here are kept in the root block, out of the collector's reach.
struct WordTest : RuntimeTest {
    static Cell new_string() {
        Cell out;
        string::make_at(&out, 16);
        context::keep_in_root(&out);
        return out;
    }
    static Cell unbound(const char* name, int type) {
        return word::make_cell(type, context::global, symbol::make(name), -1);
    }
    static std::string mold(Cell* value, int part = NO_LIMIT, int* left = nullptr) {
        Cell out = new_string();
        auto fn = reinterpret_cast<act::Mold>(get_handler(type_of(value), A_MOLD));
        int rest = fn(value, &out, false, false, false, part, 0);
        if (left) *left = rest;
        return string::to_utf8(&out);
    }
    static std::string form(Cell* value) {
        Cell out = new_string();
        reinterpret_cast<act::Form>(get_handler(type_of(value), A_FORM))(value, &out, NO_LIMIT);
        return string::to_utf8(&out);
    }
    static const Cell* to(int type, Cell* spec) {
        Cell proto{TYPE_DATATYPE, uint32_t(type), 0, 0};
        return reinterpret_cast<act::Make>(get_handler(type, A_TO))(&proto, spec, type);
    }
    static int compare(Cell* a, Cell* b, int op) {
        return reinterpret_cast<act::Compare>(get_handler(type_of(a), A_COMPARE))(a, b, op);
    }
    static Cell text(const char* s) {
        Cell str = new_string();
        string::concatenate_literal(&str, s, NO_LIMIT);
        return str;
    }
    template <typename F>
    static std::string raised(F fn) {
        try {
            fn();
        } catch (const VyxError& e) {
            return std::to_string(e.id.category) + "/" + std::to_string(e.id.entry);
        }
        return "none";
    }
    static std::string id(err::Id e) { return std::to_string(e.category) + "/" + std::to_string(e.entry); }
};

}  // namespace

TEST_F(WordTest, EveryKindMoldsAsWritten) {
    Cell words[] = {unbound("a", TYPE_SET_WORD), unbound("b", TYPE_LIT_WORD), unbound("c", TYPE_GET_WORD),
                    unbound("d", TYPE_REFINEMENT), unbound("e", TYPE_ISSUE), unbound("f", TYPE_WORD)};
    std::string molded;
    for (Cell& w : words) {
        if (!molded.empty()) molded += ' ';
        molded += mold(&w);
    }
    EXPECT_EQ(molded, "a: 'b :c /d #e f");
    std::string formed;
    for (Cell& w : words) formed += form(&w);
    EXPECT_EQ(formed, "abcdef");

    // Prefixes count against the budget; non-ASCII names widen the output.
    int left = 0;
    Cell r = unbound("part", TYPE_REFINEMENT);
    EXPECT_EQ(mold(&r, 3, &left), "/pa");
    EXPECT_EQ(left, -2);
    Cell greek = unbound("\xCE\xB1\xCE\xB2", TYPE_SET_WORD);  // αβ:
    EXPECT_EQ(mold(&greek), "\xCE\xB1\xCE\xB2:");
}

TEST_F(WordTest, ConversionFromStringsAndOtherWords) {
    Cell s = text("a:");
    const Cell* w = to(TYPE_WORD, &s);
    EXPECT_EQ(type_of(w), TYPE_WORD);
    EXPECT_EQ(symbol::name(word::symbol_of(w)), "a");

    for (const char* bad : {"1", "a b", "", "'a:", "a/b", "#", "12abc", "FFh", "<tag>", "a@b", "+1"}) {
        Cell t = text(bad);
        EXPECT_EQ(raised([&] { to(TYPE_WORD, &t); }), id(err::script_invalid_chars)) << bad;
    }
    for (const char* good : {"+", "-", "<", "<=", "<>", "//", "/", "a.b", "-a", "ok?", "x'"}) {
        Cell t = text(good);
        EXPECT_EQ(raised([&] { to(TYPE_WORD, &t); }), "none") << good;
    }

    // Word kinds are retyped and keep their binding.
    Cell bound;
    word::make_at(symbol::make("kept"), &bound);
    Cell spec = bound;
    const Cell* lit = to(TYPE_LIT_WORD, &spec);
    EXPECT_EQ(type_of(lit), TYPE_LIT_WORD);
    EXPECT_EQ(word::ctx_of(lit), context::global);
    EXPECT_EQ(word::index_of(lit), word::index_of(&bound));

    // Issues go through the name check; #1 is no word.
    // (The handlers write their result over the spec's cell: convert copies.)
    const Cell issue_a = unbound("a", TYPE_ISSUE);
    Cell spec_a = issue_a;
    EXPECT_EQ(word::index_of(to(TYPE_WORD, &spec_a)), -1) << "left unbound: the global context lacks a";
    Cell global_a;
    word::make_at(symbol::make("a"), &global_a);
    spec_a = issue_a;
    const Cell* from_issue = to(TYPE_WORD, &spec_a);
    EXPECT_EQ(word::ctx_of(from_issue), context::global);
    EXPECT_EQ(word::index_of(from_issue), word::index_of(&global_a));
    Cell issue_1 = unbound("1", TYPE_ISSUE);
    EXPECT_EQ(raised([&] { to(TYPE_WORD, &issue_1); }), id(err::script_bad_to_arg));

    Cell dt{TYPE_DATATYPE, TYPE_BLOCK, 0, 0};
    EXPECT_EQ(symbol::name(word::symbol_of(to(TYPE_WORD, &dt))), "block!");
    Cell yes{TYPE_LOGIC, 1, 0, 0};
    EXPECT_EQ(symbol::name(word::symbol_of(to(TYPE_SET_WORD, &yes))), "true");
    Cell number{TYPE_INTEGER, 0, 5, 0};
    EXPECT_EQ(raised([&] { to(TYPE_WORD, &number); }), id(err::script_bad_to_arg));
}

TEST_F(WordTest, IssuesKeepTheirTextAsWritten) {
    Cell s = text("has space");
    const Cell* issue = to(TYPE_ISSUE, &s);
    EXPECT_EQ(type_of(issue), TYPE_ISSUE);
    EXPECT_EQ(word::index_of(issue), -1);
    Cell copy = *issue;
    EXPECT_EQ(mold(&copy), "#has space");
    EXPECT_EQ(context::find_word(context::global, symbol::make("has space"), true), -1);
}

TEST_F(WordTest, Comparison) {
    Cell abc = unbound("abc", TYPE_LIT_WORD);
    Cell ABC = unbound("ABC", TYPE_LIT_WORD);
    Cell word_abc = unbound("abc", TYPE_WORD);
    Cell issue = unbound("abc", TYPE_ISSUE);
    Cell other = unbound("abd", TYPE_WORD);
    EXPECT_EQ(compare(&abc, &ABC, COMP_EQUAL), 0);
    EXPECT_NE(compare(&abc, &ABC, COMP_STRICT_EQUAL), 0);
    EXPECT_EQ(compare(&abc, &word_abc, COMP_EQUAL), 0) << "type is ignored by equal?";
    EXPECT_NE(compare(&abc, &word_abc, COMP_STRICT_EQUAL), 0);
    EXPECT_EQ(compare(&abc, &word_abc, COMP_LIT_STRICT_EQUAL), 0);
    EXPECT_NE(compare(&ABC, &word_abc, COMP_LIT_STRICT_EQUAL), 0);
    EXPECT_EQ(compare(&ABC, &word_abc, COMP_LIT_EQUAL), 0);
    EXPECT_EQ(compare(&word_abc, &issue, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(compare(&issue, &word_abc, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_LT(compare(&word_abc, &other, COMP_LESSER), 0);
    Cell same = word_abc;
    EXPECT_EQ(compare(&word_abc, &same, COMP_SAME), 0);
    Cell elsewhere = word_abc;
    elsewhere.data1 = 0;
    EXPECT_NE(compare(&word_abc, &elsewhere, COMP_SAME), 0);
    Cell integer{TYPE_INTEGER, 0, 1, 0};
    EXPECT_EQ(compare(&word_abc, &integer, COMP_EQUAL), NOT_COMPARABLE);
}

TEST_F(WordTest, IndexOf) {
    auto index_q = get_handler(TYPE_WORD, A_INDEX_Q);
    Cell* base = stack::top;
    stack::arguments = base;
    Cell loose = unbound("never-looked-up", TYPE_WORD);
    stack::push(&loose);
    index_q();
    EXPECT_EQ(type_of(stack::arguments), TYPE_NONE);
    Cell bound;
    word::make_at(symbol::make("looked-up"), &bound);
    *stack::arguments = bound;
    index_q();
    EXPECT_EQ(type_of(stack::arguments), TYPE_INTEGER);
    EXPECT_EQ(int32_t(stack::arguments->data2), word::index_of(&bound) + 1);
    EXPECT_EQ(get_handler(TYPE_REFINEMENT, A_INDEX_Q), nullptr);
    EXPECT_EQ(get_handler(TYPE_SET_WORD, A_INDEX_Q), index_q);
}

TEST_F(WordTest, LoadKeepsSpellingAndSharesTheSlot) {
    Cell lower = word::load("Shared");
    Cell upper = word::load("SHARED");
    EXPECT_EQ(word::index_of(&lower), word::index_of(&upper));
    EXPECT_EQ(symbol::name(word::symbol_of(&upper)), "SHARED");
    Cell issue = issue::load("tag");
    EXPECT_EQ(type_of(&issue), TYPE_ISSUE);
    Cell r = refinement::load("only");
    EXPECT_EQ(word::ctx_of(&r), 0u);
}
