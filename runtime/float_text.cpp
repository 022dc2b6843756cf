#include "runtime/float_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace vyx {

namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits gathered from the text, leading zeros dropped. Long inputs spill into
// a heap string; the usual literal stays on the stack.
struct DigitSink {
    char local[400];
    std::string spill;
    size_t n = 0;
    bool spilled = false;

    void push(char c) {
        if (!spilled && n < sizeof local - 24) {
            local[n++] = c;
            return;
        }
        if (!spilled) {
            spill.assign(local, n);
            spilled = true;
        }
        spill.push_back(c);
        n++;
    }
    char* data() { return spilled ? spill.data() : local; }
};

double signed_value(double v, bool negative) { return negative ? -v : v; }

}  // namespace

double decimal_to_double(const char* start, const char* end, int extra_exponent, int* not_consumed) {
    const char* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';

    // The special forms written by the formatter: 1.#INF, 1.#NaN.
    if (end - p >= 4 && is_digit(p[0]) && p[1] == '.' && p[2] == '#') {
        char k = p[3];
        if (k == 'I' || k == 'i' || k == 'N' || k == 'n') {
            const char* q = p + 3;
            while (q < end && ((*q >= 'A' && *q <= 'Z') || (*q >= 'a' && *q <= 'z'))) q++;
            if (not_consumed) *not_consumed = int(end - q);
            if (k == 'N' || k == 'n') return std::numeric_limits<double>::quiet_NaN();
            return signed_value(std::numeric_limits<double>::infinity(), negative);
        }
    }

    // The usual literal: the standard reader takes exactly this grammar and is
    // correctly rounded. Anything it refuses or cannot represent goes the long way.
    if (extra_exponent == 0 && p < end && (is_digit(*p) || *p == '.')) {
        double v;
        auto [ptr, ec] = std::from_chars(p, end, v);
        if (ec == std::errc()) {
            if (not_consumed) *not_consumed = int(end - ptr);
            return signed_value(v, negative);
        }
    }

    DigitSink sink;
    int64_t exponent = 0;  // value = digits * 10^exponent
    size_t trailing_zeros = 0;
    bool any_digit = false;
    for (; p < end && is_digit(*p); p++) {
        any_digit = true;
        if (*p == '0' && sink.n == 0) continue;
        if (*p == '0') trailing_zeros++;
        else trailing_zeros = 0;
        sink.push(*p);
    }
    if (p < end && *p == '.') {
        p++;
        for (; p < end && is_digit(*p); p++) {
            any_digit = true;
            exponent--;
            if (*p == '0' && sink.n == 0) continue;
            if (*p == '0') trailing_zeros++;
            else trailing_zeros = 0;
            sink.push(*p);
        }
    }
    if (any_digit && p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool eneg = false;
        if (q < end && (*q == '+' || *q == '-')) eneg = *q++ == '-';
        if (q < end && is_digit(*q)) {
            int64_t e = 0;
            for (; q < end && is_digit(*q); q++) {
                if (e < 1000000000) e = e * 10 + (*q - '0');
            }
            exponent += eneg ? -e : e;
            p = q;
        }
    }
    if (not_consumed) *not_consumed = int(end - p);

    size_t n = sink.n - trailing_zeros;
    exponent += int64_t(trailing_zeros) + extra_exponent;
    if (n == 0) return signed_value(0.0, negative);
    // Far outside the double range: no need to ask the converter.
    if (exponent + int64_t(n) > 330) return signed_value(std::numeric_limits<double>::infinity(), negative);
    if (exponent + int64_t(n) < -330) return signed_value(0.0, negative);

    if (sink.spilled) sink.spill.resize(n);
    char* digits = sink.data();
    char tail[24];
    auto [tp, tec] = std::to_chars(tail, tail + sizeof tail, exponent);
    (void)tec;
    size_t tail_len = size_t(tp - tail);
    std::string big;
    char* text;
    size_t len = n + 1 + tail_len;
    if (!sink.spilled) {
        text = digits;
    } else {
        big.assign(digits, n);
        big.resize(len);
        text = big.data();
    }
    text[n] = 'e';
    std::memcpy(text + n + 1, tail, tail_len);

    double v = 0;
    auto [ptr, ec] = std::from_chars(text, text + len, v);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        v = exponent + int64_t(n) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return signed_value(v, negative);
}

DecimalDigits double_to_decimal(double value, int significant, bool point_zero) {
    DecimalDigits r{};
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    r.negative = bits >> 63;
    if (((bits >> 52) & 0x7FF) == 0x7FF) {
        r.exponent = DECIMAL_EXP_SPECIAL;
        const char* text = (bits & 0xFFFFFFFFFFFFFull) ? "1.#NaN" : r.negative ? "-1.#INF" : "1.#INF";
        if (bits & 0xFFFFFFFFFFFFFull) r.negative = false;  // a NaN never shows a sign
        std::strcpy(r.digits, text);
        r.count = int(std::strlen(text));
        return r;
    }
    if ((bits << 1) == 0) {
        r.exponent = DECIMAL_EXP_ZERO;
        const char* text = point_zero ? (r.negative ? "-0.0" : "0.0") : (r.negative ? "-0" : "0");
        std::strcpy(r.digits, text);
        r.count = int(std::strlen(text));
        return r;
    }
    double a = std::fabs(value);
    char buf[64];
    std::to_chars_result res;
    if (significant <= 0) {
        res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
    } else {
        if (significant > 30) significant = 30;
        res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, significant - 1);
    }
    // buf: d[.ddd]e(+|-)xx
    char* e = static_cast<char*>(std::memchr(buf, 'e', size_t(res.ptr - buf)));
    int n = 0;
    for (char* q = buf; q < e; q++) {
        if (*q != '.') r.digits[n++] = *q;
    }
    while (n > 1 && r.digits[n - 1] == '0') n--;
    r.digits[n] = 0;
    r.count = n;
    int x = 0;
    std::from_chars(e[1] == '+' ? e + 2 : e + 1, res.ptr, x);
    r.exponent = x + 1;
    return r;
}

int form_float_buffer(double value, int significant, bool point_zero, char* out) {
    DecimalDigits d = double_to_decimal(value, significant, point_zero);
    if (d.exponent == DECIMAL_EXP_SPECIAL || d.exponent == DECIMAL_EXP_ZERO) {
        std::memcpy(out, d.digits, size_t(d.count) + 1);
        return d.count;
    }
    char* o = out;
    if (d.negative) *o++ = '-';
    int k = d.exponent;
    int n = d.count;
    if (k >= 18 || k < -6) {
        *o++ = d.digits[0];
        *o++ = '.';
        std::memcpy(o, d.digits + 1, size_t(n - 1));
        o += n - 1;
        if (n == 1) {
            if (point_zero) *o++ = '0';
            else o--;  // "1e20": the point goes
        }
        *o++ = 'e';
        auto r = std::to_chars(o, out + FLOAT_TEXT_MAX - 1, k - 1);
        o = r.ptr;
    } else if (k < 1) {
        *o++ = '0';
        *o++ = '.';
        for (int i = 0; i < -k; i++) *o++ = '0';
        std::memcpy(o, d.digits, size_t(n));
        o += n;
    } else {
        if (n <= k) {
            std::memcpy(o, d.digits, size_t(n));
            o += n;
            for (int i = n; i < k; i++) *o++ = '0';
            if (point_zero) {
                *o++ = '.';
                *o++ = '0';
            }
        } else {
            std::memcpy(o, d.digits, size_t(k));
            o += k;
            *o++ = '.';
            std::memcpy(o, d.digits + k, size_t(n - k));
            o += n - k;
        }
    }
    *o = 0;
    return int(o - out);
}

std::string form_float(double value, int significant, bool point_zero) {
    char buf[FLOAT_TEXT_MAX];
    int n = form_float_buffer(value, significant, point_zero, buf);
    return std::string(buf, size_t(n));
}

}  // namespace vyx
