// The generic action entries: one per action number, each dispatching on the
// type of its first argument (the cell at stack::arguments) to the handler of
// that datatype's row in the registry. An entry takes one integer per
// refinement of the action's spec: -1 when absent, else the index of the
// refinement's first argument cell.
#pragma once
#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace vyx::actions {

using Entry = void (*)(const int* refinements);
// Indexed by action number - 1; entry 8 is null (no action).
extern Entry table[ACTION_COUNT];

// Fills the table (after every datatype has registered).
void build_action_table();

// The handler of an action for a value; raises script/expect-arg when the
// datatype does not support it.
act::Any get_action(int type, const Cell* value, int action);
act::Any get_action_for_arg(int action);
// The handler used by path evaluation; raises bad-path-type (with a path) or
// bad-path-type2.
act::EvalPath get_path_action(const Cell* value, const Cell* path, const Cell* element, const Cell* previous);
// pick and poke's index as an integer (logic: 1 true, 2 false).
int pick_poke_index(const Cell* index);
// Compares the call's first two arguments: the logic result goes into the result slot.
void compare_to_logic(int op);
// The comparison of two values by the action of the first one's datatype;
// raises script/invalid-compare for an unorderable pair under an ordering operator.
bool compare_values(Cell* a, Cell* b, int op);

// The spec text of an action (for its argument cache until the boot data
// supplies specs); null for number 8.
const char* spec_text(int action);
const char* word_of(int action);

}  // namespace vyx::actions
