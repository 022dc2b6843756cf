// The 107 natives by number: word, spec and entry point. The numbers are
// fixed (the boot data binds number n to its word). Each native is declared
// once, beside its body, with VYX_NATIVE: number, word, spec text and entry;
// the table below is assembled from those declarations before main runs.
#pragma once
#include <cstdint>
#include <string_view>

#include "evaluator/natives.h"
#include "evaluator/spec_positions.h"
#include "runtime/cell.h"

namespace vyx::native_table {

constexpr uint32_t COUNT = 107;

struct Info {
    uint32_t number;
    const char* word;
    // Compact spec text (helpers::spec_from_text), doc strings included.
    const char* spec;
    // Null when the entry lives elsewhere (natives.cpp) or is not built yet.
    natives::Entry entry;
};

// In number order: entries[n - 1].number == n (filled by the declarations;
// install() ends the start when a number has none).
extern Info entries[COUNT];

// The entry check of a call made with check flag 1 (see below).
void check_arguments(uint32_t number, const int* refinements);

// A native's declaration: what the table holds for its number, and the
// positions of its refinements read from the spec text by name at compile
// time, so an edit of the spec moves them with it (a name the spec lacks
// does not compile).
struct Declaration {
    uint32_t number;
    const char* word;
    const char* spec;

    // The index into the entry's refinement integers of `/name` (given
    // without the slash).
    consteval int refinement(std::string_view name) const { return refinement_index(spec, name); }
    // The argument type check of a call made with check flag 1.
    void check(const int* refinements) const { check_arguments(number, refinements); }
};

// Stores a declaration and its entry in the table (before main).
struct Row {
    Row(const Declaration& declaration, natives::Entry entry);
};

#define VYX_NATIVE_CAT2(a, b) a##b
#define VYX_NATIVE_CAT(a, b) VYX_NATIVE_CAT2(a, b)

// Declares the native whose body follows: `native_ENTRY` is its
// declaration (ENTRY a plain function name).
#define VYX_NATIVE(entry, number, word, spec)                                                    \
    void entry(int check, const int* refinements);                                              \
    constexpr ::vyx::native_table::Declaration native_##entry{number, word, spec};              \
    [[maybe_unused]] const ::vyx::native_table::Row VYX_NATIVE_CAT(native_row_, __LINE__){native_##entry, entry}

// The same for an entry that is an expression (a template's instance),
// declared after its definition under the name `name`.
#define VYX_NATIVE_AS(name, entry, number, word, spec)                                           \
    constexpr ::vyx::native_table::Declaration name{number, word, spec};                        \
    [[maybe_unused]] const ::vyx::native_table::Row VYX_NATIVE_CAT(native_row_, __LINE__){name, entry}

// The entry of a native whose group is not built yet: raises
// internal/not-done, so the word, number and spec exist meanwhile.

// Stores the entries of this table at their numbers (an entry already set
// by natives::init is kept when this table has none for it; an empty one
// gets not_done), makes the print buffer and defines every native's word as
// a native! value with its full spec. Safe to call again.
void install();

// The native! value of a number with its spec, written into `target`.
Cell* make_native(uint32_t number, Cell* target);
// The native! value install() made for a number (only good until the next
// allocation).
const Cell* value_of(uint32_t number);
// Keeps the action! value the start made for a number, with its own spec.
void keep_action(uint32_t number, const Cell* value);
// The native! or action! value the start made for a number, with that
// number's own spec; null for a number it made none for (only good until the
// next allocation).
const Cell* own_callable(int type, uint32_t number);

// The entry check (declared above) of a call made with check flag 1: every mandatory
// argument cell, and the arguments of the present refinements, against the
// typesets of the native's spec; a miss raises script/expect-arg naming the
// call's frame word, the value's datatype and the argument.

}  // namespace vyx::native_table

namespace vyx::natives {

// Entries the unit tests call directly.
void compose_(int check, const int* refinements);
void as_(int check, const int* refinements);
void transcode_(int check, const int* refinements);

// The block print and prin reduce into (a collector root): print_buffer
// makes it on first use, make_print_buffer anew (each runtime start).
Cell* print_buffer();
void make_print_buffer();
// Whether the last print or prin output ended with a line end.
extern bool last_lf;

// Reduces `value` as the reduce native does, into `out` when given (append
// at its tail, else insert at its position), otherwise into a new block; the
// result (the target) goes into the current call's result slot. Returns
// early with the stacks cut back when an exit is pending.
void reduce_value(const Cell* value, const Cell* out);

}  // namespace vyx::natives
