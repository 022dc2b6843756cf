// tuple!: 3 to 12 bytes in the payload's 12 bytes (memory order), the length in
// header bits 19-22.
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime/cell.h"

namespace vyx::tuple {

constexpr uint32_t LENGTH_SHIFT = 19;
constexpr uint32_t LENGTH_MASK = 0xFu << LENGTH_SHIFT;
constexpr int MAX_LENGTH = 12;

inline Cell* make_at(Cell* target, const uint8_t* bytes, int count) {
    target->header = (target->header & ~(TYPE_MASK | LENGTH_MASK)) | TYPE_TUPLE |
                     (uint32_t(count) << LENGTH_SHIFT);
    uint8_t payload[12] = {};
    std::memcpy(payload, bytes, size_t(count));
    std::memcpy(&target->data1, payload, 12);
    return target;
}
inline int length(const Cell* c) { return int((c->header & LENGTH_MASK) >> LENGTH_SHIFT); }
inline uint8_t byte_at(const Cell* c, int i) { return reinterpret_cast<const uint8_t*>(&c->data1)[i]; }

}  // namespace vyx::tuple
