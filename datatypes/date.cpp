#include "datatypes/date.h"

#include <charconv>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>

#include "boot/system_object.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/math_dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/types.h"
#include "datatypes/word.h"
#include "evaluator/random.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/cells.h"
#include "runtime/raise.h"

namespace vyx::date {

namespace {
int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }
int64_t year_days(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }
int32_t weekday_of(int64_t g) { return int32_t(floor_mod(g + 2, 7)) + 1; }  // day 0 is a Wednesday

[[noreturn]] void overflow() { raise_error(err::math_overflow); }

// Rebuilds the packed word from a day number, keeping zone and has-time.
void rebuild(Cell* c, int64_t days) {
    if (!in_range(days)) overflow();
    c->data1 = from_days(int32_t(days), c->data1 & ZONE_MASK, has_time(c));
}

// First day of ISO week 1 of a year.
int64_t isoweek_start(int32_t year) {
    int64_t j = to_days(year, 1, 1);
    int32_t wd = weekday_of(j);
    return wd < 5 ? j + 1 - wd : j + 8 - wd;
}

int32_t isoweek_of(int64_t g, int32_t y) {
    int64_t start = isoweek_start(y);
    if (g < start) {
        int32_t wd = weekday_of(to_days(y, 1, 1));
        return wd == 5 || (wd == 6 && is_leap_year(y - 1)) ? 53 : 52;
    }
    if (g >= isoweek_start(y + 1)) return 1;
    return int32_t((g - start) / 7) + 1;
}

int32_t week_of(const Cell* c) {
    int64_t j = to_days(year(c), 1, 1);
    int64_t w = floor_mod(j + 3, 7);
    int64_t yd = to_days(c->data1) - j + 1;
    if (yd <= 7 - w) return 1;
    return int32_t((yd + w - 1) / 7) + 1;
}

void set_week(Cell* c, int32_t n) {
    int64_t j = to_days(year(c), 1, 1);
    int64_t w = floor_mod(j + 3, 7);
    rebuild(c, n > 1 ? j + 7 * int64_t(n - 2) + 7 - w : j);
}

const int64_t MIN_DAY = year_days(MIN_YEAR - 1) + 306;  // 1 January of MIN_YEAR
const int64_t MAX_DAY = year_days(MAX_YEAR) + 305;      // 31 December of MAX_YEAR
}  // namespace

bool is_leap_year(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t to_days(int32_t y, int32_t m, int32_t d) {
    int64_t mm = floor_mod(m + 9, 12);
    int64_t yy = y - floor_div(mm, 10);
    return int32_t(year_days(yy) + floor_div(306 * mm + 5, 10) + (d - 1));
}

bool in_range(int64_t days) { return days >= MIN_DAY && days <= MAX_DAY; }

uint32_t from_days(int32_t g, uint32_t zone, bool has_time) {
    int64_t y = int64_t(std::floor((10000.0 * g + 14780.0) / 3652425.0));
    int64_t r = g - year_days(y);
    if (r < 0) {
        y -= 1;
        r = g - year_days(y);
    }
    int64_t mi = floor_div(100 * r + 52, 3060);
    int64_t month = floor_mod(mi + 2, 12) + 1;
    int64_t year = y + floor_div(mi + 2, 12);
    int64_t day = r - floor_div(306 * mi + 5, 10) + 1;
    return pack_day(int32_t(year), int32_t(month), int32_t(day)) | (zone & ZONE_MASK) | (has_time ? HAS_TIME : 0);
}

int32_t zone_seconds(uint32_t zone) {
    int32_t s = int32_t((zone >> 2) & 15) * 3600 + int32_t(zone & 3) * 900;
    return (zone & ZONE_SIGN) ? -s : s;
}

uint32_t zone_of_seconds(int32_t seconds) {
    int32_t a = seconds < 0 ? -seconds : seconds;
    int32_t hours = a / 3600, quarters = (a % 3600) / 900;
    if (hours > 15) hours = 15, quarters = 3;
    uint32_t zone = uint32_t(hours << 2) | uint32_t(quarters);
    return zone && seconds < 0 ? zone | ZONE_SIGN : zone;
}

Cell* make_from_parts(Cell* target, int32_t year, int32_t month, int32_t day, double time,
                      int32_t zone_hours, int32_t zone_minutes, bool has_time) {
    uint32_t zone = 0;
    if (zone_hours < 0) {
        zone = ZONE_SIGN;
        zone_hours = -zone_hours;
    }
    zone |= (uint32_t(zone_hours << 2) & ZONE_MASK) | uint32_t(zone_minutes / 15);
    zone &= ZONE_MASK;
    set_cell_type(target, TYPE_DATE);
    target->data1 = pack_day(year, month, day);
    if (has_time) {
        target->data1 |= HAS_TIME | zone;
        set_cell_float(target, time - zone_seconds(zone));
    } else {
        set_cell_float(target, 0.0);
    }
    return target;
}

Cell* make_from_clock(Cell* target, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                      int32_t second, int32_t nanoseconds) {
    set_cell_type(target, TYPE_DATE);
    target->data1 = pack_day(year, month, day) | HAS_TIME;
    set_cell_float(target, hour * 3600.0 + minute * 60.0 + second + nanoseconds * 1e-9);
    return target;
}

Cell* make_from_epoch(Cell* target, double unix_seconds, int32_t zone_offset) {
    double days = std::floor(unix_seconds / 86400.0);
    if (!(std::fabs(days) < 1e8) || !in_range(int64_t(days) + EPOCH_DAY)) overflow();
    set_cell_type(target, TYPE_DATE);
    target->data1 = from_days(int32_t(days) + EPOCH_DAY, zone_of_seconds(zone_offset), true);
    normalize(target, unix_seconds - days * 86400.0, false);
    return target;
}

void set_isoweek(Cell* c, int32_t week) { rebuild(c, isoweek_start(year(c)) + 7 * (int64_t(week) - 1)); }

void set_weekday(Cell* c, int32_t weekday) {
    int64_t g = to_days(c->data1);
    rebuild(c, g - weekday_of(g) + weekday);
}

void set_yearday(Cell* c, int32_t yearday) { rebuild(c, to_days(year(c), 1, 1) + int64_t(yearday) - 1); }

int32_t iso_weeks_in_year(int32_t y) {
    // 53 when 1 January is a Thursday, or a Wednesday in a leap year.
    int32_t wd = weekday_of(to_days(y, 1, 1));
    return (wd == 4 || (wd == 3 && is_leap_year(y))) ? 53 : 52;
}

int64_t normalize_time(int64_t g, double& s, uint32_t zone) {
    double tz = zone_seconds(zone) / 3600.0;
    double n = std::trunc((s / 3600.0 + tz) / 24.0);
    if (!(std::fabs(n) < 1e8)) overflow();
    g += int64_t(n);
    s -= 86400.0 * n;
    if (tz * 3600.0 + s < 0) {
        g -= 1;
        s += 86400.0;
    }
    return g;
}

void normalize(Cell* c, double s, bool local) {
    if (local) s -= zone_seconds(zone(c));
    int64_t g = normalize_time(to_days(c->data1), s, zone(c));
    rebuild(c, g);
    set_cell_float(c, s);
}

namespace {

void set_month(Cell* c, int64_t m) {
    int64_t y = year(c) + floor_div(m - 1, 12);
    int64_t month = floor_mod(m - 1, 12) + 1;
    if (y < MIN_YEAR || y > MAX_YEAR) overflow();
    rebuild(c, to_days(int32_t(y), int32_t(month), day(c)));
}

Cell none_cell() { return Cell{TYPE_NONE, 0, 0, 0}; }
Cell integer_cell(int64_t n) { return Cell{TYPE_INTEGER, 0, uint32_t(int32_t(n)), 0}; }
double local_seconds(const Cell* c) { return seconds(c) + zone_seconds(zone(c)); }

}  // namespace

Cell get_field(const Cell* c, int field) {
    int64_t g = to_days(c->data1);
    switch (field) {
    case 1: {
        Cell d{TYPE_DATE, c->data1 & ~(HAS_TIME | ZONE_MASK), 0, 0};
        set_cell_float(&d, 0.0);
        return d;
    }
    case 2: return integer_cell(year(c));
    case 3: return integer_cell(month(c));
    case 4: return integer_cell(day(c));
    case 5: case 12: {
        if (!has_time(c)) return none_cell();
        Cell t{TYPE_TIME, 0, 0, 0};
        return *time::make_at(zone_seconds(zone(c)), &t);
    }
    case 6: {
        if (!has_time(c)) return none_cell();
        Cell t{TYPE_TIME, 0, 0, 0};
        return *time::make_at(local_seconds(c), &t);
    }
    case 7: case 8: case 9: return time::get_field(local_seconds(c), field - 6);
    case 10: return integer_cell(weekday_of(g));
    case 11: return integer_cell(g - to_days(year(c), 1, 1) + 1);
    case 13: return integer_cell(week_of(c));
    default: return integer_cell(isoweek_of(g, year(c)));
    }
}

double to_epoch(const Cell* c) {
    return std::floor(double(to_days(c->data1) - EPOCH_DAY) * 86400.0 + seconds(c) + 0.5);
}

int32_t to_integer(const Cell* c) {
    double e = to_epoch(c);
    if (e < -2147483648.0 || e > 2147483647.0) {
        Cell dt{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
        raise_error(err::script_type_limit, &dt);
    }
    return int32_t(e);
}

namespace {

// The first three characters of the month's name in the locale, as UTF-8.
int month_abbreviation(int32_t m, char* out) {
    const Cell* months = system_object::field({"locale", "months"});
    const Cell* name = nullptr;
    if (months && is_any_block(type_of(months)) && m >= 1 && uint32_t(m) <= series::rs_length(months)) {
        name = reinterpret_cast<const Cell*>(series::element_at(series::buffer_of(months), months->data1)) + (m - 1);
        if (type_of(name) != TYPE_STRING) name = nullptr;
    }
    if (!name) raise_error(err::script_invalid_months);
    SeriesBuffer* b = series::buffer_of(name);
    uint32_t length = series::rs_length(name);
    if (b->unit() == 1) {
        // Narrow text: the bytes are the characters; ASCII is the usual case.
        const uint8_t* p = series::element_at(b, name->data1);
        int n = 0;
        for (uint32_t k = 0; k < length && k < 3; k++) {
            if (p[k] < 0x80) {
                out[n++] = char(p[k]);
            } else {
                out[n++] = char(0xC0 | (p[k] >> 6));
                out[n++] = char(0x80 | (p[k] & 0x3F));
            }
        }
        return n;
    }
    std::string utf8 = string::to_utf8(name);
    size_t cut = 0;
    for (int k = 0; k < 3 && cut < utf8.size(); k++) {
        cut++;
        while (cut < utf8.size() && (uint8_t(utf8[cut]) & 0xC0) == 0x80) cut++;
    }
    std::memcpy(out, utf8.data(), cut);
    return int(cut);
}

void put2(char*& p, int v) {
    *p++ = char('0' + v / 10);
    *p++ = char('0' + v % 10);
}

}  // namespace

int write_chars(const Cell* c, char* out) {
    // The time of day first: rounded to its text's six significant digits,
    // 23:59:59.9999996 is the next day's midnight, and the day carries.
    char time_text[time::TEXT_MAX];
    int time_length = 0;
    if (has_time(c)) {
        double local = local_seconds(c);
        time_length = time::write_chars(local, time_text);
        if (time_length > 3 && std::memcmp(time_text, "24:", 3) == 0 && local < 86400.0) {
            Cell next = *c;
            normalize(&next, 86400.0, true);
            return write_chars(&next, out);
        }
    }
    char* p = out;
    int32_t d = day(c), y = year(c);
    char sep = y < 0 ? '/' : '-';
    if (d >= 10) *p++ = char('0' + d / 10);
    *p++ = char('0' + d % 10);
    *p++ = sep;
    p += month_abbreviation(month(c), p);
    *p++ = sep;
    if (y < 0) *p++ = '-';
    int32_t a = y < 0 ? -y : y;
    if (a < 100) {
        *p++ = '0';
        *p++ = '0';
        put2(p, a);
    } else {
        p = std::to_chars(p, p + 8, a).ptr;
    }
    if (has_time(c)) {
        *p++ = '/';
        std::memcpy(p, time_text, size_t(time_length));
        p += time_length;
        if (uint32_t z = zone(c)) {
            *p++ = (z & ZONE_SIGN) ? '-' : '+';
            put2(p, int((z >> 2) & 15));
            *p++ = ':';
            put2(p, int(z & 3) * 15);
        }
    }
    return int(p - out);
}

std::string text(const Cell* c) {
    char out[TEXT_MAX];
    return std::string(out, size_t(write_chars(c, out)));
}

namespace {

Cell datatype_of(int type) { return Cell{TYPE_DATATYPE, uint32_t(type), 0, 0}; }

[[noreturn]] void bad_to(const Cell* spec) {
    Cell dt = datatype_of(TYPE_DATE), s = *spec;
    raise_error(err::script_bad_to_arg, &dt, &s);
}

[[noreturn]] void invalid_arg(const Cell* value) {
    Cell v = *value;
    raise_error(err::script_invalid_arg, &v);
}

int form(Cell* value, Cell* buffer, int part) {
    char t[TEXT_MAX];
    int length = write_chars(value, t);
    bool ascii = true;
    for (int k = 0; k < length; k++) ascii = ascii && uint8_t(t[k]) < 0x80;
    if (ascii) return string::concatenate_literal(buffer, std::string_view(t, size_t(length)), part);
    // A month name of the locale beyond ASCII.
    collector::Rooted<1> r;
    string::load(reinterpret_cast<const uint8_t*>(t), uint32_t(length), 0, &r[0]);
    int n = int(series::rs_length(&r[0]));
    string::concatenate(buffer, &r[0], part < 0 ? 0 : std::min(n, part), 0, true, false);
    return part - n;
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) { return form(value, buffer, part); }

// ---------------------------------------------------------------- make, to

// The block spec: [d m y], then a time or hour [minute [second]], then a zone.
const Cell* from_block(Cell* spec, bool make) {
    enum Slot { DAY, MONTH, YEAR, HOUR, MINUTE, SECOND, ZONE_H, ZONE_M, FSECOND, TIME, ZONE_T, SLOTS };
    // next[state][class]: class 0 integer, 1 time, 2 float; -1 none. The slot
    // filled on entering a state follows.
    static const int8_t next[14][3] = {
        {1, -1, -1}, {2, -1, -1}, {3, -1, -1}, {8, 4, -1}, {6, 5, -1}, {-1, -1, -1}, {7, -1, -1},
        {-1, -1, -1}, {9, -1, -1}, {10, -1, 10}, {12, 11, -1}, {-1, -1, -1}, {13, -1, -1}, {-1, -1, -1},
    };
    static const int8_t slot_of[14][3] = {
        {DAY}, {MONTH}, {YEAR}, {HOUR, TIME}, {ZONE_H, ZONE_T}, {}, {ZONE_M}, {}, {MINUTE}, {SECOND, -1, FSECOND},
        {ZONE_H, ZONE_T}, {}, {ZONE_M}, {},
    };
    uint32_t n = series::rs_length(spec);
    const Cell* items = reinterpret_cast<const Cell*>(series::element_at(series::buffer_of(spec), spec->data1));
    double v[SLOTS] = {};
    bool given[SLOTS] = {};
    int state = 0;
    for (uint32_t i = 0; i < n; i++) {
        int t = type_of(items + i);
        int cls = t == TYPE_INTEGER ? 0 : t == TYPE_TIME ? 1 : t == TYPE_FLOAT ? 2 : -1;
        if (cls < 0 || next[state][cls] < 0) bad_to(spec);
        int slot = slot_of[state][cls];
        v[slot] = cls == 0 ? double(int32_t(items[i].data2)) : cell_float(items + i);
        given[slot] = true;
        state = next[state][cls];
    }
    if (n < 3) bad_to(spec);
    if (v[DAY] >= 100 && v[DAY] > v[YEAR]) std::swap(v[DAY], v[YEAR]);
    if (v[YEAR] < MIN_YEAR || v[YEAR] > MAX_YEAR) bad_to(spec);

    double zh = v[ZONE_H], zm = v[ZONE_M];
    if (given[ZONE_T]) {
        zh = std::trunc(v[ZONE_T] / 3600.0);
        zm = std::floor(std::fmod(std::fabs(v[ZONE_T]), 3600.0) / 60.0);
    }
    // A zone must fit the zone bits: under 16 hours, minutes 0-59.
    if (zm < 0 || zm > 59 || std::fabs(zh) > 15) bad_to(spec);
    uint32_t zone = 0;
    uint32_t quarters = uint32_t(zm) / 15;
    if (zh != 0 || quarters != 0) {
        zone = (uint32_t(std::fabs(zh)) << 2) | quarters;
        if (zh < 0) zone |= ZONE_SIGN;
    }
    double t;
    if (given[TIME]) t = v[TIME];
    else t = v[HOUR] * 3600.0 + v[MINUTE] * 60.0 + (v[FSECOND] != 0.0 ? v[FSECOND] : v[SECOND]);
    if (!std::isfinite(t)) bad_to(spec);

    static Cell result;
    result = Cell{TYPE_DATE, pack_day(int32_t(v[YEAR]), 1, 1), 0, 0};
    double month_given = v[MONTH];
    int64_t y = int64_t(v[YEAR]) + floor_div(int64_t(month_given) - 1, 12);
    int64_t m = floor_mod(int64_t(month_given) - 1, 12) + 1;
    if (y < MIN_YEAR || y > MAX_YEAR) bad_to(spec);
    int64_t g = int64_t(to_days(int32_t(y), int32_t(m), 0)) + int64_t(v[DAY]);
    if (!in_range(g)) bad_to(spec);
    result.data1 = from_days(int32_t(g), 0, n > 3);
    double s = t;
    g = normalize_time(g, s, 0);
    if (!in_range(g)) bad_to(spec);
    result.data1 = from_days(int32_t(g), 0, n > 3);
    set_cell_float(&result, s);
    if (make) {
        bool same_date = year(&result) == int32_t(v[YEAR]) && month(&result) == int32_t(v[MONTH]) &&
                         day(&result) == int32_t(v[DAY]);
        bool same_time;
        if (t == 0.0) {
            same_time = v[HOUR] == time::get_hours(s) && v[MINUTE] == time::get_minutes(s);
        } else {
            double hour = std::trunc(t / 3600.0);
            double minute = given[MINUTE] ? v[MINUTE] : double(time::get_minutes(t));
            same_time = hour >= 0 && hour <= 23 && minute == time::get_minutes(s);
        }
        if (!same_date || !same_time) bad_to(spec);
    }
    result.data1 |= zone;
    if (result.data1 & HAS_TIME) {
        s -= zone_seconds(zone);
        g = normalize_time(to_days(result.data1), s, zone);
        if (!in_range(g)) bad_to(spec);
        result.data1 = from_days(int32_t(g), zone, true);
        set_cell_float(&result, s);
    } else {
        result.data1 &= ~ZONE_MASK;
    }
    return &result;
}

const Cell* make_or_to(Cell* spec, bool make) {
    static Cell result;
    switch (type_of(spec)) {
    case TYPE_DATE: return spec;
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: return from_block(spec, make);
    case TYPE_INTEGER: {
        if (make) bad_to(spec);
        int64_t n = int32_t(spec->data2);
        int64_t days = n / 86400;
        result = Cell{TYPE_DATE, from_days(int32_t(EPOCH_DAY + days), 0, true), 0, 0};
        normalize(&result, double(n - 86400 * days), false);
        return &result;
    }
    default: bad_to(spec);
    }
}

const Cell* make(Cell*, Cell* spec, int) { return make_or_to(spec, true); }
const Cell* to(Cell*, Cell* spec, int) { return make_or_to(spec, false); }

// ---------------------------------------------------------------- arithmetic

void do_math(int op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int64_t dd = 0;
    double ds = 0.0;
    bool with_time = has_time(left);
    bool date_difference = false;
    switch (type_of(right)) {
    case TYPE_INTEGER: dd = int32_t(right->data2); break;
    case TYPE_TIME:
        ds = cell_float(right);
        with_time = true;
        break;
    case TYPE_DATE:
        if (op == OP_ADD) math::not_related("add", TYPE_DATE);
        dd = to_days(right->data1);
        ds = seconds(right);
        date_difference = true;
        break;
    default: {
        Cell dt = datatype_of(type_of(right));
        raise_error(err::script_invalid_type, &dt);
    }
    }
    int64_t g = to_days(left->data1);
    double s = seconds(left);
    if (op == OP_ADD) {
        g += dd;
        s += ds;
    } else {
        g -= dd;
        s -= ds;
    }
    if (date_difference) {
        g = normalize_time(g, s, zone(left));
        if (g < INT32_MIN || g > INT32_MAX) overflow();
        *left = integer_cell(g);
        return;
    }
    g = normalize_time(g, s, zone(left));
    if (!in_range(g)) overflow();
    left->data1 = from_days(int32_t(g), zone(left), with_time);
    set_cell_float(left, s);
}

// ---------------------------------------------------------------- compare

int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_DATE) return NOT_COMPARABLE;
    uint32_t ka = (a->data1 & ~HAS_TIME) >> DAY_SHIFT, kb = (b->data1 & ~HAS_TIME) >> DAY_SHIFT;
    if (op == COMP_SAME) return ka == kb && float_::bits_of(seconds(a)) == float_::bits_of(seconds(b)) ? 0 : 1;
    // Dates are instants: the day and the UTC-based seconds.
    double days = double(to_days(a->data1) - to_days(b->data1));
    double ia = days * 86400.0 + seconds(a), ib = seconds(b);
    bool equal = float_::is_equal(ia, ib);
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_FIND: return equal ? 0 : 1;
    default: return equal ? 0 : ia < ib ? -1 : 1;
    }
}

// ---------------------------------------------------------------- fields

int field_of(const Cell* element) {
    int t = type_of(element);
    if (t == TYPE_INTEGER) {
        int32_t i = int32_t(element->data2);
        return i >= 1 && i <= 14 ? i : 0;
    }
    if (!is_any_word(t) || t == TYPE_ISSUE) return 0;
    const int32_t names[15] = {sym::date, sym::year, sym::month, sym::day, sym::zone, sym::time, sym::hour,
                               sym::minute, sym::second, sym::weekday, sym::yearday, sym::timezone, sym::week,
                               sym::isoweek, sym::julian};
    int32_t s = symbol::resolve(word::symbol_of(element));
    for (int i = 0; i < 15; i++)
        if (symbol::resolve(names[i]) == s) return i == 14 ? 11 : i + 1;
    return 0;
}

void set_zone(Cell* c, const Cell* value, bool keep_instant) {
    int64_t hours, minutes;
    if (type_of(value) == TYPE_INTEGER) {
        hours = int32_t(value->data2) % 16;
        minutes = 0;
    } else if (type_of(value) == TYPE_TIME) {
        // An infinite or NaN time (float arithmetic makes them) has no hours.
        if (!std::isfinite(cell_float(value))) invalid_arg(value);
        double z = std::fmod(cell_float(value), 57600.0);
        hours = int64_t(std::trunc(z / 3600.0));
        minutes = int64_t(std::floor(std::fmod(std::fabs(z), 3600.0) / 60.0));
    } else {
        invalid_arg(value);
    }
    uint32_t zone_bits = uint32_t((hours < 0 ? -hours : hours) << 2) | uint32_t((minutes / 15) & 3);
    if (hours < 0 || (hours == 0 && type_of(value) == TYPE_TIME && cell_float(value) < 0 && zone_bits))
        zone_bits |= ZONE_SIGN;
    c->data1 |= HAS_TIME;
    if (keep_instant) {
        double local = seconds(c) + zone_seconds(zone_bits);
        c->data1 = (c->data1 & ~ZONE_MASK) | zone_bits;
        normalize(c, local, true);
    } else {
        double local = local_seconds(c);
        c->data1 = (c->data1 & ~ZONE_MASK) | zone_bits;
        set_cell_float(c, local - zone_seconds(zone_bits));
    }
}

void set_field(Cell* c, int field, const Cell* value) {
    int vt = type_of(value);
    switch (field) {
    case 2: case 3: case 4: case 10: case 11: case 13: case 14:
        if (vt != TYPE_INTEGER) invalid_arg(value);
        break;
    default: break;
    }
    int64_t n = vt == TYPE_INTEGER ? int32_t(value->data2) : 0;
    int64_t g = to_days(c->data1);
    switch (field) {
    case 1:
        if (vt != TYPE_DATE) invalid_arg(value);
        c->data1 = (value->data1 & ~ZONE_MASK) | zone(c);
        break;
    case 2:
        if (n < MIN_YEAR || n > MAX_YEAR) overflow();
        rebuild(c, to_days(int32_t(n), month(c), day(c)));
        break;
    case 3: set_month(c, n); break;
    case 4: rebuild(c, int64_t(to_days(year(c), month(c), 0)) + n); break;
    case 5: set_zone(c, value, false); break;
    case 12: set_zone(c, value, true); break;
    case 6:
        if (vt == TYPE_NONE) {
            c->data1 &= ~(HAS_TIME | ZONE_MASK);
            set_cell_float(c, 0.0);
        } else if (vt == TYPE_TIME) {
            c->data1 |= HAS_TIME;
            normalize(c, cell_float(value), true);
        } else {
            invalid_arg(value);
        }
        break;
    case 7: case 8: case 9: {
        double local = time::set_field(local_seconds(c), field - 6, value);
        c->data1 |= HAS_TIME;
        normalize(c, local, true);
        break;
    }
    case 10: rebuild(c, g + (n - 1) - floor_mod(g + 2, 7)); break;
    case 11: rebuild(c, int64_t(to_days(year(c), 1, 1)) + n - 1); break;
    case 13: set_week(c, int32_t(n)); break;
    default: set_isoweek(c, int32_t(n)); break;
    }
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool) {
    static Cell result;
    int field = field_of(element);
    if (!field) {
        Cell p = path ? *path : NONE_CELL, e = *element;
        raise_error(err::script_invalid_path, &p, &e);
    }
    if (!value) {
        result = get_field(parent, field);
        return &result;
    }
    Cell d = *parent;
    set_field(&d, field, value);
    *parent = d;
    return value;
}

const Cell* pick(Cell* d, int, Cell* boxed_index) {
    static Cell result;
    int field = field_of(boxed_index);
    if (!field) {
        Cell i = *boxed_index;
        if (type_of(&i) == TYPE_INTEGER) raise_error(err::script_out_of_range, &i);
        Cell v = *d;
        raise_error(err::script_cannot_use, &i, &v);
    }
    result = get_field(d, field);
    return &result;
}

void randomize(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random_gen::random_seed(int32_t(value->data1 + uint32_t(int64_t(seconds(value)))));
        *value = UNSET_CELL;
        return;
    }
    int32_t g = to_days(value->data1);
    int32_t r = g > 0 ? random_gen::random_int(secure, g) : 1;
    rebuild(value, int64_t(r) - 1);
    if (has_time(value)) {
        value->data1 = (value->data1 & ~ZONE_MASK) | (uint32_t(random_gen::random_next()) & ZONE_MASK);
        double u;
        if (secure) {
            double r1 = random_gen::random_next_secure(), r2 = random_gen::random_next_secure();
            u = (r2 + r1 / 2147483647.0) / 2147483648.0;
        } else {
            u = random_gen::random_next() / 2147483647.0;
        }
        normalize(value, std::floor(u * 3600.0) * 24.0, true);
    }
}

// The UTC day of the instant: dates compare as instants, so one instant
// written in two zones, or a date without a time and the same day at
// midnight, must hash alike; the zone and the time-given flag cannot take part.
uint32_t hash_cell(const Cell* c, bool) {
    int64_t day = int64_t(to_days(c->data1)) + int64_t(std::floor(seconds(c) / 86400.0));
    return hash_bytes(&day, sizeof day);
}

}  // namespace

void register_type() {
    Registration(TYPE_DATE, 0, "date!")
        .hasher(hash_cell)
        .on<A_MAKE>(make)
        .on<A_RANDOM>(randomize)
        .on<A_TO>(to)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .on<A_COMPARE>(compare)
        .on<A_ADD>(math::handler<do_math, OP_ADD>)
        .on<A_SUBTRACT>(math::handler<do_math, OP_SUB>)
        .on<A_PICK>(pick)
        .commit();
}

}  // namespace vyx::date
