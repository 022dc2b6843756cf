// point2D! and point3D!: coordinates as 32-bit floats in payload words 1-2
// (1-3). Every computation widens them to doubles and rounds the result back
// to single precision when it is stored.
//
// The two types share one engine written for N coordinates (math, make,
// compare, round, paths, text); point3d.cpp registers the 3-coordinate row.
#pragma once
#include <cstring>

#include "runtime/cell.h"

namespace vyx {

namespace point_detail {
inline uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}
inline float value(uint32_t u) {
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}
}  // namespace point_detail

namespace point2d {
inline Cell* make_at(Cell* target, float x, float y) {
    set_cell_type(target, TYPE_POINT2D);
    target->data1 = point_detail::bits(x);
    target->data2 = point_detail::bits(y);
    target->data3 = 0;
    return target;
}
inline float x(const Cell* c) { return point_detail::value(c->data1); }
inline float y(const Cell* c) { return point_detail::value(c->data2); }
// Arithmetic on the two argument cells at stack::arguments (the first
// receives the result); also where pair math goes when its result cannot
// stay a pair.
void do_math(int op);
int compare(Cell* a, Cell* b, int op);
}  // namespace point2d

namespace point3d {
inline Cell* make_at(Cell* target, float x, float y, float z) {
    set_cell_type(target, TYPE_POINT3D);
    target->data1 = point_detail::bits(x);
    target->data2 = point_detail::bits(y);
    target->data3 = point_detail::bits(z);
    return target;
}
inline float z(const Cell* c) { return point_detail::value(c->data3); }
}  // namespace point3d

// What pair! and the point types share.
namespace coords {

// Payload word i + 1 (i 0-based); coordinate i of a point.
inline uint32_t word(const Cell* c, int i) {
    uint32_t w;
    std::memcpy(&w, reinterpret_cast<const char*>(c) + 4 * (i + 1), 4);
    return w;
}
inline void set_word(Cell* c, int i, uint32_t w) { std::memcpy(reinterpret_cast<char*>(c) + 4 * (i + 1), &w, 4); }
inline float get(const Cell* c, int i) { return point_detail::value(word(c, i)); }
inline void set(Cell* c, int i, float f) { set_word(c, i, point_detail::bits(f)); }

// The field number (1-based) of the word x, y or z among `count` fields. An
// unknown word raises script/cannot-use naming the value when `path` is null
// (pick asks the value itself), else script/invalid-path.
int field_of(const Cell* word, int count, const Cell* owner, const Cell* path);
// The field of a path element: an integer 1..count or a word as above;
// anything else raises script/invalid-path.
int path_field(const Cell* element, int count, const Cell* owner, const Cell* path);
// The field a pick index names (an integer 1..count, or a word as above);
// another index raises script/out-of-range with it.
int pick_field(int index, const Cell* boxed_index, int count, const Cell* owner);

[[noreturn]] void invalid_type_of(const Cell* value);
// Raises syntax/malconstruct for a block spec that does not make a `type`.
[[noreturn]] void malconstruct(int type, const Cell* spec);

// Registers the row of the point type of N coordinates.
template <int N>
void register_row(int type, const char* name);

}  // namespace coords

}  // namespace vyx
