#include "boot/print_line.h"

#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/output.h"

namespace vyx {

void print_line(std::string_view text) {
    Cell* s = stack::push_slot();
    s->header = TYPE_UNSET;
    string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0, s);
    run_print_hooks(s, true);
    stack::top--;
}

}  // namespace vyx
