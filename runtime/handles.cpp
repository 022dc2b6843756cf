#include "runtime/handles.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/fatal.h"
#include "runtime/raise.h"

namespace vyx::handles {

Table table{nullptr, 0, -1, -1, 0};

namespace {

struct Kind {
    uint32_t id;
    ReleaseCallback callback;
};
Kind kinds[KIND_CAPACITY];
uint32_t kinds_used = 0;

[[noreturn]] void raise_with_int(err::Id id, int32_t n) {
    Cell arg{TYPE_INTEGER, 0, uint32_t(n), 0};
    raise_error(id, &arg);
}

// Links records [from, to) into a free chain ending with `tail_next`.
void link_free(uint32_t from, uint32_t to, int32_t tail_next) {
    for (uint32_t i = from; i < to; i++) {
        table.records[i].flags = FLAG_FREE;
        table.records[i].object = nullptr;
        table.records[i].next = (i + 1 < to) ? int32_t(i + 1) : tail_next;
    }
}

void grow_table() {
    uint32_t old = table.capacity;
    uint32_t cap = old * 2;
    auto* r = static_cast<Record*>(std::realloc(table.records, sizeof(Record) * cap));
    if (!r) fatal_error(FATAL_NO_MEMORY);
    table.records = r;
    table.capacity = cap;
    link_free(old, cap, -1);
}

bool valid(int32_t index) { return index >= 0 && uint32_t(index) < table.capacity; }

void unlink_live(int32_t index) {
    int32_t* link = &table.live_head;
    while (*link >= 0 && *link != index) link = &table.records[*link].next;
    if (*link == index) {
        *link = table.records[index].next;
        table.live_count--;
    }
}

void push_free(int32_t index) {
    Record& r = table.records[index];
    r.flags = FLAG_FREE;
    r.object = nullptr;
    r.next = table.free_head;
    table.free_head = index;
}

}  // namespace

void init_handle_table() {
    free_handle_table();
    value_slots::block = Cell{TYPE_NONE, 0, 0, 0};  // made again later in start-up
    std::memset(kinds, 0, sizeof kinds);
    kinds_used = 0;
    table.records = static_cast<Record*>(std::malloc(sizeof(Record) * INITIAL_RECORDS));
    if (!table.records) fatal_error(FATAL_NO_MEMORY);
    table.capacity = INITIAL_RECORDS;
    link_free(0, INITIAL_RECORDS, -1);
    table.free_head = 0;
    table.live_head = -1;
    table.live_count = 0;
}

void free_handle_table() {
    std::free(table.records);
    table = Table{nullptr, 0, -1, -1, 0};
}

uint32_t register_handle_kind(uint32_t id, ReleaseCallback callback) {
    if (kinds_used >= KIND_CAPACITY) raise_with_int(err::internal_limit_hit, int32_t(KIND_CAPACITY));
    kinds[kinds_used] = Kind{id, callback};
    return ++kinds_used;
}

uint32_t kind_count() { return kinds_used; }

int32_t alloc_handle(void* object, uint32_t kind) {
    if (kind < 1 || kind > kinds_used) raise_with_int(err::script_invalid_arg, int32_t(kind));
    if (!table.records) init_handle_table();
    // The last free record is never handed out before the table has doubled,
    // so the free list never runs dry.
    if (table.records[table.free_head].next == -1) {
        int32_t last = table.free_head;
        uint32_t old = table.capacity;
        grow_table();
        table.records[last].next = int32_t(old);
    }
    int32_t index = table.free_head;
    Record& r = table.records[index];
    table.free_head = r.next;
    r.flags = kind & KIND_MASK;
    r.object = object;
    r.next = table.live_head;
    table.live_head = index;
    table.live_count++;
    return index;
}

void release_handle_object(uint32_t kind, void* object) {
    kind &= KIND_MASK;
    if (kind >= 1 && kind <= kinds_used && kinds[kind - 1].callback) kinds[kind - 1].callback(object);
}

void release_handle_record(Record* record) { release_handle_object(record->flags, record->object); }

int32_t free_handle(int32_t index, bool release) {
    if (!valid(index)) raise_with_int(err::script_out_of_range, index);
    Record& r = table.records[index];
    if (r.flags & FLAG_FREE) raise_error(err::internal_wrong_mem);
    if (release) release_handle_record(&r);
    unlink_live(index);
    push_free(index);
    return -1;
}

bool mark_handle(int32_t index, void* object) {
    if (!valid(index)) return false;
    Record& r = table.records[index];
    if (r.flags & FLAG_FREE) return false;
    bool fresh = !(r.flags & FLAG_MARK);
    r.flags |= FLAG_MARK;
    if (object) r.object = object;
    return fresh;
}

void sweep_handles(std::vector<Record>* deferred) {
    if (!table.records) return;
    // Callbacks run after the lists are consistent again, so one that frees
    // or allocates a handle sees a sound table.
    std::vector<Record> local;
    std::vector<Record>& dead = deferred ? *deferred : local;
    int32_t* link = &table.live_head;
    while (*link >= 0) {
        int32_t i = *link;
        Record& r = table.records[i];
        if (r.flags & FLAG_MARK) {
            r.flags &= ~FLAG_MARK;
            link = &r.next;
        } else {
            dead.push_back(r);
            *link = r.next;
            table.live_count--;
            push_free(i);
        }
    }
    if (!deferred)
        for (Record& r : dead) release_handle_record(&r);
}

void* handle_object(int32_t index) {
    if (!valid(index) || (table.records[index].flags & FLAG_FREE)) return nullptr;
    return table.records[index].object;
}

}  // namespace vyx::handles

// ---------------------------------------------------------------- value slots

namespace vyx::value_slots {

Cell block{TYPE_NONE, 0, 0, 0};

namespace {

int32_t free_head = -1;  // 1-based slot number, -1 when none
std::vector<uint8_t> occupied;  // by slot number - 1

Cell* slot_cell(uint32_t n) { return node_buffer(block.data2)->cell_head() + (n - 1); }

// Links slots [from, to] (1-based) into the free list in order, ahead of the
// current head.
void link_free(uint32_t from, uint32_t to) {
    for (uint32_t n = from; n <= to; n++) {
        Cell* c = slot_cell(n);
        *c = Cell{TYPE_INTEGER, 0, n < to ? n + 1 : uint32_t(free_head), 0};
    }
    free_head = int32_t(from);
}

}  // namespace

void init_value_slots() {
    Node n = new_cell_series(INITIAL_SLOTS);
    SeriesBuffer* b = node_buffer(n);
    b->tail = b->offset + INITIAL_SLOTS * 16;
    block = Cell{TYPE_BLOCK, 0, n, 0};
    occupied.assign(INITIAL_SLOTS, 0);
    free_head = -1;
    link_free(1, INITIAL_SLOTS);
}

uint32_t place(const Cell* value) {
    Cell copy = *value;  // the value may live in the block that is about to move
    collector::Root keep(&copy);
    if (free_head < 0) {
        // The block is a root, so the collection that growth may run keeps it.
        SeriesBuffer* b = node_buffer(block.data2);
        uint32_t count = b->length();
        b = grow_series(b, int64_t(count) * 2 * 16);
        b->tail = b->offset + count * 2 * 16;
        occupied.resize(count * 2, 0);
        link_free(count + 1, count * 2);
    }
    uint32_t n = uint32_t(free_head);
    Cell* c = slot_cell(n);
    free_head = int32_t(c->data2);
    *c = copy;
    occupied[n - 1] = 1;
    return n;
}

Cell* at(uint32_t n) {
    if (n < 1 || n > occupied.size() || !occupied[n - 1]) return nullptr;
    return slot_cell(n);
}

bool release(uint32_t n) {
    if (!at(n)) return false;
    *slot_cell(n) = Cell{TYPE_INTEGER, 0, uint32_t(free_head), 0};
    free_head = int32_t(n);
    occupied[n - 1] = 0;
    return true;
}

uint32_t used() {
    uint32_t k = 0;
    for (uint8_t o : occupied) k += o;
    return k;
}

}  // namespace vyx::value_slots
