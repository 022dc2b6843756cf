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

// What a raise needs from the layers above it, installed by the error module
// when it starts. Until then errors travel as catalog entries without a value
// and there is nothing to hold.
struct RaiseHooks {
    // Gives a raise by catalog entry its error! value; never throws.
    void (*attach_value)(VyxError& e);
    // The entry and arguments of an existing error! value.
    VyxError (*to_raised)(const Cell* error);
    // Fills in near, where and stack where the error! value has none.
    void (*note_raise)(const Cell* error, bool skip_top);
    // Hands the error to the innermost protected evaluation, which keeps its
    // value reachable while it travels.
    void (*hold)(const VyxError& e);
};
extern RaiseHooks raise_hooks;

[[noreturn]] void raise_error(err::Id id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                              const Cell* arg3 = nullptr);
// Raises an existing error! value, filling in what the raise notes (near,
// where, stack) where it has none; skip_top names the caller of the native
// on the top frame as where.
[[noreturn]] void raise_error_value(const Cell* error, bool skip_top);

}  // namespace vyx
