// typeset!: construction, molding, comparison and the bitwise actions.
#include "datatypes/typeset.h"
#include "interp_fixture.h"

using namespace vyx;

TEST_F(InterpTest, TypesetMoldAndForm) {
    EXPECT_EQ(mold(eval("make typeset! [integer! float!]")), "make typeset! [integer! float!]");
    EXPECT_EQ(mold(eval("make typeset! []")), "make typeset! []");
    EXPECT_EQ(form(eval("make typeset! [none!]")), "make typeset! [none!]");
    // /only leaves the header and the trailing space out.
    Cell ts = typeset::empty();
    typeset::add(&ts, TYPE_INTEGER);
    typeset::add(&ts, TYPE_BLOCK);
    Cell buffer;
    string::make_at(&buffer, 16);
    auto m = reinterpret_cast<act::Mold>(get_handler(TYPE_TYPESET, A_MOLD));
    m(&ts, &buffer, true, false, false, NO_LIMIT, 0);
    EXPECT_EQ(string::to_utf8(&buffer), "block! integer!");
}

TEST_F(InterpTest, TypesetMembership) {
    const struct {
        const char* source;
        const char* molded;
    } cases[] = {
        {"find make typeset! [integer! float!] float!", "true"},
        {"find make typeset! [integer! float!] block!", "false"},
        {"t: make typeset! [integer!] (complement complement t) = t", "true"},
        {"(make typeset! [integer! float!]) = make typeset! [float! integer!]", "true"},
        {"(make typeset! [integer!]) or make typeset! [block!]", "make typeset! [block! integer!]"},
        {"(make typeset! [integer! block!]) and make typeset! [block!]", "make typeset! [block!]"},
        {"(make typeset! [integer! block!]) xor block!", "make typeset! [integer!]"},
        {"lesser? make typeset! [integer!] make typeset! [integer! block!]",
         "** cannot compare make typeset! [integer!] with make typeset! [block! integer!]"},
    };
    for (const auto& c : cases) EXPECT_EQ(result_of(c.source), c.molded) << c.source;
    // Sorting orders typesets by how many types they hold.
    Cell small = eval("make typeset! [integer!]"), big = eval("make typeset! [integer! block!]");
    auto cmp = reinterpret_cast<act::Compare>(get_handler(TYPE_TYPESET, A_COMPARE));
    EXPECT_EQ(cmp(&small, &big, COMP_SORT), -1);
    EXPECT_EQ(cmp(&big, &small, COMP_SORT), 1);
    Cell all = typeset::all_but_unset();
    EXPECT_FALSE(typeset::has(&all, TYPE_UNSET));
    EXPECT_TRUE(typeset::has(&all, TYPE_NONE));
    // Type id 1 is bit 0x40 of the first byte; id 8 is 0x80 of the second.
    Cell one = typeset::empty();
    typeset::add(&one, TYPE_DATATYPE);
    typeset::add(&one, 8);
    EXPECT_EQ(one.data1, 0x8040u);
}

TEST_F(InterpTest, TypesetErrors) {
    EXPECT_TRUE(same_id(error_of("make typeset! 3"), err::script_bad_to_arg));
    EXPECT_TRUE(same_id(error_of("make typeset! [3]"), err::script_invalid_arg));
    EXPECT_TRUE(same_id(error_of("find make typeset! [] 3"), err::script_invalid_arg));
    EXPECT_TRUE(same_id(error_of("f: func [a [integer! 3]] [a]"), err::script_invalid_type_spec));
}
