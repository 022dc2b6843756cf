// Raising errors by catalog entry.
//
// An error is a category and an entry of the error catalog with up to three
// argument values. raise_error is the one road every error takes out of the
// runtime; it never returns.
#pragma once
#include "error_ids.h"
#include "runtime/cell.h"

namespace vyx {

// What travels up to the nearest catch point. The catalog's texts are rendered
// from it by the error report.
struct VyxError {
    err::Id id;
    Cell args[3];
};

[[noreturn]] void raise_error(err::Id id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                              const Cell* arg3 = nullptr);

}  // namespace vyx
