// error!: an object whose category and id name an entry of the error
// catalog, with up to three arguments and the context of the failure.
//
// Fields, in order: code type id arg1 arg2 arg3 near where stack files.
// `code` is the category's code (100 * its position) plus the entry's
// position in the category; `type` is the category word bound to the
// catalog, `id` the entry word bound to the category object.
//
// The catalog object (system/catalog/errors) is built from the generated
// table of boot/errors.vyx, so the language object and the C++ ids never
// disagree. Before it exists (early start-up) errors still travel, without
// an error! value, and are reported from the C++ table.
#pragma once
#include <cstdint>
#include <string>

#include "error_ids.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx {
struct VyxError;
}

namespace vyx::error {

enum Field : uint32_t {
    F_CODE = 0, F_TYPE, F_ID, F_ARG1, F_ARG2, F_ARG3, F_NEAR, F_WHERE, F_STACK, F_FILES, FIELD_COUNT
};
constexpr uint32_t ERROR_CLASS = 1;
// Limits of the report: `near` and `files` are cut to 40 characters, each
// argument to 80.
constexpr int NEAR_LIMIT = 40;
constexpr int ARG_LIMIT = 80;

// Runtime initialisation, once the runtime words exist: the prototype and
// the catalog object.
void init();
// Whether error! values can be made (the catalog exists).
bool ready();

// The catalog object; none! before init.
const Cell* catalog();
// Replaces the catalog (the boot, once it evaluates boot/errors.vyx itself).
void set_catalog(const Cell* catalog_object);
// A new catalog object built from the generated table.
Cell* build_catalog(Cell* target);

// A new error! for the entry with copies of the given arguments (absent ones none).
Cell* create(err::Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3, Cell* target);
// make error! spec.
Cell* make(const Cell* spec, Cell* target);

// The entry an error! names (by its code).
err::Id id_of(const Cell* error);
// Field cell f (only good until the next allocation).
Cell* field(const Cell* error, Field f);
// The VyxError a caught error! value stands for.
VyxError to_raised(const Cell* error);

// error/set-stack: turns an integer `stack` (the frame depth at the raise)
// into the block of the calling words, innermost last. Frame records above
// the current top are read as the raise left them, so this runs where the
// error is caught, before any new frame is pushed.
void set_stack(Cell* error);
// The words of the frames below `depth` that name a call: those whose value
// is a function!, or every named frame when level is above 1.
void capture_call_stack(int level, Cell* block, uint32_t depth);

// The bookkeeping of a raise, each part only where the error has none yet:
// `near` the code under evaluation, `where` the calling function (skip_top:
// the caller of the native on the top frame), `stack` the frame position.
void note_raise(const Cell* error, bool skip_top);

// Called by raise_error: gives the travelling error its error! value (with
// near, where and the frame position) when the catalog exists. Never throws.
void attach_value(VyxError& e);

// For dialects that report an error and go on: prints the error's report as
// print would, naming the running native as where, and leaves unset! as the
// current call's result.
void push_error_result(err::Id id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                       const Cell* arg3 = nullptr);

// The report as UTF-8: the form of the error! when the error carries one,
// else the plain report from the C++ table.
std::string report(const Cell* error);
std::string report(const VyxError& e);
std::string fallback_report(const VyxError& e);
// Prints the report of an error nothing caught and answers the process
// status that follows (-2).
int report_uncaught(const VyxError& e);

// system/state/stack-trace until the system object exists: 0 writes no stack.
extern int stack_trace_level;

void register_type();

}  // namespace vyx::error
