// float! pieces the language cannot reach yet: the form kinds other types
// use, forming with pretty printing off, single-precision equality and the
// math core's refusal of other operators.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "datatypes/float.h"
#include "datatypes/actions.h"
#include "runtime/raise.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {

struct PrettyOff {
    PrettyOff() { float_::set_pretty_print(false); }
    ~PrettyOff() { float_::set_pretty_print(true); }
};

}  // namespace

TEST(FloatForm, KindsOfOtherTypes) {
    struct Case {
        double value;
        int kind;
        const char* text;
    } cases[] = {
        {double(0.1f), float_::FORM_FLOAT32, "0.1"},
        {3.0, float_::FORM_FLOAT32, "3.0"},
        {12.5, float_::FORM_PERCENT, "12.5%"},
        {50.0, float_::FORM_PERCENT, "50%"},
        {0.1 * 100.0, float_::FORM_PERCENT, "10%"},
        {0.001 * 100.0, float_::FORM_PERCENT, "0.1%"},
        {-2.0, float_::FORM_PERCENT, "-2%"},
        {1e-20, float_::FORM_PERCENT, "0%"},
        {1e20, float_::FORM_PERCENT, "1e20%"},
        {double(12.5f), float_::FORM_PERCENT32, "12.5%"},
        {1.5, float_::FORM_TIME, "1.5"},
        {3.0, float_::FORM_TIME, "3"},
        {1.2345678, float_::FORM_TIME, "1.23457"},
        {3.0, float_::FORM_SHORT, "3"},
        {1e-17, float_::FORM_SHORT, "0"},
        {2.5e20, float_::FORM_SHORT, "2.5e20"},
        {std::numeric_limits<double>::quiet_NaN(), float_::FORM_PERCENT, "1.#NaN"},
        {-std::numeric_limits<double>::infinity(), float_::FORM_SHORT, "-1.#INF"},
        {std::numeric_limits<double>::infinity(), float_::FORM_TIME, "1.#INF"},
    };
    for (const Case& c : cases) EXPECT_EQ(float_::form_double(c.value, c.kind), c.text) << c.value;
}

TEST(FloatForm, PrettyPrintingOffKeepsEveryDigit) {
    PrettyOff off;
    EXPECT_EQ(float_::form_double(1e-17, float_::FORM_FLOAT), "1.0e-17");
    EXPECT_EQ(float_::form_double(0.9999999999999999, float_::FORM_FLOAT), "0.9999999999999999");
    EXPECT_EQ(float_::form_double(1.000000000000001, float_::FORM_FLOAT), "1.000000000000001");
    EXPECT_EQ(float_::form_double(-0.0, float_::FORM_FLOAT), "-0.0");
    EXPECT_EQ(float_::form_double(1e-20, float_::FORM_PERCENT), "1e-20%");
    EXPECT_EQ(float_::form_double(1e-17, float_::FORM_SHORT), "1e-17");
}

TEST(FloatForm, ResidueIsCutOnlyOnce) {
    // Printed again with 14 digits, the text must not be examined a second time.
    EXPECT_EQ(float_::form_double(-0.7999999999999999, float_::FORM_FLOAT), "-0.8");
    EXPECT_EQ(float_::form_double(1.0000000000000010e20, float_::FORM_FLOAT), "1.0e20");
    // The 14-digit text ends in "01" again and is still long: it stays.
    EXPECT_EQ(float_::form_double(-0.000123456789010099, float_::FORM_FLOAT), "-0.0001234567890101");
    EXPECT_EQ(float_::form_double(0.1000000000000001, float_::FORM_FLOAT), "0.1");
    EXPECT_EQ(float_::form_double(0.100000000000001, float_::FORM_FLOAT), "0.100000000000001");
}

TEST(FloatEqual, SinglePrecision) {
    float one = 1.0f, next10 = one, next11;
    for (int i = 0; i < 10; i++) next10 = std::nextafter(next10, 2.0f);
    next11 = std::nextafter(next10, 2.0f);
    EXPECT_TRUE(float_::float32_equal(one, next10));
    EXPECT_FALSE(float_::float32_equal(one, next11));
    EXPECT_TRUE(float_::float32_equal(0.0f, -0.0f));
    EXPECT_TRUE(float_::float32_equal(-1.0f, std::nextafter(-1.0f, -2.0f)));
    EXPECT_TRUE(float_::float32_equal(-1e-45f, 1e-44f));   // 1 + 7 steps across zero
    EXPECT_FALSE(float_::float32_equal(-1e-45f, 2e-44f));  // 1 + 14
    float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(float_::float32_equal(nan, nan));
    EXPECT_TRUE(float_::float32_equal(inf, inf));
    EXPECT_TRUE(float_::float32_equal(inf, std::numeric_limits<float>::max()));
    EXPECT_FALSE(float_::float32_equal(inf, -inf));
    EXPECT_TRUE(float_::is_nan32(nan));
    EXPECT_FALSE(float_::is_nan32(inf));
}

TEST(FloatEqual, DoublePrecisionAcrossZero) {
    double tiny = 4.9406564584124654e-324;
    EXPECT_TRUE(float_::is_equal(tiny, -tiny));
    double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(float_::is_equal(inf, inf));
    EXPECT_FALSE(float_::is_equal(inf, -inf));
    EXPECT_FALSE(float_::is_equal(inf, float_::MAX_FINITE));
    EXPECT_FALSE(float_::is_equal(float_::QUIET_NAN, float_::QUIET_NAN));
    EXPECT_FALSE(float_::is_equal(1e300, -1e300));
}

TEST(FloatValues, ConstantsAndSpecials) {
    EXPECT_EQ(float_::bits_of(float_::QUIET_NAN) >> 32, 0x7FF80000u);
    EXPECT_EQ(float_::MAX_FINITE, std::numeric_limits<double>::max());
    Cell c{};
    float_::make_at(&c, float_::NEGATIVE_INFINITY);
    EXPECT_TRUE(float_::is_special(&c));
    float_::make_at(&c, float_::MAX_FINITE);
    EXPECT_FALSE(float_::is_special(&c));
    EXPECT_EQ(float_::abs(-0.0), 0.0);
    EXPECT_FALSE(std::signbit(float_::abs(-0.0)));
}

struct FloatRuntime : RuntimeTest {};

TEST_F(FloatRuntime, MathCoreRefusesOtherOperators) {
    EXPECT_EQ(float_::do_math_op(7.5, 2.0, OP_REM), 1.5);
    EXPECT_TRUE(std::isnan(float_::do_math_op(7.5, float_::POSITIVE_INFINITY, OP_REM)));
    try {
        float_::do_math_op(1.0, 2.0, OP_AND);
        ADD_FAILURE() << "no error";
    } catch (const VyxError& e) {
        EXPECT_EQ(e.id.category, err::script_cannot_use.category);
        EXPECT_EQ(e.id.entry, err::script_cannot_use.entry);
    }
}
