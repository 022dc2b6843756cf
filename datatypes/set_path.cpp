// set-path!: a path! that molds with ":" after it.
#include "datatypes/path.h"
#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::set_path {

namespace {

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent) {
    return path::mold_with(value, buffer, all, flat, part, indent, "", ":");
}

}  // namespace

void register_type() { path::register_kind(TYPE_SET_PATH, "set-path!", act::Mold(mold)); }

}  // namespace vyx::set_path
