// The conversion readers: the lexer's number rules over a string! value, for
// `to` and `make`, failing by code rather than by raising.
#include <cstring>
#include <string>

#include "datatypes/money.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "evaluator/lexer.h"
#include "evaluator/lexer_internal.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"

namespace vyx::lexer {

namespace {

// The characters as bytes; false when one is not ASCII (none of these
// syntaxes has any) or the range leaves the string.
bool ascii_span(const Cell* str, uint32_t pos, uint32_t count, std::string& out) {
    SeriesBuffer* b = node_buffer(str->data2);
    uint32_t unit = b->unit();
    uint64_t first = uint64_t(b->offset / unit) + str->data1 + pos;
    if (first + count > b->tail / unit) return false;
    out.clear();
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = string::char_at(b, uint32_t(first + i));
        if (c >= 0x80) return false;
        out += char(c);
    }
    return true;
}

}  // namespace

int32_t load_integer_syntax(const Cell* str, uint32_t pos, uint32_t count, int& code) {
    std::string t;
    code = -1;
    if (!ascii_span(str, pos, count, t)) return 0;
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    int64_t v = 0;
    int digits = 0;
    for (; i < t.size(); i++) {
        if (t[i] == '\'') continue;
        if (t[i] < '0' || t[i] > '9') return 0;
        v = v * 10 + (t[i] - '0');
        digits++;
        if (v > 2147483648LL) {
            code = -2;
            return 0;
        }
    }
    if (!digits) return 0;
    if (v > (negative ? 2147483648LL : 2147483647LL)) {
        code = -2;
        return 0;
    }
    code = 0;
    return int32_t(negative ? -v : v);
}

double load_float_syntax(const Cell* str, uint32_t pos, uint32_t count, int& code) {
    std::string t;
    code = -1;
    constexpr double NOT_A_NUMBER = __builtin_nan("");
    if (count > 312 || !ascii_span(str, pos, count, t)) return NOT_A_NUMBER;
    for (char& c : t)
        if (c == ',') c = '.';
    auto* p = reinterpret_cast<const uint8_t*>(t.data());
    if (!float_syntax_ok(p, p + t.size())) return NOT_A_NUMBER;
    std::string digits;
    for (char c : t)
        if (c != '\'') digits += c;
    int unread = 0;
    double v = decimal_to_double(digits.data(), digits.data() + digits.size(), 0, &unread);
    if (unread) return NOT_A_NUMBER;
    code = 0;
    return v;
}

void load_tuple_syntax(const Cell* str, uint32_t pos, uint32_t count, int& code, Cell* result) {
    std::string t;
    code = -1;
    if (!ascii_span(str, pos, count, t)) return;
    uint8_t bytes[tuple::MAX_LENGTH];
    int n = 0;
    size_t i = 0;
    while (true) {
        uint32_t part = 0;
        size_t from = i;
        for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; i++) {
            part = part * 10 + uint32_t(t[i] - '0');
            if (part > 255) return;
        }
        if (i == from || n == tuple::MAX_LENGTH) return;
        bytes[n++] = uint8_t(part);
        if (i == t.size()) break;
        if (t[i++] != '.') return;
    }
    if (n < 3) return;
    tuple::make_at(result, bytes, n);
    code = 0;
}

void load_money_syntax(const Cell* str, uint32_t pos, uint32_t count, int& code, Cell* result) {
    std::string t;
    code = -1;
    if (!ascii_span(str, pos, count, t)) return;
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    std::string currency;
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (i + 3 <= t.size() && letter(t[i]) && letter(t[i + 1]) && letter(t[i + 2])) {
        currency = t.substr(i, 3);
        for (char& c : currency)
            if (c >= 'a') c = char(c - 32);
        i += 3;
        if (i >= t.size() || t[i] != '$') return;  // a code must be followed by $
    }
    if (i < t.size() && t[i] == '$') i++;
    size_t start = i;
    size_t mark = std::string::npos;
    if (i >= t.size()) return;
    for (size_t k = i; k < t.size(); k++) {
        char c = t[k];
        if (c == '\'') {
            if (k == start || k + 1 == t.size() || t[k - 1] == '\'' || mark != std::string::npos) return;
        } else if (c == '.') {
            if (mark != std::string::npos || k == start || k + 1 == t.size()) return;
            mark = k;
        } else if (c < '0' || c > '9') {
            return;
        }
    }
    const char* base = t.data();
    if (!money::from_string(result, negative, currency, base + start,
                            mark == std::string::npos ? nullptr : base + mark, base + t.size()))
        return;
    code = 0;
}

}  // namespace vyx::lexer
