#include "datatypes/handle.h"

#include <cstdio>
#include <string>

#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/handles.h"

namespace vyx::handle {

namespace {

const char* const class_names[] = {"null", "fd", "monitor", "window", "font", "rich-text"};

// Eight upper-case hexadecimal digits and "h".
int form(Cell* value, Cell* buffer, int part) {
    char text[12];
    int n = std::snprintf(text, sizeof text, "%08Xh", value->data2);
    return string::concatenate_literal(buffer, std::string_view(text, size_t(n)), part);
}

int mold(Cell* value, Cell* buffer, bool, bool all, bool, int part, int) {
    if (!all) return string::concatenate_literal(buffer, "handle!", part);
    part = string::concatenate_literal(buffer, "#[handle! ", part);
    part = form(value, buffer, part);
    uint32_t c = value->data1;
    if (c > CLASS_NULL && c <= CLASS_RICH_TEXT) part = string::concatenate_literal(buffer, std::string(" ") + class_names[c], part);
    return string::concatenate_literal(buffer, "]", part);
}

// A cell whose word 3 is not negative keeps a record of the external-handle
// table alive (runtime code parks such cells); a handle! value has -1 there.
void mark_record(const Cell* c) {
    if (int32_t(c->data3) >= 0) handles::mark_handle(int32_t(c->data3));
}

// Handles order by their values; the class does not count, and a value of
// another type is always below.
int compare(Cell* a, Cell* b, int) {
    if (type_of(b) != TYPE_HANDLE) return 1;
    int32_t x = int32_t(a->data2), y = int32_t(b->data2);
    return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace

void register_type() {
    Registration(TYPE_HANDLE, TYPE_INTEGER, "handle!")
        .marker(mark_record)
        .on<A_FORM>(form)
        .on<A_MOLD>(mold)
        .on<A_COMPARE>(compare)
        .commit();
}

}  // namespace vyx::handle
