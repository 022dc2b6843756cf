// Control natives under a collection at every allocation, with every live
// buffer moved: the console runs without the collector, so only here do the
// blocks these natives run (and the blocks they walk) have to survive code
// that removes them from where they came from.
#include <string>

#include "interp_fixture.h"

using namespace vyx;

namespace {

struct ControlUnderCollections : UnderCollections<InterpTest> {
    std::string run(std::string_view source) { return result_of_source(source); }
};

TEST_F(ControlUnderCollections, BranchesThatRemoveThemselvesRunToTheirEnd) {
    // Each branch clears the block it was taken from, allocates enough to
    // collect many times, then builds its result.
    const char* churn = "clear c loop 20 [x: copy [1 2 3]] append copy [] ";
    struct Case {
        std::string code;
        const char* result;
    } cases[] = {
        {std::string("c: [true [") + churn + "1]] case c", "[1]"},
        {std::string("c: [false [0] true [") + churn + "2]] case/all c", "[2]"},
        {std::string("c: [1 [") + churn + "3]] switch 1 c", "[3]"},
        {std::string("c: [[") + churn + "4]] switch/default 1 [] pick c 1", "[4]"},
        {std::string("c: [[") + churn + "5]] if true pick c 1", "[5]"},
        {std::string("c: [[") + churn + "6]] either false [0] pick c 1", "[6]"},
        {std::string("c: [[") + churn + "7]] b: pick c 1 repeat i 2 b", "[7]"},
        {std::string("c: [[") + churn + "8]] b: pick c 1 loop 2 b", "[8]"},
    };
    for (const Case& k : cases) EXPECT_EQ(run(k.code), k.result) << k.code;
}

TEST_F(ControlUnderCollections, CountersAndResultsSurviveNestedAllocation) {
    EXPECT_EQ(run("b: copy [] repeat i 30 [append b copy \"ab\"] length? b"), "30");
    EXPECT_EQ(run("n: 0 case/all [true [n: n + length? copy [1 2]] false [0] true [copy [9]]]"), "[9]");
    EXPECT_EQ(run("r: copy [] repeat i 4 [append r switch i [1 3 [copy \"o\"] 2 4 [copy \"e\"]]] r"),
              "[\"o\" \"e\" \"o\" \"e\"]");
}

}  // namespace
