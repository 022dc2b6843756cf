// date!: a packed calendar date in payload word 1 and the UTC-based seconds of
// the day as a double in words 2 and 3.
//
// Packed word: year in bits 17-31 (signed), month 12-15, day 7-11, has-time
// bit 16, zone sign bit 6, zone hours 2-5, zone quarter hours 0-1.
//
// The stored seconds count from the start of the local day in UTC: local
// time of day = seconds + zone offset, so the instant is day × 86400 +
// seconds. Years outside MIN_YEAR .. MAX_YEAR are refused, never wrapped.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace vyx::date {

// The packed word (data1): the year, signed, in bits 17-31, the month in bits
// 12-15, the day in bits 7-11, HAS_TIME, and the zone in bits 0-6.
constexpr uint32_t YEAR_SHIFT = 17;
constexpr uint32_t MONTH_SHIFT = 12;
constexpr uint32_t MONTH_BITS = 15;
constexpr uint32_t DAY_SHIFT = 7;
constexpr uint32_t DAY_BITS = 31;
constexpr uint32_t HAS_TIME = 0x10000;
constexpr uint32_t ZONE_MASK = 0x7F;
constexpr uint32_t ZONE_SIGN = 0x40;
constexpr int32_t MIN_YEAR = -16384;
constexpr int32_t MAX_YEAR = 16383;
// Day number of 1 January 1970.
constexpr int32_t EPOCH_DAY = 719468;

inline uint32_t pack_day(int32_t year, int32_t month, int32_t day) {
    return (uint32_t(year) << YEAR_SHIFT) | (uint32_t(month) & MONTH_BITS) << MONTH_SHIFT |
           (uint32_t(day) & DAY_BITS) << DAY_SHIFT;
}
inline int32_t year_of(uint32_t packed) { return int32_t(packed) >> YEAR_SHIFT; }
inline int32_t month_of(uint32_t packed) { return int32_t((packed >> MONTH_SHIFT) & MONTH_BITS); }
inline int32_t day_of(uint32_t packed) { return int32_t((packed >> DAY_SHIFT) & DAY_BITS); }

bool is_leap_year(int32_t year);
// Day number: day 0 is 1 March of year 0 (proleptic Gregorian). The day is not
// range-checked, so day 0 is the last day of the previous month.
int32_t to_days(int32_t year, int32_t month, int32_t day);
inline int32_t to_days(uint32_t packed) {
    return to_days(year_of(packed), month_of(packed), day_of(packed));
}
// The packed word of a day number (unchecked: see in_range).
uint32_t from_days(int32_t days, uint32_t zone, bool has_time);
// True when the day number's year fits the year field.
bool in_range(int64_t days);
// Zone offset of the zone bits in seconds.
int32_t zone_seconds(uint32_t zone);
// The zone bits of an offset in seconds (rounded toward zero to a quarter
// hour; at most 15:45 either way).
uint32_t zone_of_seconds(int32_t seconds);

// The lexer's constructor: the local time of day is stored UTC-based. No day carry.
Cell* make_from_parts(Cell* target, int32_t year, int32_t month, int32_t day, double time,
                      int32_t zone_hours, int32_t zone_minutes, bool has_time);
// A UTC date with time from clock fields (file times).
Cell* make_from_clock(Cell* target, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                      int32_t second, int32_t nanoseconds);
// A date with time for a moment given as seconds since 1 January 1970 UTC,
// shown in the zone of `zone_offset` seconds east of UTC (the `now` native,
// file times). Raises math/overflow beyond the year range.
Cell* make_from_epoch(Cell* target, double unix_seconds, int32_t zone_offset);

// Moves the date to the Monday of ISO week n of its year; to weekday n (1 Monday
// .. 7 Sunday) of its week; to day n of its year. Zone and time are kept.
void set_isoweek(Cell* date, int32_t week);
void set_weekday(Cell* date, int32_t weekday);
void set_yearday(Cell* date, int32_t yearday);
// 52 or 53: the ISO weeks of a year.
int32_t iso_weeks_in_year(int32_t year);

// Carries whole days between the stored seconds and the day number, for the
// zone bits; answers the new day number.
int64_t normalize_time(int64_t days, double& seconds, uint32_t zone);
// Stores the seconds (local ones are first made UTC-based) and carries days.
void normalize(Cell* date, double seconds, bool local);
// Field 1-14 (date year month day zone time hour minute second weekday
// yearday timezone week isoweek) of a date.
Cell get_field(const Cell* date, int field);
// The seconds since 1 January 1970 UTC, rounded half up (`to integer!`).
double to_epoch(const Cell* date);
// The same as an integer!'s value; raises script/type-limit beyond 32 bits.
int32_t to_integer(const Cell* date);
// The text: d-Mon-yyyy[/h:mm:ss[+hh:mm]].
std::string text(const Cell* date);
// The same into `out` (TEXT_MAX bytes); answers the length.
constexpr int TEXT_MAX = 480;
int write_chars(const Cell* date, char* out);

inline int32_t year(const Cell* c) { return year_of(c->data1); }
inline int32_t month(const Cell* c) { return month_of(c->data1); }
inline int32_t day(const Cell* c) { return day_of(c->data1); }
inline bool has_time(const Cell* c) { return (c->data1 & HAS_TIME) != 0; }
inline uint32_t zone(const Cell* c) { return c->data1 & ZONE_MASK; }
inline double seconds(const Cell* c) { return cell_float(c); }

}  // namespace vyx::date
