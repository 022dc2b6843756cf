// The symbol table: every distinct spelling of a name, interned once.
//
// Symbol ids are 1-based and stay valid for the life of the process. Names
// that differ only in ASCII letter case are different symbols sharing one
// canonical symbol (the spelling interned first): lookups that ignore case
// compare `resolve` of both ids; each word keeps its own spelling for printing.
//
// A record is a symbol! cell: word 1 the alias (-1 when canonical, else the
// canonical id), word 2 the node of the name as a string! (0 until needed),
// word 3 the node of the UTF-8 name followed by a NUL that the tail excludes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/hash_index.h"
#include "runtime/memory.h"

namespace vyx::symbol {

constexpr uint32_t INITIAL_CAPACITY = 4000;

// Makes the table and its name index. Part of runtime initialisation.
void init(uint32_t capacity = INITIAL_CAPACITY);

// Interns a UTF-8 name and returns its id.
int32_t make(std::string_view utf8);
inline int32_t make(const char* utf8) { return make(std::string_view(utf8)); }
// The lexer's entry: `count` characters of `unit` bytes each (1 Latin-1,
// 2 UCS-2, 4 UCS-4), or UTF-8 bytes when unit is 0.
int32_t make_chars(const void* chars, uint32_t count, uint32_t unit);
// From a string! value: its characters from the head to the tail.
int32_t make_from_string(const Cell* str);
// Boot only: returns any existing spelling that matches ignoring ASCII case,
// so no case variant is ever made.
int32_t make_any_case(std::string_view utf8);

// The canonical id: the alias when it is above 0, else the id itself.
inline int32_t resolve(int32_t id) { return resolve_symbol(id); }
// The raw alias field (-1 for a canonical symbol).
int32_t alias_of(int32_t id);
// Number of symbols interned so far (the largest valid id).
uint32_t count();

// The record of a symbol, after making sure its string! form exists. The
// address is only good until the next allocation.
Cell* get(int32_t id);
// The record without touching its string form.
Cell* record(int32_t id);

// The name as UTF-8 (a copy, safe to keep).
std::string name(int32_t id);
// The UTF-8 bytes in the table's own buffer: only good until the next allocation.
std::string_view name_view(int32_t id);

// Pushes a string! with head 0 that shares the symbol's name buffer.
Cell* push_name(int32_t id);
// Writes such a string! into `target`.
Cell* name_at(int32_t id, Cell* target);

// Byte-wise equality with ASCII-only case folding.
using vyx::equal_ascii_fold;

// Compares two symbols' names as strings under a comparison operator:
// -1, 0 or 1 (case is ignored except for strict equality and case-sensitive
// sorting).
int compare_names(int32_t a, int32_t b, int op);

// The table's block and name index (collector roots).
Node table();
Node index();

}  // namespace vyx::symbol
