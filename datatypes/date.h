// date!: a packed calendar date in payload word 1 and the UTC-based seconds of
// the day as a double in words 2 and 3.
//
// Packed word: year in bits 17-31 (signed), month 12-15, day 7-11, has-time
// bit 16, zone sign bit 6, zone hours 2-5, zone quarter hours 0-1.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::date {

constexpr uint32_t HAS_TIME = 0x10000;
constexpr uint32_t ZONE_MASK = 0x7F;
constexpr uint32_t ZONE_SIGN = 0x40;

bool is_leap_year(int32_t year);
// Day number: day 0 is 1 March of year 0 (proleptic Gregorian). The day is not
// range-checked, so day 0 is the last day of the previous month.
int32_t to_days(int32_t year, int32_t month, int32_t day);
inline int32_t to_days(uint32_t packed) {
    return to_days(int32_t(packed) >> 17, int32_t((packed >> 12) & 15), int32_t((packed >> 7) & 31));
}
uint32_t from_days(int32_t days, uint32_t zone, bool has_time);
// Zone offset of the zone bits in seconds.
int32_t zone_seconds(uint32_t zone);

// The lexer's constructor: the local time of day is stored UTC-based. No day carry.
Cell* make_from_parts(Cell* target, int32_t year, int32_t month, int32_t day, double time,
                      int32_t zone_hours, int32_t zone_minutes, bool has_time);
// Moves the date to the Monday of ISO week n of its year; to weekday n (1 Monday
// .. 7 Sunday) of its week; to day n of its year. Zone and time are kept.
void set_isoweek(Cell* date, int32_t week);
void set_weekday(Cell* date, int32_t weekday);
void set_yearday(Cell* date, int32_t yearday);
// 52 or 53: the ISO weeks of a year.
int32_t iso_weeks_in_year(int32_t year);

inline int32_t year(const Cell* c) { return int32_t(c->data1) >> 17; }
inline int32_t month(const Cell* c) { return int32_t((c->data1 >> 12) & 15); }
inline int32_t day(const Cell* c) { return int32_t((c->data1 >> 7) & 31); }
inline bool has_time(const Cell* c) { return (c->data1 & HAS_TIME) != 0; }
inline double seconds(const Cell* c) { return cell_float(c); }

}  // namespace vyx::date
