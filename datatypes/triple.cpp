#include "datatypes/triple.h"

#include <string>

#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"

namespace vyx::triple {

namespace {

int form(Cell* value, Cell* buffer, int part) {
    std::string text = "make triple! [";
    char digits[12];
    for (int i = 0; i < 3; i++) {
        if (i) text += ' ';
        text.append(digits, size_t(integer::form_decimal(int32_t(i == 0 ? value->data1 : i == 1 ? value->data2 : value->data3), digits)));
    }
    text += ']';
    return string::concatenate_literal(buffer, text, part);
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) { return form(value, buffer, part); }

}  // namespace

void register_type() {
    Registration(TYPE_TRIPLE, 0, "triple!")
        .hasher(hash_payload_bytes<1, 12>)
        .on<A_FORM>(form).on<A_MOLD>(mold).commit();
}

}  // namespace vyx::triple
