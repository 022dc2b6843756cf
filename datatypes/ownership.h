// Series ownership: lets an object learn that a series held in one of its
// fields (however deep) was changed in place.
//
// A table keyed by series node holds records of four cells: the key, a copy
// of the owned value, a copy of the owner object! cell and the field word
// through which the owner reaches the series. Owned buffers carry
// series_flag::OWNED; an owner object has context::FLAG_OWNER on its context
// cell.
//
// The table does not keep its records alive: a record's value, owner and
// field are marked only once something else has marked its key series, so an
// object and the series only it holds die together and their record goes.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::ownership {

// Runtime initialisation: makes the table, hooks the collector and the
// series handlers.
void make_table();

// bind_deep, then marks the owner object as an owner.
void bind_object(const Cell* value, const Cell* owner, const Cell* field);
// Records the owner of the value and of every series nested in it. A series
// that already has a live owner keeps it.
void bind_deep(const Cell* value, const Cell* owner, const Cell* field);
// Removes the ownership of the value and of every series nested in it.
void unbind(const Cell* value);
// The owner object! of a series node, or null (only good until the next allocation).
const Cell* lookup(Node node);
// Tells the owner of the series (word 2; word 1 for an object!) about a
// change; true when an owner with handlers was told.
bool check(const Cell* series, const Cell* action, int32_t index, int32_t count, const Cell* new_value);

// Live records (tests).
uint32_t record_count();

}  // namespace vyx::ownership
