// The natives table: built-in functions by native number. An entry reads its
// arguments at stack::arguments and writes the result slot; it takes the
// check flag (1: test the argument types against the spec) and one integer
// per refinement: -1 when absent, else the index of its first argument cell.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::natives {

using Entry = void (*)(int check, const int* refinements);

constexpr uint32_t CAPACITY = 120;
extern Entry table[CAPACITY];
// The numbers other code names (the interpreter's fast comparisons, the
// operators, the control natives); their declarations use these names.
enum Number : uint32_t {
    N_IF = 1, N_UNLESS = 2, N_EITHER = 3, N_ANY = 4, N_ALL = 5, N_WHILE = 6, N_UNTIL = 7, N_LOOP = 8,
    N_FOREVER = 10, N_FUNC = 14, N_FUNCTION = 15, N_DOES = 16, N_HAS = 17, N_DO = 20, N_GET = 21,
    N_SET = 22, N_EQUAL = 25, N_NOT_EQUAL = 26, N_STRICT_EQUAL = 27, N_LESSER = 28, N_GREATER = 29,
    N_LESSER_OR_EQUAL = 30, N_GREATER_OR_EQUAL = 31, N_SAME = 32, N_NOT = 33, N_TYPE_Q = 34,
    N_TRY = 70, N_BREAK = 77, N_CONTINUE = 78, N_EXIT = 79, N_RETURN = 80, N_THROW = 81, N_CATCH = 82,
};

// Fills the table, and defines in the global context the words of the
// datatypes, every native of the native table (native_table.h) with its
// spec, the generic actions and the infix operators made from them.
void init();


// Sets the words of a block from successive values of a series (or every
// word to one value), as `set` with a block does; foreach steps with it too.
void set_words_from_series(const Cell* words, const Cell* values, bool any, bool only, bool some,
                           Cell* held = nullptr);

}  // namespace vyx::natives
