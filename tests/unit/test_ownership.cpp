// Series ownership: deep-change notification of the objects that own a
// series, and what the collector does with the records.
#include "datatypes/ownership.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "interp_fixture.h"
#include "runtime/collector.h"

using namespace vyx;

namespace {

struct OwnershipTest : InterpTest {
    // The handler of an object that logs every deep change into the global
    // block `log` as word action index part (the log is not a field: a
    // handler changing its own object's series would hear itself).
    static constexpr const char* LOGGER =
        "on-deep-change*: func [owner word target action new index part] "
        "[append log word append log action append log index append log part]";

    std::string run(const std::string& fields, const std::string& then) {
        return result_of("log: [] o: make object! [" + fields + " " + LOGGER + "] " + then);
    }
};

}  // namespace

TEST_F(OwnershipTest, OwnerHearsBeforeAndAfterTheChange) {
    EXPECT_EQ(run("b: [1 2]", "append o/b 3 log"), "[b append 2 1 b appended 2 1]");
    EXPECT_EQ(run("s: \"ab\"", "clear o/s log"), "[s clear 0 2 s cleared 0 0]");
    // However deep the series lies, the field that reaches it is named.
    EXPECT_EQ(run("b: [x [1]]", "append second-b: o/b/2 5 log"), "[b append 1 1 b appended 1 1]");
    // The object's own series change under it: the log only sees them through append.
    EXPECT_EQ(run("b: [1]", "o/b/1: 9 log"), "[b poke 0 1 b poked 0 1]");
}

TEST_F(OwnershipTest, UnownedSeriesTellNobody) {
    Cell b = eval("b: [1 2]");
    collector::Rooted<1> keep;
    keep[0] = b;
    Cell action = words::append;
    EXPECT_FALSE(ownership::check(&keep[0], &action, 0, 1, nullptr));
    EXPECT_EQ(mold(eval("append b 3")), "[1 2 3]");
}

TEST_F(OwnershipTest, FirstOwnerKeepsTheSeries) {
    std::string r = result_of(std::string("log: [] b: [1] o1: make object! [x: b ") + LOGGER +
                              "] o2: make object! [y: b " + LOGGER + "] append b 2 log");
    EXPECT_EQ(r, "[x append 1 1 x appended 1 1]");
}

TEST_F(OwnershipTest, SelfContainingBlockBindsAndUnbindsWithoutLooping) {
    EXPECT_EQ(run("b: [1]", "append/only o/b o/b clear log modify o 'owned none append o/b 2 log"), "[]");
    EXPECT_EQ(run("b: [1]", "append/only o/b o/b make object! [c: o/b " + std::string(LOGGER) +
                                "] clear log append o/b 3 length? log"),
              "8");
    // An owner held in one of its own fields is not walked again.
    EXPECT_EQ(run("me: none b: []", "o/me: o modify o 'owner none append o/b 1 length? log"), "8");
}

TEST_F(OwnershipTest, ModifyOwnedMovesTheSeriesToAnotherOwner) {
    EXPECT_EQ(run("b: [1]",
                  "p: make object! [c: [] " + std::string(LOGGER) +
                      "] modify p 'owned none pr: copy [] append pr o append pr 'zz modify p 'owned pr "
                      "append p/c 1 log"),
              "[zz append 0 1 zz appended 0 1]");
}

TEST_F(OwnershipTest, DeadOwnersGoWithTheirSeries) {
    uint32_t before = ownership::record_count();
    eval(std::string("o: make object! [b: [1 [2]] s: \"x\" ") + LOGGER + "] o: none");
    EXPECT_GT(ownership::record_count(), before);
    collector::collect_garbage();
    EXPECT_EQ(ownership::record_count(), before);
}

TEST_F(OwnershipTest, LiveOwnersSurviveCollection) {
    eval(std::string("log: [] o: make object! [b: [1] ") + LOGGER + "]");
    uint32_t records = ownership::record_count();
    collector::collect_garbage();
    collector::collect_garbage();
    EXPECT_EQ(ownership::record_count(), records);
    EXPECT_EQ(mold(eval("append o/b 2 log")), "[b append 1 1 b appended 1 1]");
}
