// The date constructors other parts of the runtime build on (the clock, file
// times): clock fields and moments since 1970 in a zone.
#include <cmath>

#include "datatypes/date.h"
#include "runtime/raise.h"
#include "runtime_fixture.h"

using namespace vyx;

TEST_F(RuntimeTest, DatesFromTheClockAndFromEpochSeconds) {
    Cell c{TYPE_NONE, 0, 0, 0};
    date::make_from_clock(&c, 2024, 2, 29, 23, 59, 58, 500000000);
    EXPECT_EQ(date::text(&c), "29-Feb-2024/23:59:58.5");

    struct Case {
        double seconds;
        int32_t zone;
        const char* text;
    } cases[] = {
        {0, 0, "1-Jan-1970/0:00:00"},
        {-1, 0, "31-Dec-1969/23:59:59"},
        {0, 3600, "1-Jan-1970/1:00:00+01:00"},
        {0, -5 * 3600 - 1800, "31-Dec-1969/18:30:00-05:30"},
        {1709251199.25, 0, "29-Feb-2024/23:59:59.25"},
        {1709251199, 7200, "1-Mar-2024/1:59:59+02:00"},
    };
    for (const Case& k : cases) {
        date::make_from_epoch(&c, k.seconds, k.zone);
        EXPECT_EQ(date::text(&c), k.text) << k.seconds << " " << k.zone;
        // The same instant whatever the zone.
        EXPECT_EQ(date::to_epoch(&c), std::floor(k.seconds + 0.5)) << k.text;
    }
    // Zones beyond what the zone bits hold stop at 15:45.
    date::make_from_epoch(&c, 0, 20 * 3600);
    EXPECT_EQ(date::zone_seconds(date::zone(&c)), 15 * 3600 + 45 * 60);
    EXPECT_THROW(date::make_from_epoch(&c, 1e15, 0), VyxError);
}
