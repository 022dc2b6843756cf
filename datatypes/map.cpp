#include "datatypes/map.h"

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::map {

bool is_valid_key_type(int t) {
    switch (t) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_BINARY: case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_WORD:
    case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT: case TYPE_ISSUE:
    case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TUPLE: case TYPE_TIME: case TYPE_DATE:
    case TYPE_MONEY: case TYPE_POINT2D: case TYPE_POINT3D:
        return true;
    default:
        return false;
    }
}

Cell* make_at(const Cell* block, Cell* target, uint32_t count) {
    // The pair series is the block's own series; the hash index over its keys
    // comes with the map datatype's lookup code (payload word 3 stays 0 until then).
    Cell result = *block;
    result.header = (block->header & ~TYPE_MASK) | TYPE_MAP;
    result.data3 = 0;
    *target = result;
    return target;
}

// The block of keys and values, and its hash index.
void mark_cell(const Cell* c) {
    if (c->data2) collector::mark_series_node(c->data2);
    if (c->data3) collector::mark_hash_index(c->data3);
}

void register_type() { Registration(TYPE_MAP, 0, "map!").marker(mark_cell, true).hasher(hash_payload_word<2>).commit(); }

}  // namespace vyx::map
