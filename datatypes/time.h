// time!: seconds as a double in payload words 2 and 3 (any finite value).
// A time is a float in all but its text, fields and a few arithmetic cases.
#pragma once
#include <string>

#include "datatypes/float.h"

namespace vyx::time {

inline Cell* make_at(double seconds, Cell* target) { return float_::make_kind_at(target, TYPE_TIME, seconds); }

// The fields: hour truncated toward zero, minute of |s| (never negative),
// second with the sign of s.
int32_t get_hours(double seconds);
int32_t get_minutes(double seconds);
double get_seconds(double seconds);
// Field 1 hour, 2 minute, 3 second as a value.
Cell get_field(double seconds, int field);
// The seconds after setting field 1-3 to `value` (an integer!, or a float!
// for the second): the field of |s| is replaced and the others kept; a
// non-zero hour also gives the sign. Raises script/invalid-arg for a value of
// the wrong type.
double set_field(double seconds, int field, const Cell* value);
// The field a word or integer names (1-3), or 0.
int field_of(const Cell* element);

// The same into `out` (TEXT_MAX bytes: room for the hours of the largest
// double, 309 digits, and the rest); answers the length.
constexpr int TEXT_MAX = 400;
int write_chars(double seconds, char* out);
int write_text(double seconds, Cell* buffer, int part);

}  // namespace vyx::time
