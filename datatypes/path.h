// The path types (path!, lit-path!, set-path!, get-path!): blocks of values
// joined by slashes, evaluated as selection or refinement chains.
#pragma once
#include "datatypes/actions.h"
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::path {

// Writes the elements with "/" between them; `prefix` and `suffix` ("'", ":")
// count against the budget like any character.
int mold_with(Cell* value, Cell* buffer, bool all, bool flat, int part, int indent, const char* prefix,
              const char* suffix);

const Cell* make(Cell* proto, Cell* spec, int type);
const Cell* to(Cell* proto, Cell* spec, int type);
int form(Cell* value, Cell* buffer, int part);
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent);
const Cell* copy(Cell* s, Cell* result, Cell* part, bool deep, Cell* types);

void register_type();
// Registers one of the path kinds (lit-path!, set-path!, get-path!): its own
// mold, every other slot taken from path!.
void register_kind(int type, const char* name, act::Mold mold);

}  // namespace vyx::path
