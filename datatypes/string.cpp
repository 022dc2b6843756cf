#include "datatypes/string.h"

#include "datatypes/registry.h"
#include "evaluator/stack.h"

namespace vyx::string {

Cell* make_at(Cell* target, uint32_t capacity, uint32_t unit) {
    Node n = new_char_series(capacity, unit);
    *target = Cell{TYPE_STRING, 0, n, 0};
    return target;
}

Cell* push(uint32_t capacity) {
    Cell* slot = stack::push_slot();
    slot->header = TYPE_UNSET;
    return make_at(slot, capacity);
}

int concatenate_literal(Cell* str, std::string_view ascii, int part) {
    size_t n = ascii.size();
    if (part < 0) part = 0;
    if (n > size_t(part)) n = size_t(part);
    if (n) {
        SeriesBuffer* b = node_buffer(str->data2);
        uint32_t unit = b->unit();
        uint8_t* at = reserve_tail_bytes(b, uint32_t(n * unit));
        for (size_t i = 0; i < n; i++) {
            uint32_t c = uint8_t(ascii[i]);
            switch (unit) {
            case 1: at[i] = uint8_t(c); break;
            case 2: reinterpret_cast<uint16_t*>(at)[i] = uint16_t(c); break;
            default: reinterpret_cast<uint32_t*>(at)[i] = c; break;
            }
        }
    }
    return part - int(ascii.size());
}

std::string to_utf8(const Cell* str) {
    SeriesBuffer* b = node_buffer(str->data2);
    std::string out;
    uint32_t unit = b->unit();
    uint32_t first = b->offset / unit + str->data1;
    uint32_t last = b->tail / unit;
    for (uint32_t i = first; i < last; i++) {
        uint32_t c = char_at(b, i);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void register_type() {
    // The string handlers are not in yet: the row stays unsupported until they are.
    Registration(TYPE_STRING, TYPE_SERIES, "string!").commit();
}

}  // namespace vyx::string
