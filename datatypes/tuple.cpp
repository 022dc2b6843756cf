#include "datatypes/tuple.h"

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::tuple {

namespace {

// The tuple's bytes, as many as it has (header bits 19-22).
uint32_t hash_cell(const Cell* cell, bool) { return hash_bytes(&cell->data1, (cell->header >> 19) & 0xF); }

}  // namespace

void register_type() { Registration(TYPE_TUPLE, 0, "tuple!").hasher(hash_cell).commit(); }

}  // namespace vyx::tuple
