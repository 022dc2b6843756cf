// The `system` object the start-up defines until the language library brings
// its own: the locale (month and day names, the currency list), the
// options the runtime reads at each use, the prototypes of ports and schemes
// (system/standard) and the block of schemes.
#pragma once
#include <initializer_list>

#include "runtime/cell.h"

namespace vyx::system_object {

// Defines the word `system` in the global context. Part of start-up, after the
// interpreter is ready.
void init();

// The value at a path of field names from `system` (system/locale/months is
// {"locale", "months"}), or null when a step is missing or not an object.
// Only good until the next allocation.
const Cell* field(std::initializer_list<const char*> path);

}  // namespace vyx::system_object
