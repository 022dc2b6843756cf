#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "runtime/platform/platform.h"

using namespace vyx;

namespace {

// Sets TZ for the scope of a test and puts the old value back.
struct ZoneScope {
    std::string old;
    bool had;
    explicit ZoneScope(const char* zone) {
        const char* o = std::getenv("TZ");
        had = o != nullptr;
        if (had) old = o;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (had) setenv("TZ", old.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
};

std::string run(const std::string& cmd) {
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return "";
    char buf[256];
    std::string out;
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// "+0530" -> minutes east of UTC.
int offset_of(const std::string& z) {
    int sign = z[0] == '-' ? -1 : 1;
    return sign * (std::stoi(z.substr(1, 2)) * 60 + std::stoi(z.substr(3, 2)));
}

}  // namespace

TEST(Platform, PackedZone) {
    EXPECT_EQ(platform::pack_zone(330), (5u << 2) | 2);            // +05:30
    EXPECT_EQ(platform::pack_zone(-210), ((3u | 0x10) << 2) | 2);  // -03:30
    EXPECT_EQ(platform::pack_zone(345), (5u << 2) | 3);            // +05:45
    EXPECT_EQ(platform::pack_zone(0), 0u);
    EXPECT_EQ(platform::pack_zone(-300), (5u | 0x10) << 2);
    EXPECT_EQ(platform::pack_date(2026, 12, 10, 60), (2026u << 17) | (12u << 12) | (10u << 7) | (1u << 2));
}

TEST(Platform, LocalZoneMatchesTheSystem) {
    for (const char* zone : {"Asia/Kolkata", "America/St_Johns", "UTC", "Asia/Kathmandu", "America/New_York"}) {
        if (access((std::string("/usr/share/zoneinfo/") + zone).c_str(), R_OK) != 0) {
            ADD_FAILURE() << "tzdata lacks " << zone;
            continue;
        }
        ZoneScope scope(zone);
        std::string z = run(std::string("TZ=") + zone + " date +%z");
        ASSERT_EQ(z.size(), 5u) << zone;
        uint32_t date = platform::get_local_time(false);
        EXPECT_EQ(date & 0x7F, platform::pack_zone(offset_of(z))) << zone << " " << z;
        std::string ymd = run(std::string("TZ=") + zone + " date +%Y-%m-%d");
        char mine[16];
        std::snprintf(mine, sizeof mine, "%04u-%02u-%02u", date >> 17, (date >> 12) & 0x1F, (date >> 7) & 0x1F);
        EXPECT_EQ(ymd, mine) << zone;
    }
}

TEST(Platform, ClockReadingIsConsistent) {
    platform::ClockReading r = platform::read_clock(true, true);
    EXPECT_EQ(r.date & 0x7F, 0u);  // UTC: zone 0
    EXPECT_GE(r.utc_seconds, 0.0);
    EXPECT_LT(r.utc_seconds, 86401.0);
    // The date and the time of day come from one reading: they name the same instant.
    std::time_t now = std::time(nullptr);
    std::tm u{};
    gmtime_r(&now, &u);
    double expect = u.tm_hour * 3600 + u.tm_min * 60 + u.tm_sec;
    double diff = std::fabs(r.utc_seconds - expect);
    EXPECT_TRUE(diff < 3 || diff > 86390) << r.utc_seconds << " " << expect;
    double whole = platform::get_utc_time(false);
    EXPECT_EQ(whole, std::floor(whole));
}

TEST(Platform, WaitClampsItsDuration) {
    struct {
        double seconds;
        int64_t ms;
    } cases[] = {{0, 1},       {0.0004, 1},    {1.5, 1500},          {-5, 1},
                 {NAN, 1},     {1e300, 0x7FFFFFFF}, {INFINITY, 0x7FFFFFFF}, {0.0025, 2}};
    for (auto& c : cases) EXPECT_EQ(platform::wait_milliseconds(c.seconds), c.ms) << c.seconds;
    auto t0 = std::chrono::steady_clock::now();
    platform::wait(0.02);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 19);
}

TEST(Platform, EnvironmentAndDirectory) {
    ASSERT_TRUE(platform::set_env("VYX_TEST_VAR", "h\xC3\xA9llo"));
    char buf[16];
    EXPECT_EQ(platform::get_env("VYX_TEST_VAR", buf, sizeof buf), 6u);
    EXPECT_STREQ(buf, "h\xC3\xA9llo");
    char small[4];
    EXPECT_EQ(platform::get_env("VYX_TEST_VAR", small, sizeof small), 7u);  // size needed, NUL included
    ASSERT_TRUE(platform::set_env("VYX_TEST_VAR", nullptr));
    EXPECT_EQ(platform::get_env("VYX_TEST_VAR", buf, sizeof buf), 0u);

    uint32_t len = 0;
    std::string here = platform::get_current_dir(len);
    EXPECT_EQ(len, here.size());
    EXPECT_EQ(here[0], '/');
    ASSERT_TRUE(platform::set_current_dir("/"));
    EXPECT_EQ(platform::get_current_dir(len), "/");
    EXPECT_EQ(len, 1u);
    EXPECT_FALSE(platform::set_current_dir("/no/such/dir/here"));
    ASSERT_TRUE(platform::set_current_dir(here.c_str()));
    EXPECT_FALSE(platform::is_terminal(-1));
}
