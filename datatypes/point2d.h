// point2D! and point3D!: coordinates as 32-bit floats in payload words 1-2 (1-3).
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

}  // namespace vyx
