// tuple!: 3 to 12 bytes in the payload's 12 bytes (memory order), the length in
// header bits 19-22. Its arithmetic saturates every byte to 0..255.
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
inline int length(const Cell* c) {
    int n = int((c->header & LENGTH_MASK) >> LENGTH_SHIFT);
    return n > MAX_LENGTH ? MAX_LENGTH : n;
}
// The 12 payload bytes start right after the header word.
inline uint8_t byte_at(const Cell* c, int i) { return reinterpret_cast<const uint8_t*>(c)[4 + i]; }
inline uint8_t* bytes_of(Cell* c) { return reinterpret_cast<uint8_t*>(c) + 4; }

// At most 12 bytes from a binary!'s head into `target`.
Cell* from_binary(const Cell* binary, Cell* target);
// The hexadecimal colour digits of an issue! (3, 6 or 8 of them) into
// `target`; anything else raises script/invalid-data.
Cell* from_issue(const Cell* issue, Cell* target);

// Arithmetic on the two argument cells at stack::arguments; a number may
// come first (add, multiply and the bitwise operations).
void do_math(int op);
// Byte by byte up to the longer length, a missing byte counting as 0; -2
// for a value that is not a tuple.
int compare(const Cell* a, const Cell* b);

void register_type();

}  // namespace vyx::tuple
