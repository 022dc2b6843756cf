// handle!: an opaque 32-bit value standing for an object of the system or of
// a backend, tagged with a class. Word 1 is the class, word 2 the value and
// word 3 always -1 (a handle! holds no record of the external-handle table).
// It can only be shown and compared.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::handle {

enum Class : uint32_t { CLASS_NULL = 0, CLASS_FD, CLASS_MONITOR, CLASS_WINDOW, CLASS_FONT, CLASS_RICH_TEXT };

inline Cell* make_at(Cell* target, uint32_t value, uint32_t class_) {
    *target = Cell{TYPE_HANDLE, class_, value, 0xFFFFFFFFu};
    return target;
}

void register_type();

}  // namespace vyx::handle
