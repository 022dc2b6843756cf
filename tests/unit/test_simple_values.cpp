#include <string>

#include "datatypes/registry.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/raise.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {

std::string form(Cell v, int part = NO_LIMIT) {
    Cell buf;
    string::make_at(&buf, 16);
    auto f = reinterpret_cast<act::Form>(get_handler(type_of(&v), A_FORM));
    f(&v, &buf, part);
    return string::to_utf8(&buf);
}

std::string mold(Cell v, bool all = false) {
    Cell buf;
    string::make_at(&buf, 16);
    auto m = reinterpret_cast<act::Mold>(get_handler(type_of(&v), A_MOLD));
    m(&v, &buf, false, all, false, NO_LIMIT, 0);
    return string::to_utf8(&buf);
}

int compare(Cell a, Cell b, int op) {
    return reinterpret_cast<act::Compare>(get_handler(type_of(&a), A_COMPARE))(&a, &b, op);
}

const Cell T{TYPE_LOGIC, 1, 0, 0}, F{TYPE_LOGIC, 0, 0, 0}, NONE{TYPE_NONE, 0, 0, 0},
    UNSET{TYPE_UNSET, 0, 0, 0};
Cell dt(int t) { return Cell{TYPE_DATATYPE, uint32_t(t), 0, 0}; }
Cell integer(int32_t i) { return Cell{TYPE_INTEGER, 0, uint32_t(i), 0}; }
Cell flt(double d) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    set_cell_float(&c, d);
    return c;
}

}  // namespace

TEST_F(RuntimeTest, FormAndMold) {
    struct { Cell v; const char* form; const char* mold; const char* mold_all; } cases[] = {
        {dt(TYPE_STRING), "string", "string!", "#(string!)"},
        {dt(TYPE_INTEGER), "integer", "integer!", "#(integer!)"},
        {dt(TYPE_POINT2D), "point2D", "point2D!", "#(point2D!)"},
        {NONE, "none", "none", "#(none)"},
        {UNSET, "", "unset", "#(unset)"},
        {T, "true", "true", "#(true)"},
        {F, "false", "false", "#(false)"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(form(c.v), c.form);
        EXPECT_EQ(mold(c.v), c.mold);
        EXPECT_EQ(mold(c.v, true), c.mold_all);
    }
    EXPECT_EQ(form(dt(TYPE_INTEGER), 3), "int");  // a writer stops when its budget is spent
}

TEST_F(RuntimeTest, Comparisons) {
    struct { Cell a, b; int op; int answer; } cases[] = {
        {NONE, NONE, COMP_EQUAL, 0},
        {NONE, NONE, COMP_LESSER, NOT_COMPARABLE},
        {NONE, F, COMP_EQUAL, NOT_COMPARABLE},
        {UNSET, UNSET, COMP_SORT, 0},
        {UNSET, UNSET, COMP_GREATER, NOT_COMPARABLE},
        {T, T, COMP_EQUAL, 0},
        {T, F, COMP_NOT_EQUAL, 1},
        {T, F, COMP_LESSER, NOT_COMPARABLE},
        {dt(TYPE_INTEGER), dt(TYPE_INTEGER), COMP_SAME, 0},
        {dt(TYPE_INTEGER), dt(TYPE_FLOAT), COMP_EQUAL, 1},
        {dt(TYPE_INTEGER), integer(11), COMP_EQUAL, 1},
        {dt(TYPE_INTEGER), dt(TYPE_FLOAT), COMP_LESSER, NOT_COMPARABLE},
    };
    for (auto& c : cases) EXPECT_EQ(compare(c.a, c.b, c.op), c.answer);
}

TEST_F(RuntimeTest, MakeAndToLogic) {
    auto make = reinterpret_cast<act::Make>(get_handler(TYPE_LOGIC, A_MAKE));
    auto to = reinterpret_cast<act::Make>(get_handler(TYPE_LOGIC, A_TO));
    Cell proto = dt(TYPE_LOGIC);
    struct { Cell spec; bool make, to; } cases[] = {
        {integer(0), false, true}, {integer(2), true, true}, {flt(0.0), false, true},
        {flt(-0.0), false, true},  {flt(0.5), true, true},    {flt(__builtin_nan("")), true, true},
        {NONE, false, false},      {F, false, false},        {T, true, true},
        {dt(TYPE_NONE), true, true},
    };
    for (auto& c : cases) {
        EXPECT_EQ(logic::truth(make(&proto, &c.spec, TYPE_LOGIC)), c.make);
        EXPECT_EQ(logic::truth(to(&proto, &c.spec, TYPE_LOGIC)), c.to);
    }
}

TEST_F(RuntimeTest, TruthRule) {
    EXPECT_FALSE(logic::truth(&NONE));
    EXPECT_FALSE(logic::truth(&F));
    EXPECT_TRUE(logic::truth(&T));
    Cell zero = integer(0);
    EXPECT_TRUE(logic::truth(&zero));
    *stack::arguments = UNSET;
    EXPECT_THROW(logic::is_true(), VyxError);
    EXPECT_TRUE(logic::is_false() == false);  // unset is not false, and not checked here
}

TEST_F(RuntimeTest, BoxOverwritesTheWholeHeader) {
    stack::arguments->header = TYPE_INTEGER | FLAG_NEW_LINE;
    none::box();
    EXPECT_EQ(stack::arguments->header, uint32_t(TYPE_NONE));
}

TEST_F(RuntimeTest, LogicBitwise) {
    struct { Cell a, b; int action; bool result; } cases[] = {
        {T, F, A_AND_T, false}, {T, T, A_AND_T, true}, {T, F, A_OR_T, true},
        {F, F, A_OR_T, false},  {T, T, A_XOR_T, false}, {T, F, A_XOR_T, true},
    };
    for (auto& c : cases) {
        stack::arguments[0] = c.a;
        stack::arguments[1] = c.b;
        reinterpret_cast<act::Stack>(get_handler(TYPE_LOGIC, c.action))();
        EXPECT_EQ(logic::get(stack::arguments), c.result);
    }
    stack::arguments[0] = T;
    stack::arguments[1] = integer(1);
    try {
        reinterpret_cast<act::Stack>(get_handler(TYPE_LOGIC, A_AND_T))();
        FAIL();
    } catch (const VyxError& e) {
        EXPECT_EQ(e.id.entry, err::script_expect_arg.entry);
        EXPECT_EQ(e.args[1].data1, uint32_t(TYPE_INTEGER));
    }
    Cell t = T;
    EXPECT_FALSE(logic::get(reinterpret_cast<act::Complement>(get_handler(TYPE_LOGIC, A_COMPLEMENT))(&t)));
}
