// triple!: three signed 32-bit integers in payload words 1-3. It can only be
// formed and molded (both write "make triple! [a b c]").
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::triple {

inline Cell* make_at(Cell* target, int32_t a, int32_t b, int32_t c) {
    *target = Cell{TYPE_TRIPLE, uint32_t(a), uint32_t(b), uint32_t(c)};
    return target;
}

void register_type();

}  // namespace vyx::triple
