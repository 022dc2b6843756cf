#include "datatypes/date.h"

#include <cmath>

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::date {

namespace {
int32_t floor_div(int32_t a, int32_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int32_t floor_mod(int32_t a, int32_t b) { return a - floor_div(a, b) * b; }
int32_t year_days(int32_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }
int32_t weekday_of(int32_t g) { return floor_mod(g + 2, 7) + 1; }  // day 0 is a Wednesday

void rebuild(Cell* c, int32_t days) {
    c->data1 = from_days(days, c->data1 & ZONE_MASK, has_time(c));
}

// First day of ISO week 1 of a year.
int32_t isoweek_start(int32_t year) {
    int32_t j = to_days(year, 1, 1);
    int32_t wd = weekday_of(j);
    return wd < 5 ? j + 1 - wd : j + 8 - wd;
}
}  // namespace

bool is_leap_year(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t to_days(int32_t y, int32_t m, int32_t d) {
    int32_t mm = floor_mod(m + 9, 12);
    int32_t yy = y - floor_div(mm, 10);
    return year_days(yy) + floor_div(306 * mm + 5, 10) + (d - 1);
}

uint32_t from_days(int32_t g, uint32_t zone, bool has_time) {
    int32_t y = int32_t(std::floor((10000.0 * g + 14780.0) / 3652425.0));
    int32_t r = g - year_days(y);
    if (r < 0) {
        y -= 1;
        r = g - year_days(y);
    }
    int32_t mi = floor_div(100 * r + 52, 3060);
    int32_t month = floor_mod(mi + 2, 12) + 1;
    int32_t year = y + floor_div(mi + 2, 12);
    int32_t day = r - floor_div(306 * mi + 5, 10) + 1;
    return (uint32_t(year) << 17) | (uint32_t(month) << 12) | (uint32_t(day) << 7) | (zone & ZONE_MASK) |
           (has_time ? HAS_TIME : 0);
}

int32_t zone_seconds(uint32_t zone) {
    int32_t s = int32_t((zone >> 2) & 15) * 3600 + int32_t(zone & 3) * 900;
    return (zone & ZONE_SIGN) ? -s : s;
}

Cell* make_from_parts(Cell* target, int32_t year, int32_t month, int32_t day, double time,
                      int32_t zone_hours, int32_t zone_minutes, bool has_time) {
    uint32_t zone = 0;
    if (zone_hours < 0) {
        zone = ZONE_SIGN;
        zone_hours = -zone_hours;
    }
    zone |= (uint32_t(zone_hours << 2) & 0x7F) | uint32_t(zone_minutes / 15);
    zone &= ZONE_MASK;
    set_cell_type(target, TYPE_DATE);
    target->data1 = (uint32_t(year) << 17) | (uint32_t(month & 15) << 12) | (uint32_t(day & 31) << 7);
    if (has_time) {
        target->data1 |= HAS_TIME | zone;
        set_cell_float(target, time - zone_seconds(zone));
    } else {
        set_cell_float(target, 0.0);
    }
    return target;
}

void set_isoweek(Cell* c, int32_t week) { rebuild(c, isoweek_start(year(c)) + 7 * (week - 1)); }

void set_weekday(Cell* c, int32_t weekday) {
    int32_t g = to_days(c->data1);
    rebuild(c, g - weekday_of(g) + weekday);
}

void set_yearday(Cell* c, int32_t yearday) { rebuild(c, to_days(year(c), 1, 1) + yearday - 1); }

int32_t iso_weeks_in_year(int32_t y) {
    // 53 when 1 January is a Thursday, or a Wednesday in a leap year.
    int32_t wd = weekday_of(to_days(y, 1, 1));
    return (wd == 4 || (wd == 3 && is_leap_year(y))) ? 53 : 52;
}

void register_type() { Registration(TYPE_DATE, 0, "date!").hasher(hash_payload_bytes<1, 12>).commit(); }

}  // namespace vyx::date
