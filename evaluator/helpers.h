// Small helpers shared by the interpreter, the natives and the datatypes that
// calls are made of: argument checks, spec and source text, and raising
// the common argument errors.
#pragma once
#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/cells.h"
#include "runtime/memory.h"
#include "runtime/raise.h"

namespace vyx {

namespace helpers {

// Raises script/expect-arg for the running function's argument number `n`
// (0-based among its spec arguments) when the typeset does not allow the value.
const Cell* typecheck_argument(int n, const Cell* typeset, const Cell* value);
// The same error for a value the handler refuses by its own rule.
[[noreturn]] void raise_expect_arg(int n, int type);
[[noreturn]] void raise_bad_make_arg(int type, const Cell* value);
// A float! truncated toward zero (out of range raises script/out-of-range);
// any other value answers its integer payload.
int32_t check_float_to_integer(const Cell* value);
double degrees_to_radians(double angle, int mode);
// Looks the key (argument 0) up in the block (argument 1): see helpers.cpp.
Cell* select_in_block(bool push, bool to_block);

// Builds a spec block from compact text: words, 'lit-words, :get-words,
// /refinements, "doc strings", return: and [type! lists]. Type names become
// datatype! or typeset! values. Used for the built-in natives and actions,
// whose specs the boot data will later supply.
Cell* spec_from_text(std::string_view text, Cell* target);

// Scans the whole string as source into `out` (a block). Answers the
// block's first value; unset! (in out) for an empty text; the shared failure
// cell (FAILURE_CELL) when the text is not valid source to its end.
const Cell* load_value_from_string_into(const Cell* str, Cell* out);
// The same with the current call's result slot as out.
const Cell* load_value_from_string(const Cell* str);
extern const Cell FAILURE_CELL;

// What `try` answers for a caught error: its error! value. error_of gives
// back the VyxError a caught error! stands for.
Cell* error_at(Cell* target, const VyxError& e);
VyxError error_of(const Cell* error);

}  // namespace helpers
}  // namespace vyx
