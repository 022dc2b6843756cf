// compress, decompress and checksum while the collector moves every buffer at
// every allocation, and the time between two dates.
#include <string>

#include "datatypes/date.h"
#include "interp_fixture.h"

using namespace vyx;

namespace {

using CodecNatives = InterpTest;
using CodecNativesUnderCollections = UnderCollections<InterpTest>;

}  // namespace

TEST_F(CodecNativesUnderCollections, DataMovedByTheResultsAllocationIsReadWhereItNowLives) {
    // The data is a binary that each allocation of a result moves.
    const char* setup = "d: copy #{} loop 300 [append d #{00010203040506070809}] ";
    for (const char* method : {"zlib", "deflate", "gzip"}) {
        std::string m = std::string("'") + method;
        EXPECT_EQ(result_of_source(std::string(setup) + "equal? d decompress compress d " + m + " " + m), "true") << method;
        EXPECT_EQ(result_of_source(std::string(setup) + "equal? d decompress/size compress d " + m + " " + m + " 3000"),
                  "true")
            << method;
    }
    EXPECT_EQ(result_of_source(std::string(setup) + "equal? checksum d 'sha1 checksum/with d 'sha1 #{}"), "false");
    EXPECT_EQ(result_of_source("checksum/with next #{00616263} 'md5 next #{00616263}"), "#{F71CDA1C893766A115234DB7FDD59F63}");
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
        Cell r = eval_source(c.source);
        EXPECT_EQ(type_of(&r), TYPE_TIME) << c.source;
        EXPECT_EQ(date::seconds(&r), c.seconds) << c.source;
    }
}
