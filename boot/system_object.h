// Reading the fields of the `system` object that the library defines
// (library/system.vyx): the locale, the options the runtime reads at each
// use, the prototypes of ports and schemes.
#pragma once
#include <initializer_list>

#include "runtime/cell.h"

namespace vyx::system_object {

// Forgets the symbols of earlier start-ups. Part of start-up.
void init();

// The value at a path of field names from `system` (system/locale/months is
// {"locale", "months"}), or null when a step is missing or not an object.
// Only good until the next allocation.
const Cell* field(std::initializer_list<const char*> path);

}  // namespace vyx::system_object
