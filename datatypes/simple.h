// The four parentless values every part of the system makes constantly:
// datatype!, unset!, none! and logic!, with their constructors and the truth rule.
#pragma once
#include "runtime/cell.h"

namespace vyx {

// Shared read-only cells for handlers that answer a constant.
extern const Cell NONE_CELL;
extern const Cell UNSET_CELL;

namespace unset {
Cell* box();
}  // namespace unset

namespace none {
Cell* push();
Cell* box();
}  // namespace none

namespace logic {
Cell* push(bool value);
Cell* box(bool value);
inline bool get(const Cell* c) { return c->data1 != 0; }

// The truth rule: none! and false are false, every other value is true.
inline bool truth(const Cell* c) {
    int t = type_of(c);
    return !(t == TYPE_NONE || (t == TYPE_LOGIC && c->data1 != 1));
}
// The result slot's truth; an unset! raises script/no-return.
bool is_true();
// The opposite of the truth rule on the result slot, without the unset check.
bool is_false();
}  // namespace logic

}  // namespace vyx
