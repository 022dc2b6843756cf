// Raising errors by catalog entry.
//
// An error is a category and an entry of the error catalog with up to three
// argument values. raise_error is the one road every error takes out of the
// runtime; it never returns.
#pragma once
#include "error_ids.h"
#include "runtime/cell.h"

namespace vyx {

// What travels up to the nearest catch point: the entry and its arguments,
// and, once the catalog exists, the error! value made from them (with near,
// where and the frame position of the raise). Before that, `value` is none!
// and the report is made from the C++ table. The value is kept reachable by
// the error module while it travels.
struct VyxError {
    err::Id id;
    Cell args[3];
    Cell value;
};

// Told of every error just before it is raised (the evaluation tracer).
extern void (*error_raised_hook)(const VyxError& e);

[[noreturn]] void raise_error(err::Id id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                              const Cell* arg3 = nullptr);
// Raises an existing error! value, filling in what the raise notes (near,
// where, stack) where it has none; skip_top names the caller of the native
// on the top frame as where.
[[noreturn]] void raise_error_value(const Cell* error, bool skip_top);
// For dialects that report an error and go on: prints the error's report as
// print would, naming the running native as where, and leaves unset! as the
// current call's result.
void push_error_result(err::Id id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                       const Cell* arg3 = nullptr);

}  // namespace vyx
