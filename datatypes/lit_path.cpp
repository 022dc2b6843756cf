// lit-path!: a path! that molds with "'" in front.
#include "datatypes/path.h"
#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::lit_path {

namespace {

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    return path::mold_with(value, buffer, all, flat, part, indent, "'", "");
}

}  // namespace

void register_type() { path::register_kind(TYPE_LIT_PATH, "lit-path!", act::Mold(mold)); }

}  // namespace vyx::lit_path
