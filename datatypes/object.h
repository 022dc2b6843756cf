// object!: records made of a context of fields, and their change handlers.
//
// Cell: word 1 the context node (kind object, self), word 2 the class id,
// word 3 0 or the node of the handler record. The cell is also kept in the
// context's owner cell, so that `self` and change notification find the
// object from its context. error! and port! share the layout.
//
// Handler record: two pair! cells, [0] on-change*, [1] on-deep-change*; word 2
// is (field index << 16) | the handler's local count, 0xFFFFFFFF when there
// is no such handler; word 3 the node of the spec the count was taken from.
//
// Class ids: objects made from the same prototype without new fields share
// one; every new shape takes the next id of one counter, the first being
// 1000001. Class 0 is an object not yet given an id.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::object {

constexpr uint32_t FIRST_CLASS_ID = 1000001;
constexpr uint32_t NO_HANDLER = 0xFFFFFFFF;

uint32_t next_class_id();

// An empty object for `count` words written into `cell` (and its owner cell).
Cell* make_at(Cell* cell, uint32_t count);
// Pushes an object! for the context and stores it in the owner cell.
Cell* push(Node ctx, uint32_t class_id, Node on_set);

// Fields.
uint32_t field_count(const Cell* obj);
// Position of the field (canonical compare), or -1.
int32_t find_field(const Cell* obj, int32_t symbol);
// The field's value, or a shared none! for an absent field. The shared cell
// is read-only: write through context::set_in or eval_path instead.
const Cell* field_ptr(const Cell* obj, const Cell* word);
// Value cell n (only good until the next allocation).
Cell* value_at(const Cell* obj, uint32_t n);
// Adds the word when absent and stores a copy of the value (no notification).
void put_field(Cell* obj, int32_t symbol, const Cell* value);

// make object! and make of a prototype: the new object in `target`.
Cell* make(const Cell* proto, const Cell* spec, Cell* target);
// A copy of the object's context (same class; the handler record kept only
// with keep_handlers); `types` is a datatype!/typeset! filter or null.
Cell* copy_object(const Cell* obj, Cell* target, bool keep_handlers, bool deep, const Cell* types);

// The handler record of the object's current fields, or 0; raises
// bad-field-set for a handler field that holds no function.
Node find_on_set(const Cell* obj);
// Stores that record in the object, registers the object as owner of its
// series when it has on-deep-change*, and refreshes the owner cell.
void set_on_set(Cell* obj);
bool has_deep_handler(const Cell* obj);

// The `set` native on an object: a block spreads over the fields in order
// (none past its end), an object sets the fields of the same names, any
// other value (or any value with only) goes into every field. Unset values
// raise need-value unless any or some; with some, none values are skipped.
// Each stored field is marked and notified, except the handler fields.
void set_values(Cell* obj, const Cell* value, bool any, bool only, bool some);

// For `construct`: adds the spec's set-words to the context, each getting
// the value after its run of set-words (none at the end); unless raw, the
// words true yes on false no off none stand for their values. Answers
// whether the context grew.
bool add_spec_words(Node ctx, const Cell* spec, bool raw);
// Pushes a new object made from the spec without evaluating it: a copy of
// the prototype (or none for an empty object with a fresh class id).
Cell* push_new(const Cell* spec, const Cell* proto, bool raw);
// Pushes an object! for an existing context, filling an empty values series
// with unset! up to the word count.
Cell* wrap_context(Node ctx, uint32_t class_id);

// Change notification.
void fire_on_change(const Cell* owner, const Cell* word, const Cell* old_value, const Cell* new_value);
// Called by the ownership table: owner, field word, the changed series, the
// action word, the new value (or null), index and part.
void fire_on_deep_change(const Cell* owner, const Cell* field, const Cell* target, const Cell* action,
                         const Cell* new_value, int32_t index, int32_t part);

// Handlers error! reuses.
int mold_body(Cell* obj, Cell* buffer, bool only, bool all, bool flat, int part, int indent);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool case_);
int compare(Cell* a, Cell* b, int op);
void reflect(Cell* value, int field);
// The object's fields as a block of set-words and values (a word! value as a
// lit-word!, a path! as a lit-path!), written into `out` (which must be
// rooted); new_lines starts each field on its own line.
Cell* body(const Cell* object, Cell* out, bool new_lines);
int form(Cell* value, Cell* buffer, int part);

void register_type();

}  // namespace vyx::object
