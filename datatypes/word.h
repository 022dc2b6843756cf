// The word datatypes: word!, set-word!, lit-word!, get-word!, refinement! and
// issue! share one cell layout:
//   word 1  ctx     node of the context the word is bound to: the global
//                   context for a new word, 0 for a refinement of a spec table
//   word 2  symbol  the word's own spelling (a symbol id)
//   word 3  index   position in ctx, -1 until first looked up
// A word not yet bound anywhere is (global context, -1): reading it raises
// no-value, setting it adds it to the global context.
// Retyping a word changes only the type byte and keeps binding and index.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx {

inline bool is_any_word_type(int type) { return type >= TYPE_WORD && type <= TYPE_ISSUE; }

namespace word {

inline int32_t symbol_of(const Cell* w) { return int32_t(w->data2); }
inline Node ctx_of(const Cell* w) { return w->data1; }
inline int32_t index_of(const Cell* w) { return int32_t(w->data3); }

// A word of the symbol bound to the global context (the symbol is added there
// when absent). `type` retypes it (word! by default). Adding may allocate, so
// `cell` must not live in a series buffer.
Cell* make_at(int32_t symbol, Cell* cell, int type = TYPE_WORD);
Cell* push_new(int32_t symbol, int type = TYPE_WORD);
// A word of the symbol exactly as given, bound to `ctx` at `index`.
inline Cell make_cell(int type, Node ctx, int32_t symbol, int32_t index) {
    return Cell{uint32_t(type), ctx, uint32_t(symbol), uint32_t(index)};
}

// The global word of a UTF-8 name, keeping its spelling; while word collection
// is on, a copy is kept in the root block. Returned by value.
Cell load(std::string_view name);
Cell* load_in(std::string_view name, Cell* block);
// The key word of the symbol in the context (exact compare), or the symbol
// added to the global context.
Cell from_symbol_in(Node ctx, int32_t symbol);

// Copies the word's value onto the stack; unset! raises no-value.
Cell* get(const Cell* word);

// Word collection: while on (during boot), loaded words are also kept in the
// root block so the collector never takes them.
extern bool collecting;

// Text writers (budget in, budget out), shared with the other word types.
int form(Cell* value, Cell* buffer, int part);
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent);
int compare(Cell* a, Cell* b, int op);
// Appends prefix + the word's spelling + suffix to a string; every character
// counts against the budget.
int write_name(const Cell* value, Cell* buffer, std::string_view prefix, std::string_view suffix, int part);
// make and to for word!, set-word!, lit-word!, get-word! and refinement!.
const Cell* make(Cell* proto, Cell* spec, int type);

// The result of scanning a word token: which word type it is and where its
// name lies inside the text.
struct ScannedWord {
    int type;
    size_t name_start;
    size_t name_length;
};
// Scans text as one word token: nullopt when the text is not exactly one
// word, set-word, get-word, lit-word, refinement or issue.
std::optional<ScannedWord> scan_word_token(std::string_view utf8);

}  // namespace word

namespace refinement {
// An unbound refinement (ctx 0) kept in the root block, for spec tables.
Cell load(std::string_view name);
}  // namespace refinement
namespace issue {
// Kept in the root block while word collection is on, else pushed.
Cell load(std::string_view name);
}  // namespace issue

}  // namespace vyx
