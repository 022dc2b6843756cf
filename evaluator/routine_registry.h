// The routine registry: the library's routines are C++ functions listed here
// with their word and spec. A routine's code either works on the call's
// cells itself (raw: arguments at stack::arguments, result into the result
// slot) or is a plain C++ function whose arguments and result are converted
// by their C++ types: a logic! as bool, an integer! as int32_t, a number as
// double, any other value as a cell.
//
// Start-up binds the boot-only words (names beginning with "_"); the library
// makes every other routine through one of them, `_routine`, with its spec.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "datatypes/function.h"
#include "datatypes/simple.h"
#include "runtime/stack.h"
#include "runtime/cell.h"

namespace vyx::routines {

struct Entry {
    std::string name;
    std::string spec;
    routine::Code code;
};

// Adds (or, by the same name, replaces) an entry.
void add(std::string_view name, std::string_view spec, routine::Code code);
const Entry* find(std::string_view name);
// A routine! value of an entry, pushed on the stack.
Cell* push_routine(const Entry& entry);
// Sets each boot-only word (a name beginning with "_") to its routine.
void bind_boot_words();

namespace detail {

template <typename T>
T take(const Cell* c);
template <>
inline bool take<bool>(const Cell* c) { return logic::truth(c); }
template <>
inline int32_t take<int32_t>(const Cell* c) { return int32_t(c->data2); }
template <>
inline double take<double>(const Cell* c) {
    return type_of(c) == TYPE_FLOAT ? cell_float(c) : double(int32_t(c->data2));
}
template <>
inline const Cell* take<const Cell*>(const Cell* c) { return c; }

void give(bool value);
void give(int32_t value);
void give(double value);
void give(const Cell& value);
void give_unset();

template <typename R, typename... A, size_t... I>
void call(R (*f)(A...), std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
        f(take<A>(stack::arguments + I)...);
        give_unset();
    } else {
        give(f(take<A>(stack::arguments + I)...));
    }
}

template <typename R, typename... A>
void call(R (*f)(A...)) {
    call(f, std::index_sequence_for<A...>{});
}

}  // namespace detail

// The routine code of a plain C++ function.
template <auto F>
void typed() {
    detail::call(F);
}

}  // namespace vyx::routines
