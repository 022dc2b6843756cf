// The argument frame a callable's spec describes: where each argument and
// refinement lands, the types it admits, the locals, and whether the common
// call can take its arguments the lean way.
#include "datatypes/typeset.h"
#include "evaluator/arg_frame.h"
#include "interp_fixture.h"
#include "runtime/collector.h"

using namespace vyx;

TEST_F(InterpTest, ArgFrameOfAFunction) {
    collector::Rooted<1> r;
    r[0] = eval("func [a [integer!] /only b [block! string!] return: [integer!] /local x y] [a]");
    const interp::ArgFrame* af = interp::arg_frame(&r[0]);
    ASSERT_EQ(af->count, 3);
    EXPECT_EQ(af->mandatory, 1);
    EXPECT_EQ(af->refinements, 1);
    EXPECT_EQ(af->width, 3);      // a, the /only flag, b; return: takes no cell
    EXPECT_EQ(af->locals, 3u);    // the /local flag, x and y
    EXPECT_EQ(af->lean, 1u);
    const interp::ArgSlot& a = af->slots[0];
    EXPECT_EQ(a.kind, interp::ARG_NORMAL);
    EXPECT_TRUE(typeset::has(&a.types, TYPE_INTEGER));
    EXPECT_FALSE(typeset::has(&a.types, TYPE_FLOAT));
    EXPECT_EQ(af->slots[1].kind, interp::ARG_REFINEMENT);
    EXPECT_EQ(af->slots[1].refinement, 1);
    EXPECT_EQ(af->slots[2].slot, 2);
    EXPECT_EQ(af->slots[2].refinement, 1);
    EXPECT_TRUE(typeset::has(&af->slots[2].types, TYPE_STRING));
}

TEST_F(InterpTest, ArgFrameKindsAndDefaults) {
    struct Case {
        const char* spec;
        uint8_t kind;
        uint32_t lean;
    };
    const Case cases[] = {
        {"func [a] []", interp::ARG_NORMAL, 1},
        {"func ['a] []", interp::ARG_LITERAL, 0},
        {"func [:a] []", interp::ARG_GET, 0},
    };
    for (const Case& c : cases) {
        collector::Rooted<1> r;
        r[0] = eval(c.spec);
        const interp::ArgFrame* af = interp::arg_frame(&r[0]);
        ASSERT_EQ(af->count, 1) << c.spec;
        EXPECT_EQ(af->slots[0].kind, c.kind) << c.spec;
        EXPECT_EQ(af->lean, c.lean) << c.spec;
        // An argument without a type block takes anything but unset!.
        EXPECT_TRUE(typeset::has(&af->slots[0].types, TYPE_BLOCK)) << c.spec;
        EXPECT_FALSE(typeset::has(&af->slots[0].types, TYPE_UNSET)) << c.spec;
    }
}

TEST_F(InterpTest, ArgFrameIsBuiltOnceAndFollowsCollections) {
    collector::Rooted<1> r;
    r[0] = eval("func [a [integer!] /b c] []");
    Node first = interp::arg_frame_node(&r[0]);
    collector::collect_garbage();
    EXPECT_EQ(interp::arg_frame_node(&r[0]), first);
    const interp::ArgFrame* af = interp::arg_frame(&r[0]);
    EXPECT_EQ(af->count, 3);
    EXPECT_TRUE(typeset::has(&af->slots[0].types, TYPE_INTEGER));
}
