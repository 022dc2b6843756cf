// handle! and triple! values have no literal form: they are made in C++ and
// can only be shown and compared.
#include <string>

#include "datatypes/handle.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/triple.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {

std::string text(Cell v, int action, bool all = false, int part = NO_LIMIT) {
    Cell buf;
    string::make_at(&buf, 16);
    if (action == A_FORM)
        reinterpret_cast<act::Form>(get_handler(type_of(&v), A_FORM))(&v, &buf, part);
    else
        reinterpret_cast<act::Mold>(get_handler(type_of(&v), A_MOLD))(&v, &buf, false, all, false, part, 0);
    return string::to_utf8(&buf);
}

Cell handle_of(uint32_t value, uint32_t class_) {
    Cell c;
    return *handle::make_at(&c, value, class_);
}

}  // namespace

TEST_F(RuntimeTest, HandleText) {
    EXPECT_EQ(text(handle_of(42, handle::CLASS_NULL), A_FORM), "0000002Ah");
    EXPECT_EQ(text(handle_of(0x80000001u, handle::CLASS_FD), A_FORM), "80000001h");
    EXPECT_EQ(text(handle_of(0x001A0B2C, handle::CLASS_WINDOW), A_MOLD), "handle!");
    EXPECT_EQ(text(handle_of(0x001A0B2C, handle::CLASS_WINDOW), A_MOLD, true), "#[handle! 001A0B2Ch window]");
    EXPECT_EQ(text(handle_of(0, handle::CLASS_NULL), A_MOLD, true), "#[handle! 00000000h]");
    EXPECT_EQ(text(handle_of(7, handle::CLASS_RICH_TEXT), A_MOLD, true), "#[handle! 00000007h rich-text]");
}

TEST_F(RuntimeTest, HandleCompare) {
    auto compare = reinterpret_cast<act::Compare>(get_handler(TYPE_HANDLE, A_COMPARE));
    Cell a = handle_of(5, handle::CLASS_WINDOW), b = handle_of(5, handle::CLASS_FONT);
    Cell low = handle_of(0xFFFFFFFFu, handle::CLASS_NULL), five{TYPE_INTEGER, 0, 5, 0};
    EXPECT_EQ(compare(&a, &b, COMP_EQUAL), 0);     // the class does not count
    EXPECT_EQ(compare(&low, &a, COMP_LESSER), -1);  // values compare signed
    EXPECT_EQ(compare(&a, &five, COMP_EQUAL), 1);   // never equal to another type
    // Only form, mold and compare: the integer! parent gives nothing else.
    EXPECT_EQ(get_handler(TYPE_HANDLE, A_ADD), nullptr);
    EXPECT_EQ(get_handler(TYPE_HANDLE, A_MAKE), nullptr);
}

TEST_F(RuntimeTest, TripleText) {
    Cell t;
    triple::make_at(&t, 1, -2, 3);
    EXPECT_EQ(text(t, A_MOLD), "make triple! [1 -2 3]");
    EXPECT_EQ(text(t, A_FORM), "make triple! [1 -2 3]");
    triple::make_at(&t, INT32_MIN, 0, INT32_MAX);
    EXPECT_EQ(text(t, A_FORM), "make triple! [-2147483648 0 2147483647]");
    EXPECT_EQ(get_handler(TYPE_TRIPLE, A_MAKE), nullptr);
    EXPECT_EQ(get_handler(TYPE_TRIPLE, A_COMPARE), nullptr);
}
