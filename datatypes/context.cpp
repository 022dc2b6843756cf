#include "datatypes/context.h"

#include <algorithm>
#include <array>

#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/cycle_stack.h"
#include "runtime/hash_index.h"
#include "runtime/raise.h"

namespace vyx::context {

Node global = 0;
ChangeHook on_change_hook = nullptr;

namespace {

inline Node key_block(Node ctx) { return hash_index_header(word_index(ctx))->block; }
inline Node values_node(Node ctx) { return cell_of(ctx)->data2; }

Cell* append_unset_value(Node ctx) {
    SeriesBuffer* b = node_buffer(values_node(ctx));
    Cell* c = append_cell_to_buffer(b);
    *c = Cell{TYPE_UNSET, 0, 0, 0};
    return c;
}

// The value cell of position n; null for a stack context whose call is not running.
Cell* slot_of(Node ctx, uint32_t n) {
    Cell* c = cell_of(ctx);
    if (c->header & FLAG_STACK) return c->data2 ? stack::bottom + (c->data2 - 1) + n : nullptr;
    SeriesBuffer* b = node_buffer(c->data2);
    return n < b->length() ? b->cell_head() + n : nullptr;
}

void mark_if_object(Node ctx, uint32_t n) {
    if (kind_of(ctx) == KIND_OBJECT && n < word_count(ctx)) key_word(ctx, n)->header |= WORD_SET_MARK;
}

// A block already on the cycle stack is being bound further up: skip it.
void bind_block(Node series, uint32_t head, Node ctx, bool self) {
    if (is_cycle_found(series)) return;
    CycleGuard guard(series);
    // Binding never allocates, so the buffer stays where it is for the walk.
    SeriesBuffer* b = node_buffer(series);
    Cell* end = b->cell_tail();
    for (Cell* c = b->cell_head() + head; c < end; c++) {
        switch (type_of(c)) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_HASH:
            bind_block(c->data2, c->data1, ctx, self);
            break;
        case TYPE_WORD:
            if (self && int32_t(c->data2) == sym::self) {
                c->data1 = ctx;
                c->data3 = uint32_t(-1);
                break;
            }
            [[fallthrough]];
        case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
            bind_word(ctx, c);
            break;
        default:
            break;
        }
    }
}

inline bool is_spec_word(int t) {
    return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_REFINEMENT;
}

}  // namespace

namespace {

// A root cell that keeps a context (and all it names) alive.
inline Cell context_holder(Node ctx) { return Cell{TYPE_OBJECT, ctx, 0, 0}; }

}  // namespace

void init_global(uint32_t capacity) {
    // The symbol index (and through it the table) and the global context live
    // in the root block, which the collector marks first.
    Cell names{TYPE_HASH, 0, 0, symbol::index()};
    keep_in_root(&names);
    global = create(capacity, false, false, 0, KIND_GLOBAL);
    Cell holder = context_holder(global);
    keep_in_root(&holder);
}

Cell* keep_in_root(const Cell* cell) {
    Cell copy = *cell;
    Cell* c = append_cell(&root_block);
    *c = copy;
    return c;
}

uint32_t word_count(Node ctx) { return node_buffer(key_block(ctx))->length(); }

Cell* key_word(Node ctx, uint32_t n) { return node_buffer(key_block(ctx))->cell_head() + n; }

namespace {

// The positions found last by find_word, by context and symbol. An entry is
// a guess, checked before it is used: the key at the position must still be
// the one found there. Keys are only ever appended, so a key found by its
// canonical symbol stays the first one that matches, wherever the context
// node is reused. The global context may hold case variants and is left out.
struct Found {
    Node ctx;
    int32_t symbol;
    uint32_t position;
    uint32_t key;  // the key's own symbol
};
std::array<Found, 512> found_words{};

// Contexts of up to this many words are searched without their index.
constexpr uint32_t SCAN_LIMIT = 8;

inline Found& found_entry(Node ctx, int32_t symbol) {
    uint32_t h = (ctx * 0x9E3779B1u) ^ (uint32_t(symbol) * 0x85EBCA77u);
    return found_words[(h >> 16) & (found_words.size() - 1)];
}

}  // namespace

int32_t find_word(Node ctx, int32_t symbol, bool canonical) {
    if (!canonical || ctx == global) return context_index_put(word_index(ctx), symbol, canonical, 0, nullptr);
    Found& f = found_entry(ctx, symbol);
    if (f.ctx == ctx && f.symbol == symbol) {
        const SeriesBuffer* keys = node_buffer(key_block(ctx));
        if (f.position < keys->length() && keys->read_cells()[f.position].data2 == f.key) return int32_t(f.position);
    }
    const SeriesBuffer* keys = node_buffer(key_block(ctx));
    int32_t position = -1;
    if (keys->length() <= SCAN_LIMIT) {
        // A small context's keys are compared in turn: cheaper than hashing.
        const Cell* symbols = node_buffer(symbol_records)->read_cells();
        auto canonical_of = [symbols](int32_t id) {
            int32_t alias = int32_t(symbols[id - 1].data1);
            return alias > 0 ? alias : id;
        };
        int32_t wanted = canonical_of(symbol);
        const Cell* k = keys->read_cells();
        for (uint32_t i = 0, n = keys->length(); i < n; i++)
            if (canonical_of(int32_t(k[i].data2)) == wanted) {
                position = int32_t(i);
                break;
            }
    } else {
        position = context_index_put(word_index(ctx), symbol, true, 0, nullptr);
    }
    if (position >= 0) f = Found{ctx, symbol, uint32_t(position), key_word(ctx, uint32_t(position))->data2};
    return position;
}

int32_t add(Node ctx, int32_t symbol) {
    int32_t added = -1;
    int32_t found = context_index_put(word_index(ctx), symbol, true, ctx, &added);
    if (found >= 0) return found;
    if (!on_stack(ctx)) append_unset_value(ctx);
    return added;
}

Cell* add_word(int32_t symbol, bool canonical, bool keep_spelling) {
    int32_t added = -1;
    int32_t found = context_index_put(word_index(global), symbol, canonical, global, &added);
    if (found < 0) {
        append_unset_value(global);
        if (!canonical && symbol::resolve(symbol) != symbol) {
            // A case variant added by exact compare shares the value of the
            // first spelling of its name.
            int32_t first = find_word(global, symbol, true);
            if (first >= 0 && first != added) key_word(global, uint32_t(added))->data3 = uint32_t(first);
        }
        return key_word(global, uint32_t(added));
    }
    Cell* key = key_word(global, uint32_t(found));
    if (keep_spelling && int32_t(key->data2) != symbol) {
        Cell copy = *key;
        copy.data2 = uint32_t(symbol);
        return keep_in_root(&copy);
    }
    return key;
}

Cell* learn_value(Node ctx, int32_t index) {
    const Cell* cc = cell_of(ctx);
    Cell* values;
    if (cc->header & FLAG_STACK) {
        if (!cc->data2) return nullptr;
        values = stack::cell_of_values_ref(cc->data2);
    } else {
        values = node_buffer(cc->data2)->cell_head();
    }
    know_values(ctx, values, (cc->header & KIND_MASK) == (KIND_OBJECT << KIND_SHIFT));
    return values + index;
}

Cell* get_value_ptr(int32_t symbol, Node ctx) {
    // `self` bound into an object stands for the object, even when the
    // object also has a field of that name (the field is reached by path).
    if (symbol == sym::self && (cell_of(ctx)->header & FLAG_SELF)) return owner_of(ctx);
    int32_t pos = find_word(ctx, symbol, true);
    return pos < 0 ? nullptr : slot_of(ctx, uint32_t(pos));
}

Node create(uint32_t count, bool stack_values, bool self, Node source, uint32_t kind) {
    if (count == 0) count = 1;
    // The context record comes first and is a root while its parts are made;
    // each part is linked into it as soon as it exists.
    Node ctx = new_cell_series(2);
    {
        SeriesBuffer* b = node_buffer(ctx);
        Cell* c = b->cell_head();
        uint32_t header = TYPE_CONTEXT | ((kind << KIND_SHIFT) & KIND_MASK);
        if (stack_values) header |= FLAG_STACK;
        if (self) header |= FLAG_SELF;
        c[0] = Cell{header, 0, 0, 0};
        c[1] = Cell{TYPE_UNSET, 0, 0, 0};
        b->tail = b->offset + 32;
    }
    set_series_flags(ctx, series_flag::CONTEXT_RECORD);
    collector::Rooted<1> keep;
    keep[0] = context_holder(ctx);
    uint32_t copied = 0;
    if (source) {
        // The copy names the source's keys until its own copy exists.
        Node index = copy_hash_index(word_index(source), key_block(source));
        cell_of(ctx)->data1 = index;
        Node keys = duplicate_series(node_buffer(key_block(source)));
        hash_index_header(index)->block = keys;
        copied = node_buffer(keys)->length();
    } else {
        Node index = make_hash_index(count, 0, HASH_KIND_CELLS);
        cell_of(ctx)->data1 = index;
    }
    if (!stack_values) {
        Node values = new_cell_series(std::max(count, copied));
        cell_of(ctx)->data2 = values;
        SeriesBuffer* vb = node_buffer(values);
        for (uint32_t i = 0; i < copied; i++) *append_cell_to_buffer(vb) = Cell{TYPE_UNSET, 0, 0, 0};
    }
    // Copied keys belong to the new context.
    for (uint32_t i = 0; i < copied; i++) key_word(ctx, i)->data1 = ctx;
    return ctx;
}

Node clone(Cell* holder, uint32_t kind) {
    Node old = holder->data1;
    Cell* oc = cell_of(old);
    Node ctx = create(word_count(old), (oc->header & FLAG_STACK) != 0, (oc->header & FLAG_SELF) != 0, old, kind);
    holder->data1 = ctx;
    return ctx;
}

Node make_from_block(const Cell* block, bool stack_values, bool self, uint32_t kind) {
    Node series = block->data2;
    uint32_t head = block->data1;
    uint32_t n = 0;
    {
        SeriesBuffer* b = node_buffer(series);
        for (Cell* c = b->cell_head() + head; c < b->cell_tail(); c++)
            if (is_spec_word(type_of(c))) n++;
    }
    Node ctx = create(n, stack_values, self, 0, kind);
    collector::Rooted<1> keep;
    keep[0] = context_holder(ctx);
    for (uint32_t i = head;; i++) {
        SeriesBuffer* b = node_buffer(series);
        if (i >= b->length()) break;
        Cell* c = b->cell_head() + i;
        if (is_spec_word(type_of(c))) add(ctx, word::symbol_of(c));
    }
    if (!stack_values) {
        SeriesBuffer* vb = node_buffer(values_node(ctx));
        while (vb->length() < n) *append_cell_to_buffer(vb) = Cell{TYPE_UNSET, 0, 0, 0};
    }
    return ctx;
}

void set_stack_base(Node ctx, const Cell* first_argument) {
    stack::set_context_values_ref(ctx, stack::values_ref_of(first_argument));
}

void clear_stack_base(Node ctx) { stack::set_context_values_ref(ctx, 0); }

Cell* get_in(const Cell* word, Node ctx) {
    int32_t index = word::index_of(word);
    if (!ctx) raise_error(err::script_not_defined, word);
    if (index < 0) {
        if (word::symbol_of(word) == sym::self) return owner_of(ctx);
        // Not resolved yet (the lexer leaves global words so): found by name.
        index = find_word(ctx, word::symbol_of(word), true);
        if (index < 0) raise_error(err::script_no_value, word);
    }
    Cell* c = cell_of(ctx);
    if (c->data2 == 0) raise_error(err::script_not_in_context, word);
    Cell* slot = slot_of(ctx, uint32_t(index));
    // A stale index (from a context that has since changed) must not read
    // past the values.
    if (!slot) raise_error(err::script_no_value, word);
    return slot;
}

Cell* get(const Cell* word) { return get_in(word, word::ctx_of(word)); }

Cell* set_in(Cell* word, const Cell* value, Node ctx, bool notify) {
    const Cell incoming = *value;  // `value` may live in a buffer that moves below
    if (!ctx) raise_error(err::script_not_defined, word);
    int32_t index = word::index_of(word);
    if (index < 0) {
        index = find_word(ctx, word::symbol_of(word), false);
        if (index < 0) index = add(ctx, word::symbol_of(word));
        word->data3 = uint32_t(index);
    }
    Cell* c = cell_of(ctx);
    // A function's words have no cells while it is not running.
    if (c->data2 == 0) raise_error(err::script_not_in_context, word);
    Cell* slot = slot_of(ctx, uint32_t(index));
    if (!slot) raise_error(err::script_not_defined, word);
    if (kind_of(ctx) == KIND_OBJECT) {
        mark_if_object(ctx, uint32_t(index));
        Cell* owner = owner_of(ctx);
        if (notify && on_change_hook && type_of(owner) == TYPE_OBJECT && owner->data3 != 0) {
            Cell* saved_top = stack::top;
            Cell* old = stack::push(slot);
            *slot = incoming;
            Cell owner_copy = *owner;
            Cell word_copy = *word;
            on_change_hook(&owner_copy, &word_copy, old, slot);
            stack::top = saved_top;
            return slot_of(ctx, uint32_t(index));
        }
    }
    *slot = incoming;
    return slot;
}

Cell* set(Cell* word, const Cell* value) { return set_in(word, value, word::ctx_of(word), true); }

Cell* object_slot(const Cell* w, Cell** key) {
    Node ctx = w->data1;
    int32_t index = int32_t(w->data3);
    if (ctx == 0 || index < 0 || kind_of(ctx) != KIND_OBJECT || uint32_t(index) >= word_count(ctx)) return nullptr;
    // What set_in does for an object: a watched one calls its handler.
    const Cell* owner = owner_of(ctx);
    if (on_change_hook && type_of(owner) == TYPE_OBJECT && owner->data3 != 0) return nullptr;
    Cell* slot = slot_of(ctx, uint32_t(index));
    if (slot) *key = key_word(ctx, uint32_t(index));
    return slot;
}

Cell* value_at(Node ctx, uint32_t n) { return slot_of(ctx, n); }

Cell* set_word_assign() {
    Cell* word = stack::arguments;
    Cell* value = stack::arguments + 1;
    if (type_of(value) == TYPE_UNSET) raise_error(err::script_need_value, word);
    set(word, value);
    *stack::arguments = *value;
    return stack::arguments;
}

int32_t bind_word(Node ctx, Cell* word) {
    int32_t pos = find_word(ctx, word::symbol_of(word), true);
    if (pos >= 0) {
        word->data1 = ctx;
        word->data3 = uint32_t(pos);
    }
    return pos;
}

Cell* bind(Cell* block, Node ctx, bool self) {
    bind_block(block->data2, block->data1, ctx, self);
    return block;
}

bool bind_walk(Node ctx, Cell* block) {
    Node series = block->data2;
    uint32_t before = word_count(ctx);
    uint32_t head = block->data1;
    {
        uint32_t length = node_buffer(series)->length();
        if (head > length) head = length;
    }
    for (uint32_t i = head;; i++) {
        SeriesBuffer* b = node_buffer(series);
        if (i >= b->length()) break;
        Cell* c = b->cell_head() + i;
        if (type_of(c) == TYPE_SET_WORD) add(ctx, word::symbol_of(c));
    }
    return word_count(ctx) != before;
}

namespace {

// The context! cell of a context record: its word index and, unless they are
// the running call's arguments, its values.
void mark_cell(const Cell* c) {
    if (c->data1) collector::mark_hash_index(c->data1);
    if (!(c->header & FLAG_STACK) && c->data2) collector::mark_series_node(c->data2);
}

}  // namespace

void register_type() { Registration(TYPE_CONTEXT, 0, "context!").marker(mark_cell).commit(); }

}  // namespace vyx::context
