// Contexts: words mapped to values, and binding of words to them.
//
// A context is the node of a two-cell buffer. Cell 0 is the context! cell:
// header kind in bits 11-12 (global, function-like spec context, object) and
// flags; word 1 the node of its word index (a CELLS hash index over word!
// cells, one per word in order of addition); word 2 the values: the node of a
// cell series with one value per word, or, for a context whose values are the
// running call's argument cells (FLAG_STACK), the stack index of the first
// argument plus one (0 while no call runs). Cell 1 is the value that owns the
// context (unset! for the global context and before the owner exists).
//
// Pointers to value cells returned here are only good until the next
// allocation; re-fetch them afterwards.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace vyx::context {

enum Kind : uint32_t { KIND_GLOBAL = 0, KIND_FUNCTION = 1, KIND_OBJECT = 2 };

constexpr uint32_t KIND_SHIFT = 11;
constexpr uint32_t KIND_MASK = 0x3u << KIND_SHIFT;
constexpr uint32_t FLAG_STACK = FLAG_CONTEXT_ON_STACK;  // values are the running call's arguments
constexpr uint32_t FLAG_SELF = 0x01000000;   // `self` bound here stands for the owner
constexpr uint32_t FLAG_OWNER = 0x00010000;  // the owning object watches its series
// On a key word of an object context: the field was set since the marks were cleared.
constexpr uint32_t WORD_SET_MARK = 0x2000;

constexpr uint32_t GLOBAL_CAPACITY = 4000;

// The global context.
extern Node global;

// Runtime initialisation, after the symbol table: makes the global context
// and keeps it and the symbol index in the collector's root block.
void init_global(uint32_t capacity = GLOBAL_CAPACITY);

// Appends a copy of the cell to the collector's root block (case-variant
// words, the runtime's own words) so it is never collected; returns the copy.
Cell* keep_in_root(const Cell* cell);

// The context! cell and the owner cell of a context.
inline Cell* cell_of(Node ctx) { return node_buffer(ctx)->cell_head(); }
inline Cell* owner_of(Node ctx) { return node_buffer(ctx)->cell_head() + 1; }
inline uint32_t kind_of(Node ctx) { return (cell_of(ctx)->header & KIND_MASK) >> KIND_SHIFT; }
inline bool on_stack(Node ctx) { return (cell_of(ctx)->header & FLAG_STACK) != 0; }
inline Node word_index(Node ctx) { return cell_of(ctx)->data1; }
// Number of words.
uint32_t word_count(Node ctx);
// Key word n (0-based) of the context.
Cell* key_word(Node ctx, uint32_t n);

// The value cell at `index` of a context, which learns where its values
// are (see known_values); null when its call is not running.
Cell* learn_value(Node ctx, int32_t index);

// The value cell at a word's known index in its context (a bound index is
// always inside the values: contexts never shrink); null when the context's
// call is not running.
[[gnu::always_inline]] inline Cell* value_at(Node ctx, int32_t index) {
    const KnownValues& known = known_values_of(ctx);
    if (known.context == ctx && known.moved == buffers_moved) [[likely]] return known.values + index;
    return learn_value(ctx, index);
}

// The value cell a word may be set through in place when nothing about the
// assignment is special: the word's context and index are known, the context
// is not an object's (whose fields are watched) and its values are
// available. Null otherwise: the general road is set(). Only good until the
// next allocation.
inline Cell* poke_slot(const Cell* w) {
    Node ctx = w->data1;
    int32_t index = int32_t(w->data3);
    if (ctx == 0 || index < 0) return nullptr;
    Cell* slot = value_at(ctx, index);
    // A slot found is the context's own entry in known_values.
    return slot && !known_values_of(ctx).object ? slot : nullptr;
}

// Whether the context is an object's (0 is none).
inline bool is_object_context(Node ctx) {
    return ctx && (node_buffer(ctx)->read_cells()->header & KIND_MASK) == (KIND_OBJECT << KIND_SHIFT);
}

// poke_slot for a word of an object nobody watches (no change handler): its
// field's value cell, and in `key` its key word, which the setter marks as
// set once it has set the field (see mark_set). Null otherwise. Only good
// until the next allocation.
Cell* object_slot(const Cell* w, Cell** key);
inline void mark_set(Cell* key) { key->header |= WORD_SET_MARK; }

// Sets the word through poke_slot; false, with nothing done, when it has none.
inline bool poke(const Cell* w, const Cell* value) {
    Cell* slot = poke_slot(w);
    if (!slot) return false;
    *slot = *value;
    return true;
}

// Position of the symbol, or -1. canonical: compare canonical symbols.
int32_t find_word(Node ctx, int32_t symbol, bool canonical);
// Adds the symbol to the global context when absent and returns its key word
// (see context.cpp for case variants and keep_spelling).
Cell* add_word(int32_t symbol, bool canonical, bool keep_spelling);
// Adds the symbol to any context (canonical compare) when absent; a new word
// gets unset! unless the values are on the stack. Returns the position.
int32_t add(Node ctx, int32_t symbol);

// The value of the symbol (canonical compare) in the context; for a context
// whose values are on the stack, the running call's argument cell. Null when
// the context does not hold the symbol or its call is not running. `self` in
// a context with FLAG_SELF is the owner cell, as for a word bound there.
Cell* get_value_ptr(int32_t symbol, Node ctx);

// Makes a context for `count` words (0 taken as 1). With a source context its
// keys are copied. Both cells start unset!.
Node create(uint32_t count, bool stack_values, bool self, Node source, uint32_t kind);
// A new context with the same words as the one in `holder` (a value whose
// payload word 1 is a context node); its key words point at the new context,
// and `holder` is re-pointed. Values are the caller's business.
Node clone(Cell* holder, uint32_t kind);
// A context of every word!, lit-word!, get-word! and refinement! of the block
// (not set-word!), in block order; duplicates share a slot.
Node make_from_block(const Cell* block, bool stack_values, bool self, uint32_t kind);

// A function context's values: the stack index of the first argument cell
// while a call runs; cleared (0) when it ends.
void set_stack_base(Node ctx, const Cell* first_argument);
void clear_stack_base(Node ctx);

// Value access for a word value (ctx, symbol, index). Setting a word whose
// index is -1 looks it up (adding it when absent, which may allocate) and
// stores the index in the word: such a word must not live in a series buffer.
Cell* get_in(const Cell* word, Node ctx);
Cell* get(const Cell* word);
Cell* set_in(Cell* word, const Cell* value, Node ctx, bool notify);
Cell* set(Cell* word, const Cell* value);
// set() for a loop's own word, set again each round: in place once its index
// is known (see poke).
inline void set_again(Cell* word, const Cell* value) {
    if (!poke(word, value)) set(word, value);
}
// Value cell n of a context.
Cell* value_at(Node ctx, uint32_t n);

// Set-word assignment: the word in argument slot 0, the value in slot 1; the
// value becomes the result.
Cell* set_word_assign();

// Change notification of objects (set by the object datatype): called after a
// field of an object with handlers was set, with the owner, the word, the old
// and the new value.
using ChangeHook = void (*)(Cell* owner, Cell* word, Cell* old_value, Cell* new_value);
extern ChangeHook on_change_hook;

// Binding.
int32_t bind_word(Node ctx, Cell* word);
Cell* bind(Cell* block, Node ctx, bool self);
bool bind_walk(Node ctx, Cell* block);

}  // namespace vyx::context
