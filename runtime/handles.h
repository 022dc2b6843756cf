// The external-handle table and the value slots.
//
// A handle! value (or an image record) names an object that lives outside
// series memory by an index into this table; the record keeps the object and
// its kind. Every kind registers a release callback; a collection that finds a
// live record no value marked releases its object through that callback and
// recycles the record.
//
// Records are threaded by index into a live list (newest first) and a free
// list; the table doubles when the last free record is taken. Indexes are
// checked: an index out of the table, or naming a free record, is refused
// instead of corrupting the lists.
//
// The value slots are a block of cells kept alive as a collector root: C++
// code parks a value there for as long as it likes and gets a 1-based number.
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::handles {

using ReleaseCallback = void (*)(void* object);

constexpr uint32_t KIND_CAPACITY = 20;
constexpr uint32_t INITIAL_RECORDS = 1000;
constexpr uint32_t FLAG_MARK = 0x80000000;
constexpr uint32_t FLAG_FREE = 0x40000000;
constexpr uint32_t KIND_MASK = 0xFF;

struct Record {
    uint32_t flags;  // kind position in bits 0-7, FLAG_MARK, FLAG_FREE
    void* object;
    int32_t next;    // next record of the live or free list; -1 ends a list
};

struct Table {
    Record* records;
    uint32_t capacity;
    int32_t live_head;
    int32_t free_head;
    uint32_t live_count;
};
extern Table table;

// Made with the memory manager at start-up; given back at shut-down (objects
// still held are not released then).
void init_handle_table();
void free_handle_table();

// Appends a kind; returns its 1-based position. A 21st kind raises internal
// limit-hit.
uint32_t register_handle_kind(uint32_t id, ReleaseCallback callback);
uint32_t kind_count();

// A record now holding the object and kind, at the head of the live list;
// returns its 0-based index. A kind that is not registered raises script
// invalid-arg.
int32_t alloc_handle(void* object, uint32_t kind);
// Calls the kind's release callback with the object (kind = low 8 bits).
void release_handle_object(uint32_t kind, void* object);
void release_handle_record(Record* record);
// Unlinks the record (releasing its object first when asked) and puts it on
// the free list; returns -1. An index out of the table raises script
// out-of-range; a record already free (a double release) raises internal
// wrong-mem.
int32_t free_handle(int32_t index, bool release);
// Marks the record; a non-null object replaces the record's. True when it was
// not marked before. Indexes out of the table, and free records, are ignored
// (false): a stale handle! value must not corrupt the lists.
bool mark_handle(int32_t index, void* object = nullptr);
// The collector's step: marked records lose their mark; unmarked ones are
// unlinked and freed, and their objects released through their kinds. With
// `deferred`, the freed records are appended there instead of being released,
// so the collector can call the callbacks once the collection has finished.
void sweep_handles(std::vector<Record>* deferred = nullptr);
// The object of a live record, or null.
void* handle_object(int32_t index);

}  // namespace vyx::handles

namespace vyx::value_slots {

constexpr uint32_t INITIAL_SLOTS = 100;

// The block cell whose series holds the slots (a collector root).
extern Cell block;

void init_value_slots();
// Stores a copy of the value in a free slot (the block doubles when full) and
// returns the slot's 1-based number.
uint32_t place(const Cell* value);
// The cell in slot n; null when n is not an occupied slot. The address is
// valid until the next allocation.
Cell* at(uint32_t n);
// Frees slot n; false when it was not occupied.
bool release(uint32_t n);
uint32_t used();

}  // namespace vyx::value_slots
