#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>

#include "runtime/float_text.h"

using namespace vyx;

namespace {

uint64_t bits_of(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return b;
}
double from_bits(uint64_t b) {
    double d;
    std::memcpy(&d, &b, 8);
    return d;
}
double parse(const std::string& s, int extra = 0, int* left = nullptr) {
    return decimal_to_double(s.data(), s.data() + s.size(), extra, left);
}

std::string source_dir() {
    const char* s = std::getenv("VYX_SOURCE_DIR");
    return s ? s : ".";
}

// The public vectors sit beside the checkout, in shared/oracles; the build
// finds them (VYX_ORACLES_DIR), and names nothing when they are not there.
std::string oracle_dir() {
#ifdef VYX_ORACLES_DIR
    return std::string(VYX_ORACLES_DIR) + "/";
#else
    return "";
#endif
}

}  // namespace

TEST(FloatText, Layout) {
    struct {
        double v;
        int digits;
        bool point_zero;
        const char* text;
    } cases[] = {
        {1e16, 0, true, "10000000000000000.0"},
        {1e17, 0, true, "1.0e17"},
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {0.1, 0, true, "0.1"},
        {1.0 / 3, 0, true, "0.3333333333333333"},
        {123.456, 6, false, "123.456"},
        {100.0, 6, false, "100"},
        {1e20, 6, false, "1e20"},
        {-2.5e-300, 0, true, "-2.5e-300"},
        {1234.5, 0, true, "1234.5"},
        {0.5, 0, false, "0.5"},
        {5e-324, 0, true, "5.0e-324"},
        {5e-324, 17, true, "4.9406564584124654e-324"},
        {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
        {2.5, 1, false, "2"},    // half to even on the exact value
        {3.5, 1, false, "4"},
        {0.0, 0, true, "0.0"},
        {-0.0, 0, true, "-0.0"},
        {-0.0, 0, false, "-0"},
        {INFINITY, 0, true, "1.#INF"},
        {-INFINITY, 0, true, "-1.#INF"},
        {std::nan(""), 0, true, "1.#NaN"},
        {-std::nan(""), 6, false, "1.#NaN"},
    };
    for (auto& c : cases) EXPECT_EQ(form_float(c.v, c.digits, c.point_zero), c.text) << c.text;
}

TEST(FloatText, Reading) {
    struct {
        const char* text;
        double v;
    } cases[] = {
        {"0.1", 0.1},
        {"1e400", INFINITY},
        {"-1e400", -INFINITY},
        {"1e-400", 0.0},
        {"4.9406564584124654e-324", 5e-324},
        {"9.9999999999999999e22", 1e23},
        {"1.#INF", INFINITY},
        {"-1.#INF", -INFINITY},
        {"+12.5", 12.5},
        {"000123.4500", 123.45},
        {"2.2250738585072011e-308", 2.2250738585072011e-308},
        {"1e-2147483649", 0.0},
        {"1e9999999999999", INFINITY},
    };
    for (auto& c : cases) EXPECT_EQ(bits_of(parse(c.text)), bits_of(c.v)) << c.text;
    EXPECT_TRUE(std::isnan(parse("1.#NaN")));
    EXPECT_EQ(bits_of(parse("1.#NaN")), 0x7FF8000000000000ull);
    EXPECT_EQ(std::signbit(parse("-0.0")), true);
    EXPECT_EQ(parse("0." + std::string(400, '0') + "1e401"), 1.0);  // long zero run, then scaled back
    // The caller's extra exponent and the characters left unread.
    EXPECT_EQ(parse("12.5", 2), 1250.0);
    EXPECT_EQ(parse("125", -3), 0.125);
    int left = -1;
    EXPECT_EQ(parse("1.5e3x%", 0, &left), 1500.0);
    EXPECT_EQ(left, 2);
    EXPECT_EQ(parse("7e", 0, &left), 7.0);
    EXPECT_EQ(left, 1);
    // A thousand-digit mantissa exactly halfway between two doubles rounds to even.
    std::string half = "9007199254740993" + std::string(1000, '0');
    EXPECT_EQ(parse(half, -1000), 9007199254740992.0);
    EXPECT_EQ(parse(half + "1", -1001), 9007199254740994.0);
}

TEST(FloatText, RoundTripsAcrossTheRange) {
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 200000; i++) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        double d = from_bits(x);
        if (!std::isfinite(d)) continue;
        std::string t = form_float(d, 0, true);
        ASSERT_EQ(bits_of(parse(t)), bits_of(d)) << t;
        std::string t17 = form_float(d, 17, true);
        ASSERT_EQ(bits_of(parse(t17)), bits_of(d)) << t17;
    }
}

// Public vectors: shortest digits (CPython repr) and correctly rounded reading.
TEST(FloatText, PublicOracles) {
    std::string base = oracle_dir();
    if (base.empty()) GTEST_SKIP() << "the public test vectors (shared/oracles beside the checkout) are not here";
    std::ifstream shortest(base + "float-shortest/shortest_f64.txt");
    ASSERT_TRUE(shortest) << "the public test vectors are missing: " << base
                          << "float-shortest/shortest_f64.txt cannot be read (shared/oracles beside the checkout)";
    std::string line;
    int n = 0;
    while (std::getline(shortest, line)) {
        char hex[32], digits[40];
        int exp;
        if (std::sscanf(line.c_str(), "%31s %39s %d", hex, digits, &exp) != 3) continue;
        double d = from_bits(std::strtoull(hex, nullptr, 16));
        DecimalDigits got = double_to_decimal(d, 0, true);
        if (d == 0) {
            EXPECT_EQ(got.exponent, DECIMAL_EXP_ZERO);
            continue;
        }
        n++;
        ASSERT_STREQ(got.digits, digits) << hex;
        ASSERT_EQ(got.exponent - 1, exp) << hex;
    }
    EXPECT_GT(n, 37000);
    int parsed = 0;
    for (const char* file : {"freetype-2-7.txt", "google-wuffs.txt", "lemire-fast-float.txt", "more-test-cases.txt",
                             "tencent-rapidjson.txt"}) {
        std::ifstream in(base + "float-parse-fxx/" + file);
        ASSERT_TRUE(in) << file;
        while (std::getline(in, line)) {
            if (line.size() < 32) continue;
            uint64_t want = std::strtoull(line.substr(14, 16).c_str(), nullptr, 16);
            std::string text = line.substr(31);
            // The lexer hands over digits, one point and an exponent; other
            // spellings (hex floats, "inf", digit separators) never reach here.
            if (text.find_first_not_of("0123456789.eE+-") != std::string::npos) continue;
            if (std::count(text.begin(), text.end(), '.') > 1) continue;
            parsed++;
            ASSERT_EQ(bits_of(parse(text)), want) << text;
        }
    }
    EXPECT_GT(parsed, 20000);
}

// python3 is the judge: repr() for the shortest digits, float() for reading.
// 200,000 random doubles by default; VYX_TEXT_FULL=1 runs 1,000,000.
TEST(FloatText, DifferentialAgainstPython) {
    bool full = std::getenv("VYX_TEXT_FULL") != nullptr;
    std::string cmd = "python3 " + source_dir() + "/tests/text/gen_float_cases.py " +
                      (full ? "1000000 200000 5000" : "200000 50000 2000") + " 20261210 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) GTEST_SKIP() << "python3 not available";
    static char line[8192];
    int shortest = 0, parsed = 0, failures = 0;
    while (std::fgets(line, sizeof line, p)) {
        size_t len = std::strlen(line);
        while (len && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = 0;
        if (len < 20) continue;
        uint64_t b = std::strtoull(line + 2, nullptr, 16);
        const char* rest = line + 19;
        if (line[0] == 'S') {
            shortest++;
            char digits[40];
            int exp;
            if (std::sscanf(rest, "%39s %d", digits, &exp) != 2) continue;
            DecimalDigits got = double_to_decimal(from_bits(b), 0, true);
            if ((std::strcmp(got.digits, digits) != 0 || got.exponent != exp) && ++failures <= 10)
                ADD_FAILURE() << "shortest " << line << ": got " << got.digits << " " << got.exponent;
        } else if (line[0] == 'P') {
            parsed++;
            double d = decimal_to_double(rest, line + len);
            if (bits_of(d) != b && ++failures <= 10) ADD_FAILURE() << "read " << rest << " got " << std::hexfloat << d;
        }
    }
    pclose(p);
    if (shortest + parsed == 0) GTEST_SKIP() << "python3 produced no cases";
    EXPECT_GT(shortest, full ? 999000 : 199000);
    EXPECT_GT(parsed, full ? 200000 : 50000);
    EXPECT_EQ(failures, 0);
}
