#include "datatypes/ownership.h"

#include <vector>

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/cycle_stack.h"
#include "runtime/hash_index.h"

namespace vyx::ownership {

namespace {

constexpr uint32_t TABLE_KEYS = 1000;
constexpr uint32_t RECORD_BYTES = 64;  // key, owned value, owner, field

Node table = 0;
// Records whose contents were marked in the running collection, by record number.
std::vector<uint8_t> marked_records;

// The action words of notifications: before the change, then after it.
constexpr int CHANGE_COUNT = int(series::Change::CHANGE_COUNT);
const char* const action_names[2][CHANGE_COUNT] = {
    {"append", "insert", "change", "clear", "poke", "remove", "take", "random", "move", "put", "reverse", "sort",
     "swap", "trim"},
    {"appended", "inserted", "changed", "cleared", "poked", "removed", "taken", "randomized", "moved", "put-ed",
     "reversed", "sorted", "swaped", "trimmed"},
};
Cell action_words[2][CHANGE_COUNT];

bool is_block_like(int t) { return is_any_block(t) || t == TYPE_HASH; }

bool is_owned_kind(int t) {
    if (is_block_like(t) || is_any_string(t)) return true;
    return t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_BITSET || t == TYPE_IMAGE;
}

inline Node key_of(const Cell* v) { return type_of(v) == TYPE_OBJECT ? v->data1 : v->data2; }

Cell* record_value(Node key) { return table ? hash_index_get_key(table, key) : nullptr; }

void remove_record(Node key) {
    if (Cell* rec = record_value(key)) {
        for (int i = 0; i < 3; i++) rec[i] = Cell{TYPE_UNSET, 0, 0, 0};
        hash_index_delete_key(table, key);
    }
}

// ---- collector steps

void mark_table() {
    if (!table) return;
    marked_records.clear();
    // The index itself, but not what its records hold: those wait for their key.
    collector::mark_node(table);
    HashIndexHeader* h = hash_index_header(table);
    if (h->flags) collector::mark_node(h->flags);
    if (h->keys) collector::mark_node(h->keys);
    if (h->block) collector::mark_node(h->block);
}

template <typename F>
void for_each_record(F f) {
    HashIndexHeader* h = hash_index_header(table);
    SeriesBuffer* b = node_buffer(h->block);
    uint32_t bytes = b->tail - b->offset;
    uint32_t k = 0;
    for (uint32_t off = 0; off + RECORD_BYTES <= bytes; off += RECORD_BYTES, k++)
        f(k, reinterpret_cast<Cell*>(b->head() + off));
}

bool mark_live_records() {
    if (!table) return false;
    bool progress = false;
    for_each_record([&](uint32_t k, Cell* rec) {
        if (rec->header != TYPE_UNSET || !rec->data1) return;
        if (k < marked_records.size() && marked_records[k]) return;
        if (!collector::is_marked(rec->data1)) return;
        if (marked_records.size() <= k) marked_records.resize(k + 1, 0);
        marked_records[k] = 1;
        collector::mark_cells(rec + 1, rec + 4);
        progress = true;
    });
    return progress;
}

void drop_dead_records() {
    if (!table) return;
    // A series that outlives its owner is no longer watched by anyone.
    for_each_record([](uint32_t, Cell* rec) {
        if (rec->header != TYPE_UNSET || !rec->data1) return;
        Node owner = rec[2].data1;
        bool key_live = collector::is_marked(rec->data1);
        if (key_live && owner && !collector::is_marked(owner))
            node_buffer(rec->data1)->flags &= ~series_flag::OWNED;
    });
    hash_index_delete_dead_owners(table, collector::is_marked);
    for_each_record([](uint32_t, Cell* rec) {
        if (rec->header == TYPE_UNSET) return;
        for (int i = 1; i < 4; i++) rec[i] = Cell{TYPE_UNSET, 0, 0, 0};
    });
}

bool notify_hook(const Cell* s, series::Change action, bool done, const Cell* value, int32_t index, int32_t count) {
    int a = int(action);
    if (a < 0 || a >= CHANGE_COUNT) return false;
    Cell word = action_words[done ? 1 : 0][a];
    return check(s, &word, index, count, value);
}

// ---- the walks through what a value holds, binding or unbinding

// Calls visit(cell) for each cell of a block from `head`, unless the block is
// on the walk already.
template <typename Visit>
void walk_cells(Node series, uint32_t head, Visit visit) {
    if (is_cycle_found(series)) return;
    CycleGuard guard(series);
    for (uint32_t i = head; i < blk::size(series); i++) {
        Cell c = *blk::at(series, i);
        visit(c);
    }
}

// Calls visit(value, index) for each field of an object, unless the object is
// on the walk already or owns its fields itself.
template <typename Visit>
void walk_fields(Node ctx, Visit visit) {
    if (is_cycle_found(ctx) || (context::cell_of(ctx)->header & context::FLAG_OWNER)) return;
    CycleGuard guard(ctx);
    uint32_t n = context::word_count(ctx);
    for (uint32_t i = 0; i < n; i++) {
        Cell item = *context::value_at(ctx, i);
        visit(item, i);
    }
}

void bind_walk(const Cell* value_in, const Cell* owner, const Cell* field) {
    Cell v = *value_in;
    int t = type_of(&v);
    if (is_owned_kind(t)) {
        Node n = v.data2;
        if (!n) return;
        bool recorded = (node_buffer(n)->flags & series_flag::OWNED) && record_value(n);
        if (!recorded) {
            // The owner and field cells live in root scopes of the caller.
            Cell* rec = hash_index_put_key(table, n);
            rec[0] = v;
            rec[1] = *owner;
            rec[2] = *field;
            node_buffer(n)->flags |= series_flag::OWNED;
        }
        if (is_block_like(t)) walk_cells(n, v.data1, [&](const Cell& c) { bind_walk(&c, owner, field); });
    } else if (t == TYPE_OBJECT) {
        Node ctx = v.data1;
        walk_fields(ctx, [&](const Cell& item, uint32_t i) {
            if (type_of(&item) == TYPE_OBJECT && item.data1 == owner->data1) return;
            collector::Rooted<1> w;
            w[0] = *context::key_word(ctx, i);
            w[0].header = TYPE_WORD;
            bind_walk(&item, owner, &w[0]);
        });
    }
}

void unbind_walk(const Cell* value_in) {
    Cell v = *value_in;
    int t = type_of(&v);
    if (is_owned_kind(t)) {
        Node n = v.data2;
        if (!n) return;
        node_buffer(n)->flags &= ~series_flag::OWNED;
        remove_record(n);
        if (is_block_like(t)) walk_cells(n, v.data1, [](const Cell& c) { unbind_walk(&c); });
    } else if (t == TYPE_OBJECT) {
        walk_fields(v.data1, [](const Cell& item, uint32_t) { unbind_walk(&item); });
    }
}

}  // namespace

void make_table() {
    table = make_hash_index(TABLE_KEYS, 0, HASH_KIND_OWNERSHIP, RECORD_BYTES / 16 - 1);
    marked_records.clear();
    for (int d = 0; d < 2; d++)
        for (int a = 0; a < CHANGE_COUNT; a++) action_words[d][a] = word::load(action_names[d][a]);
    collector::add_gc_root_callback(mark_table);
    collector::add_gc_ephemeron_callback(mark_live_records);
    collector::add_gc_sweep_callback(drop_dead_records);
    series::ownership_check = notify_hook;
}

void bind_deep(const Cell* value, const Cell* owner, const Cell* field) {
    if (!table) return;
    collector::Rooted<3> r;
    r[0] = *value;
    r[1] = *owner;
    r[2] = *field;
    bind_walk(&r[0], &r[1], &r[2]);
}

void bind_object(const Cell* value, const Cell* owner, const Cell* field) {
    bind_deep(value, owner, field);
    if (type_of(owner) == TYPE_OBJECT)
        context::cell_of(owner->data1)->header |= context::FLAG_OWNER;
}

void unbind(const Cell* value) {
    if (!table) return;
    Cell v = *value;
    unbind_walk(&v);
}

const Cell* lookup(Node node) {
    Cell* rec = record_value(node);
    return rec ? rec + 1 : nullptr;
}

bool check(const Cell* series_in, const Cell* action, int32_t index, int32_t count, const Cell* new_value) {
    if (!table) return false;
    Cell* rec = record_value(key_of(series_in));
    if (!rec) return false;
    collector::Rooted<5> r;
    r[0] = rec[1];  // owner
    r[1] = rec[2];  // field
    r[2] = *series_in;
    r[3] = *action;
    r[4] = new_value ? *new_value : Cell{TYPE_NONE, 0, 0, 0};
    if (!r[0].data3) return false;
    object::fire_on_deep_change(&r[0], &r[1], &r[2], &r[3], &r[4], index, count);
    return true;
}

uint32_t record_count() { return table ? hash_index_header(table)->size : 0; }

}  // namespace vyx::ownership
