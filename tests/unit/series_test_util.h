// Small builders and callers for the value tests: cells, strings and blocks
// made without the lexer, handlers called the way the action entries call
// them (arguments at stack::arguments, result in the first cell).
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::test {

inline Cell int_(int32_t v) { return Cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }
inline Cell chr(uint32_t cp) { return Cell{TYPE_CHAR, 0, cp, 0}; }
inline Cell flt(double d) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    set_cell_float(&c, d);
    return c;
}
inline Cell none_() { return Cell{TYPE_NONE, 0, 0, 0}; }
inline Cell dt(int t) { return Cell{TYPE_DATATYPE, uint32_t(t), 0, 0}; }
inline Cell with_new_line(Cell c) {
    c.header |= FLAG_NEW_LINE;
    return c;
}
inline Cell at(Cell s, uint32_t head) {
    s.data1 = head;
    return s;
}

// A string as the loaders make one: the narrowest unit that holds each
// character as it is written (0xE9 stays in unit 1).
inline Cell str(std::u32string_view text, int type = TYPE_STRING) {
    Cell s;
    string::make_at(&s, uint32_t(text.size()));
    for (char32_t c : text) {
        SeriesBuffer* b = node_buffer(s.data2);
        string::overwrite_char(b, b->length(), uint32_t(c));
    }
    set_cell_type(&s, type);
    return s;
}
inline Cell str(std::string_view ascii, int type = TYPE_STRING) {
    return str(std::u32string(ascii.begin(), ascii.end()), type);
}
inline Cell str(const char* ascii) { return str(std::string_view(ascii)); }
inline std::string text(const Cell& s) { return string::to_utf8(&s); }
inline uint32_t unit_of(const Cell& s) { return node_buffer(s.data2)->unit(); }

// The values of a block of integers, from its position on.
inline std::vector<int> ints(const Cell& b) {
    std::vector<int> out;
    for (uint32_t k = b.data1; k < series::length_from_head(&b); k++) out.push_back(int(blk::at(b.data2, k)->data2));
    return out;
}

inline Cell block_of(std::initializer_list<Cell> items, int type = TYPE_BLOCK) {
    Cell b;
    blk::make_at(&b, items.size(), type);
    for (const Cell& c : items) blk::append(&b, &c);
    return b;
}

inline std::string mold(Cell v, bool all = false, bool only = false, bool flat = false, int part = NO_LIMIT) {
    Cell buf;
    string::make_at(&buf, 16);
    auto m = reinterpret_cast<act::Mold>(get_handler(type_of(&v), A_MOLD));
    m(&v, &buf, only, all, flat, part, 0);
    return text(buf);
}
inline std::string form(Cell v, int part = NO_LIMIT) {
    Cell buf;
    string::make_at(&buf, 16);
    auto f = reinterpret_cast<act::Form>(get_handler(type_of(&v), A_FORM));
    f(&v, &buf, part);
    return text(buf);
}
inline int cmp(Cell a, Cell b, int op) {
    return reinterpret_cast<act::Compare>(get_handler(type_of(&a), A_COMPARE))(&a, &b, op);
}

// Places the arguments at a fresh arguments base, runs `body` and answers the
// result slot.
inline Cell with_args(std::initializer_list<Cell> args, const std::function<void(Cell*)>& body) {
    Cell* saved_args = stack::arguments;
    Cell* saved_top = stack::top;
    stack::arguments = stack::top;
    for (const Cell& c : args) stack::push(&c);
    Cell* base = stack::arguments;
    struct Restore {
        Cell* a;
        Cell* t;
        ~Restore() {
            stack::arguments = a;
            stack::top = t;
        }
    } restore{saved_args, saved_top};
    body(base);
    return *base;
}
// A "stack" handler (arguments on the stack, no parameters) of the first
// argument's type.
inline Cell call(int action, std::initializer_list<Cell> args) {
    return with_args(args, [&](Cell* base) {
        auto h = reinterpret_cast<act::Stack>(get_handler(type_of(base), action));
        ASSERT_NE(h, nullptr) << "no handler for action " << action;
        h();
    });
}
template <typename F>
inline F handler(int type, int action) {
    return reinterpret_cast<F>(get_handler(type, action));
}

// The error a call raises, or a null id when it raises none.
inline err::Id raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const VyxError& e) {
        return e.id;
    }
    return err::Id{0, 0};
}
inline bool same_id(err::Id a, err::Id b) { return a.category == b.category && a.entry == b.entry; }
#define EXPECT_RAISES(expr, id) EXPECT_TRUE(::vyx::test::same_id(::vyx::test::raised([&] { expr; }), id)) << #expr

}  // namespace vyx::test
