#include "datatypes/money.h"

#include <cstring>

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::money {

std::vector<std::string> currencies;

int currency_index(std::string_view code) {
    for (size_t i = 0; i < currencies.size(); i++) {
        const std::string& c = currencies[i];
        if (c.size() != code.size()) continue;
        bool same = true;
        for (size_t k = 0; k < c.size() && same; k++) {
            char a = c[k], b = code[k];
            if (a >= 'a' && a <= 'z') a = char(a - 32);
            if (b >= 'a' && b <= 'z') b = char(b - 32);
            same = a == b;
        }
        if (same) return int(i) + 1;
    }
    return -1;
}

namespace {
// The 12 payload bytes of a cell (data1, data2, data3 in memory order),
// read and written as a whole: the digits span all three words.
struct Payload {
    uint8_t bytes[12];
};

Payload payload_of(const Cell* c) {
    const uint32_t words[3] = {c->data1, c->data2, c->data3};
    Payload p;
    std::memcpy(p.bytes, words, sizeof p.bytes);
    return p;
}

void store(Cell* c, const Payload& p) {
    uint32_t words[3];
    std::memcpy(words, p.bytes, sizeof words);
    c->data1 = words[0];
    c->data2 = words[1];
    c->data3 = words[2];
}

void set_digit(Payload& p, int i, int d) {
    uint8_t& b = p.bytes[i / 2 + i % 2];
    b = (i % 2) ? uint8_t((b & 0x0F) | (d << 4)) : uint8_t((b & 0xF0) | d);
}
}  // namespace

int digit(const Cell* c, int i) {
    uint8_t b = payload_of(c).bytes[i / 2 + i % 2];
    return (i % 2) ? b >> 4 : b & 0x0F;
}

Cell* make_at(Cell* target, bool negative, uint32_t currency, const uint8_t digits[11]) {
    target->header = TYPE_MONEY | (negative ? NEGATIVE : 0);
    Payload p;
    p.bytes[0] = uint8_t(currency);
    std::memcpy(p.bytes + 1, digits, 11);
    store(target, p);
    return target;
}

Cell* from_string(Cell* target, bool negative, std::string_view currency, const char* start,
                  const char* mark, const char* end) {
    int index = 0;
    if (!currency.empty()) {
        index = currency_index(currency);
        if (index < 1 || index > 255) return nullptr;
    }
    // Keep the lexer's flag bits (new line); the payload is cleared.
    target->header = (target->header & ~(TYPE_MASK | NEGATIVE)) | TYPE_MONEY | (negative ? NEGATIVE : 0);
    Payload digits{};
    digits.bytes[0] = uint8_t(index);
    const char* int_end = mark ? mark : end;
    int i = INTEGER_DIGITS;
    for (const char* p = int_end; p > start && i >= 1;) {
        char ch = *--p;
        if (ch == '\'') continue;
        set_digit(digits, i--, ch - '0');
    }
    if (mark) {
        i = INTEGER_DIGITS + 1;
        for (const char* p = mark + 1; p < end && i <= DIGITS; p++) set_digit(digits, i++, *p - '0');
    }
    store(target, digits);
    return target;
}

void register_type() { Registration(TYPE_MONEY, 0, "money!").commit(); }

}  // namespace vyx::money
