// integer!: the arithmetic core against a table computed with unbounded
// integers (tests/data/integer_math.tsv, made by gen_integer_math.py), and the
// conversions and comparisons.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "runtime_fixture.h"
#include "series_test_util.h"

using namespace vyx;
using namespace vyx::test;

namespace {

std::string data_path(const char* name) {
    const char* root = std::getenv("VYX_SOURCE_DIR");
    if (root) return std::string(root) + "/tests/data/" + name;
    std::string here = __FILE__;
    return here.substr(0, here.rfind('/')) + "/../data/" + name;
}

Cell round_(Cell v, Cell* scale, const std::string& mode) {
    return with_args({v}, [&](Cell* a) {
        handler<act::Round>(TYPE_INTEGER, A_ROUND)(a, scale, mode == "even", mode == "down", mode == "half-down",
                                                    mode == "floor", mode == "ceiling", mode == "half-ceiling");
    });
}

Cell to_integer(Cell v) {
    Cell r;
    with_args({}, [&](Cell*) {
        Cell proto = dt(TYPE_INTEGER);
        r = *handler<act::Make>(TYPE_INTEGER, A_TO)(&proto, &v, TYPE_INTEGER);
    });
    return r;
}

Cell issue(const char* name) { return Cell{TYPE_ISSUE, 0, uint32_t(symbol::make(name)), uint32_t(-1)}; }

}  // namespace

TEST_F(RuntimeTest, IntegerMathAgainstUnboundedIntegers) {
    std::ifstream in(data_path("integer_math.tsv"));
    ASSERT_TRUE(in) << data_path("integer_math.tsv");
    const std::pair<const char*, int> actions[] = {{"add", A_ADD},           {"subtract", A_SUBTRACT},
                                                   {"multiply", A_MULTIPLY}, {"divide", A_DIVIDE},
                                                   {"remainder", A_REMAINDER}, {"power", A_POWER}};
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string op, kind, expected;
        long long a, b;
        fields >> op >> a >> b >> kind >> expected;
        Cell left = int_(int32_t(a)), right = int_(int32_t(b));
        Cell result;
        err::Id error = raised([&] {
            if (op.rfind("round/", 0) == 0) {
                result = round_(left, &right, op.substr(6));
                return;
            }
            for (auto& [name, action] : actions)
                if (op == name) result = call(action, {left, right});
        });
        SCOPED_TRACE(line);
        rows++;
        if (kind == "error") {
            EXPECT_TRUE(same_id(error, expected == "overflow" ? err::math_overflow : err::math_zero_divide));
            continue;
        }
        ASSERT_EQ(error.category, 0);
        if (kind == "int") {
            EXPECT_EQ(type_of(&result), TYPE_INTEGER);
            EXPECT_EQ(int32_t(result.data2), std::stoll(expected));
        } else {
            double want = std::strtod(expected.c_str(), nullptr);
            EXPECT_EQ(type_of(&result), TYPE_FLOAT);
            if (op == "power") EXPECT_NEAR(cell_float(&result), want, std::fabs(want) * 1e-15);
            else EXPECT_EQ(cell_float(&result), want);
        }
    }
    EXPECT_GT(rows, 3000);
}

TEST_F(RuntimeTest, IntegerUnaryActions) {
    EXPECT_RAISES(call(A_ABSOLUTE, {int_(INT32_MIN)}), err::math_overflow);
    EXPECT_EQ(int32_t(call(A_ABSOLUTE, {int_(-5)}).data2), 5);
    auto negate = handler<act::Negate>(TYPE_INTEGER, A_NEGATE);
    EXPECT_RAISES(with_args({int_(INT32_MIN)}, [&](Cell* a) { negate(a); }), err::math_overflow);
    EXPECT_EQ(int32_t(with_args({int_(7)}, [&](Cell* a) { negate(a); }).data2), -7);
    Cell v = int_(5);
    EXPECT_EQ(int32_t(handler<act::Complement>(TYPE_INTEGER, A_COMPLEMENT)(&v)->data2), -6);
    auto even = handler<act::EvenOdd>(TYPE_INTEGER, A_EVEN_Q), odd = handler<act::EvenOdd>(TYPE_INTEGER, A_ODD_Q);
    Cell m3 = int_(-3), m4 = int_(-4);
    EXPECT_TRUE(odd(&m3));
    EXPECT_TRUE(even(&m4));
    EXPECT_FALSE(even(&m3));

    EXPECT_EQ(form(int_(INT32_MIN)), "-2147483648");
    EXPECT_EQ(mold(int_(0)), "0");
    EXPECT_EQ(form(int_(987), 2), "98");
    EXPECT_EQ(cell_float(&(const Cell&)call(A_POWER, {int_(2), int_(-1)})), 0.5);
    EXPECT_EQ(int32_t(call(A_POWER, {int_(0), int_(0)}).data2), 1);
    EXPECT_RAISES(call(A_POWER, {int_(2), str("x")}), err::script_expect_arg);
    EXPECT_RAISES(call(A_ADD, {int_(2), str("x")}), err::script_invalid_type);
    // An integer and a char add as integers.
    Cell sum = call(A_ADD, {int_(1), chr('a')});
    EXPECT_EQ(type_of(&sum), TYPE_INTEGER);
    EXPECT_EQ(sum.data2, 98u);
    EXPECT_EQ(int32_t(call(A_XOR_T, {int_(6), int_(3)}).data2), 5);
    EXPECT_EQ(int32_t(call(A_AND_T, {int_(6), int_(3)}).data2), 2);
    EXPECT_EQ(int32_t(call(A_OR_T, {int_(6), int_(3)}).data2), 7);
    // The minimum value rounds to itself, whatever the scale.
    Cell scale = int_(10);
    EXPECT_EQ(int32_t(round_(int_(INT32_MIN), &scale, "").data2), INT32_MIN);
    Cell money{TYPE_MONEY, 0, 0, 0};
    EXPECT_RAISES(round_(int_(1), &money, ""), err::script_not_related);
}

TEST_F(RuntimeTest, IntegerConversions) {
    struct { Cell from; int32_t to; } cases[] = {
        {flt(2147483647.9), INT32_MAX}, {flt(-1.9), -1}, {flt(-2147483648.9), INT32_MIN},
        {chr(0x263A), 0x263A},          {str("12'345"), 12345}, {str("-2147483648"), INT32_MIN},
        {str("+7"), 7},                 {issue("FF"), 255},   {issue("FFFFFFFF"), -1},
        {issue("7fffffff"), INT32_MAX},
    };
    for (auto& c : cases) EXPECT_EQ(int32_t(to_integer(c.from).data2), c.to) << mold(c.from);

    Cell time{TYPE_TIME, 0, 0, 0};
    set_cell_float(&time, 1.5);
    EXPECT_EQ(int32_t(to_integer(time).data2), 2);
    set_cell_float(&time, 3600.4);
    EXPECT_EQ(int32_t(to_integer(time).data2), 3600);
    for (double out : {3e9, -3e9, double(INFINITY), double(NAN)}) {
        set_cell_float(&time, out);
        EXPECT_RAISES(to_integer(time), err::script_out_of_range) << out;
    }
    for (double out : {2147483648.0, -2147483649.0, double(INFINITY), -double(INFINITY), double(NAN)})
        EXPECT_RAISES(to_integer(flt(out)), err::script_type_limit) << out;
    for (const char* bad : {"2147483648", "1''0", "'1", "", "12a", "-"})
        EXPECT_RAISES(to_integer(str(bad)), err::script_bad_to_arg) << bad;
    for (const char* bad : {"123456789", "FG"}) EXPECT_RAISES(to_integer(issue(bad)), err::script_invalid_data) << bad;
    EXPECT_RAISES(to_integer(none_()), err::script_bad_to_arg);

    Cell bin;
    binary::make_at(&bin, 8);
    for (uint8_t byte : {0x01, 0x02, 0x03, 0x04, 0x05}) {
        SeriesBuffer* b = node_buffer(bin.data2);
        *reserve_tail_bytes(b, 1) = byte;
    }
    EXPECT_EQ(int32_t(to_integer(bin).data2), 0x01020304);
    EXPECT_EQ(int32_t(to_integer(at(bin, 3)).data2), 0x0405);

    Cell proto = dt(TYPE_INTEGER), yes{TYPE_LOGIC, 1, 0, 0};
    EXPECT_EQ(handler<act::Make>(TYPE_INTEGER, A_MAKE)(&proto, &yes, TYPE_INTEGER)->data2, 1u);
}

TEST_F(RuntimeTest, IntegerCompare) {
    struct { Cell a, b; int op; int answer; } cases[] = {
        {int_(1), int_(2), COMP_LESSER, -1},  {int_(INT32_MIN), int_(INT32_MAX), COMP_SORT, -1},
        {int_(97), chr('a'), COMP_EQUAL, 0},  {int_(97), chr('a'), COMP_STRICT_EQUAL, 1},
        {int_(97), chr('a'), COMP_FIND, 1},   {int_(1), str("1"), COMP_EQUAL, NOT_COMPARABLE},
        {int_(2), flt(2.0), COMP_EQUAL, 0},   {int_(2), flt(2.5), COMP_LESSER, -1},
    };
    for (auto& c : cases) EXPECT_EQ(cmp(c.a, c.b, c.op), c.answer) << mold(c.a) << " " << c.op;
}
