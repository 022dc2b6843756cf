// compress, decompress and checksum while the collector moves every buffer at
// every allocation, and the time between two dates.
#include <string>

#include "datatypes/date.h"
#include "evaluator/lexer.h"
#include "interp_fixture.h"

using namespace vyx;

namespace {

struct CodecNatives : InterpTest {
    Cell run_cell(std::string_view source) {
        collector::Rooted<1> r;
        lexer::load_block(&r[0], source);
        return eval_block(r[0]);
    }
    std::string run(std::string_view source) {
        try {
            return mold(run_cell(source));
        } catch (const VyxError& e) {
            return "** " + message(e);
        }
    }
};

struct CodecNativesUnderCollections : CodecNatives {
    void SetUp() override {
        CodecNatives::SetUp();
        collector::active = true;
        collector::stress_every = 1;
        collector::evacuate = true;
    }
    void TearDown() override {
        collector::active = false;
        collector::stress_every = 0;
        collector::evacuate = false;
        CodecNatives::TearDown();
    }
};

}  // namespace

TEST_F(CodecNativesUnderCollections, DataMovedByTheResultsAllocationIsReadWhereItNowLives) {
    // The data is a binary that each allocation of a result moves.
    const char* setup = "d: copy #{} loop 300 [append d #{00010203040506070809}] ";
    for (const char* method : {"zlib", "deflate", "gzip"}) {
        std::string m = std::string("'") + method;
        EXPECT_EQ(run(std::string(setup) + "equal? d decompress compress d " + m + " " + m), "true") << method;
        EXPECT_EQ(run(std::string(setup) + "equal? d decompress/size compress d " + m + " " + m + " 3000"),
                  "true")
            << method;
    }
    EXPECT_EQ(run(std::string(setup) + "equal? checksum d 'sha1 checksum/with d 'sha1 #{}"), "false");
    EXPECT_EQ(run("checksum/with next #{00616263} 'md5 next #{00616263}"), "#{F71CDA1C893766A115234DB7FDD59F63}");
}

TEST_F(CodecNatives, DifferenceOfTwoDatesIsTheTimeBetweenTheirInstants) {
    struct Case {
        const char* source;
        double seconds;
    } cases[] = {
        {"difference 1-Jan-2020/10:00 1-Jan-2020/8:00", 7200},
        // 00:00 UTC on the 2nd less 10:00 UTC on the 1st.
        {"difference 2-Jan-2020 1-Jan-2020/12:00+2:00", 50400},
        {"difference 1-Mar-2020 1-Mar-2021", -365 * 86400.0},
    };
    for (const Case& c : cases) {
        Cell r = run_cell(c.source);
        EXPECT_EQ(type_of(&r), TYPE_TIME) << c.source;
        EXPECT_EQ(date::seconds(&r), c.seconds) << c.source;
    }
}
