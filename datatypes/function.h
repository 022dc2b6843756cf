// function! and routine! values, and the native!, action! and op! values that
// calls are made of.
//
// function! (and routine!) cell: word 1 the node of the context made from the
// spec (its values are the running call's argument cells), word 2 the node of
// the spec block, word 3 the node of the five-cell `more` record:
//   [0] the body block (a deep copy bound to the context) or none
//   [1] the argument cache, built on the first interpreted call (unset! before)
//   [2] integer! index of compiled code (unset!: none)
//   [3] an op made from the function keeps a copy of it here
//   [4] integer! second code index, or unset!
// native! and action! cell: word 1 the native or action number, word 2 the
// spec node, word 3 the node of a two-cell record: [0] a context! cell,
// [1] the argument cache. op! cell: the source's payload, with the source's
// type id in header bits 16-23.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx {

namespace function {

constexpr uint32_t FLAG_NO_TRACE = 0x200;
constexpr uint32_t FLAG_TRACE = 0x400;

// more-record cells.
enum More : uint32_t { MORE_BODY = 0, MORE_CACHE = 1, MORE_CODE = 2, MORE_OP_SOURCE = 3 };
inline Cell* more(const Cell* fn) { return node_buffer(fn->data3)->cell_head(); }

// Checks a spec block; answers the attribute flags (FLAG_TRACE, FLAG_NO_TRACE).
uint32_t check_spec(const Cell* spec);
// Pushes a new function! built from spec and body (body may be null for none).
// With no context (0) one is made from the spec and the body copy is bound to it.
Cell* push_new(const Cell* spec, const Cell* body, Node ctx, uint32_t code, uint32_t flags);
// 1 + the number of word! entries after /local, from `start`; without /local
// 0, or -1 when must_find.
int count_locals(const Cell* spec, uint32_t start, bool must_find);
// Pushes logic false and n - 1 nones: how an unused refinement is passed.
void push_unused_refinement(int n);
// The function native's local-word gathering: adds /local and the set-words
// of the body (and the words of repeat, foreach, remove-each) to the spec.
void take_extern(Cell* spec, const Cell* body);
void collect_body_words(const Cell* body, Cell* gathered, Cell* exclusions);
// Handlers shared with routine!.
void reflect(Cell* value, int field);
int form(Cell* value, Cell* buffer, int part);
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent);
int compare(Cell* a, Cell* b, int op);
// Molds a block through the block molder, whoever provides it (nothing
// without one).
int mold_block(const Cell* block, Cell* buffer, bool all, bool flat, int part, int indent);

// A deep copy of an any-block (nested blocks, parens and paths copied too),
// written into `target`.
Cell* copy_deep(const Cell* block, Cell* target);

void register_type();
}  // namespace function

namespace routine {
// A routine's native code: C++ that reads its arguments at stack::arguments
// and writes the result slot.
using Code = void (*)();
// Registers routine code and answers its index (1-based).
uint32_t register_code(Code code);
Code code_at(uint32_t index);
Cell* push_new(const Cell* spec, const Cell* body, uint32_t code, bool raw);
int arg_count(const Cell* routine);
void register_type();
}  // namespace routine

namespace native {
constexpr uint32_t CAPACITY = 120;
inline uint32_t number_of(const Cell* n) { return n->data1; }
// make native! [spec number]: the value with its more record.
Cell* make_at(Cell* target, const Cell* spec, uint32_t number, int type);
// Handlers shared by native!, action! and op!.
void reflect(Cell* value, int field);
int form(Cell* value, Cell* buffer, int part);
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent);
int mold_spec(const Cell* value, Cell* buffer, bool all, bool flat, int part, int indent);
int compare(Cell* a, Cell* b, int op);
void register_type();
}  // namespace native

namespace action { void register_type(); }

namespace op {
// An op!'s header holds, above its type byte, the type of the callable it
// was made from.
constexpr uint32_t SOURCE_SHIFT = 16;
constexpr uint32_t SOURCE_MASK = 0xFFu << SOURCE_SHIFT;
inline uint32_t header_for(int source) { return TYPE_OP | (uint32_t(source) << SOURCE_SHIFT); }
inline int source_type(const Cell* op) { return int((op->header & SOURCE_MASK) >> SOURCE_SHIFT); }
// The callable an op was made from (its cell retyped back).
inline Cell source_of(const Cell* op) {
    Cell c = *op;
    c.header = uint32_t(source_type(op));
    return c;
}
// Raises script/bad-op-spec unless the spec has exactly two arguments and no
// lit/get-word first.
void check_spec(const Cell* spec);
void register_type();
}  // namespace op

}  // namespace vyx
