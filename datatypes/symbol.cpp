#include "datatypes/symbol.h"

#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/unicode.h"
#include "runtime/hash_index.h"

namespace vyx::symbol {

namespace {

Node table_node = 0;
Node index_node = 0;

// The name's string! form: its UTF-8 decoded; a name that is not well-formed
// UTF-8 (or starts with a byte-order mark, which decoding would drop) reads
// byte for byte, so every stored name has a faithful form.
Node make_string_form(std::string_view name) {
    const std::string copy(name);  // the loader must not read from a movable buffer
    const uint8_t* p = reinterpret_cast<const uint8_t*>(copy.data());
    const uint8_t* end = p + copy.size();
    bool utf8 = !(copy.size() >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF);
    for (const uint8_t* q = p; utf8 && q < end;) {
        int32_t cp;
        q = unicode::fast_decode_utf8_char(q, end, cp);
        if (cp < 0) utf8 = false;
    }
    if (utf8) return unicode::load_utf8_new(p, uint32_t(copy.size()));
    Node n = new_char_series(uint32_t(copy.size()), 1);
    SeriesBuffer* b = node_buffer(n);
    std::memcpy(b->data(), copy.data(), copy.size());
    b->tail = b->offset + uint32_t(copy.size());
    return n;
}

void ensure_string_form(int32_t id) {
    if (record(id)->data2 != 0) return;
    Node n = make_string_form(name_view(id));
    record(id)->data2 = n;
}

std::string_view record_bytes(const Cell* rec) {
    SeriesBuffer* b = node_buffer(rec->data3);
    return std::string_view(reinterpret_cast<const char*>(b->head()), b->tail - b->offset);
}

// symbol! values compare as the strings of their names.
int compare(Cell* a, Cell* b, int op) {
    if (type_of(b) != TYPE_SYMBOL) return NOT_COMPARABLE;
    if (op == COMP_SAME) return a->data3 == b->data3 ? 0 : 1;
    // Copies made before the string form existed get one for the comparison.
    Cell x = *a, y = *b;
    if (!x.data2) x.data2 = make_string_form(record_bytes(&x));
    collector::Root keep(&x);
    if (!y.data2) y.data2 = make_string_form(record_bytes(&y));
    return string::compare_values(&x, &y, op, false);
}

}  // namespace

void init(uint32_t capacity) {
    table_node = new_cell_series(capacity);
    collector::Rooted<1> keep;
    keep[0] = Cell{TYPE_BLOCK, 0, table_node, 0};
    index_node = make_hash_index(capacity, table_node, HASH_KIND_CELLS);
    symbol_records = table_node;
}

Node table() { return table_node; }
Node index() { return index_node; }

uint32_t count() { return node_buffer(table_node)->length(); }

Cell* record(int32_t id) { return node_buffer(table_node)->cell_head() + (id - 1); }

int32_t make(std::string_view utf8) {
    return intern_symbol(index_node, utf8.data(), uint32_t(utf8.size()), false);
}

int32_t make_any_case(std::string_view utf8) {
    return intern_symbol(index_node, utf8.data(), uint32_t(utf8.size()), true);
}

int32_t make_chars(const void* chars, uint32_t count, uint32_t unit) {
    if (unit == 0) return make(std::string_view(static_cast<const char*>(chars), count));
    std::string utf8;
    utf8.reserve(count);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c;
        switch (unit) {
        case 1: c = static_cast<const uint8_t*>(chars)[i]; break;
        case 2: c = static_cast<const uint16_t*>(chars)[i]; break;
        default: c = static_cast<const uint32_t*>(chars)[i]; break;
        }
        uint8_t bytes[4];
        int n = unicode::write_utf8_char(c, bytes);
        utf8.append(reinterpret_cast<const char*>(bytes), size_t(n > 0 ? n : 0));
    }
    return make(utf8);
}

int32_t make_from_string(const Cell* str) { return make(string::to_utf8(str)); }

int32_t alias_of(int32_t id) { return int32_t(record(id)->data1); }

Cell* get(int32_t id) {
    ensure_string_form(id);
    return record(id);
}

std::string_view name_view(int32_t id) { return record_bytes(record(id)); }

std::string name(int32_t id) { return std::string(name_view(id)); }

Cell* name_at(int32_t id, Cell* target) {
    ensure_string_form(id);
    *target = Cell{TYPE_STRING, 0, record(id)->data2, 0};
    return target;
}

Cell* push_name(int32_t id) {
    ensure_string_form(id);
    Cell* slot = stack::push_slot();
    return name_at(id, slot);
}

int compare_names(int32_t a, int32_t b, int op) {
    ensure_string_form(a);
    ensure_string_form(b);
    return string::compare_values(record(a), record(b), op, false);
}

namespace {

// A symbol record keeps its UTF-8 name (word 3) and its string form, once made (word 2).
void mark_cell(const Cell* c) {
    if (c->data3) collector::mark_node(c->data3);
    if (c->data2) collector::mark_node(c->data2);
}

// The name, ASCII letters folded, so that names equal but for case hash alike.
uint32_t hash_cell(const Cell* cell, bool) {
    SeriesBuffer* b = node_buffer(cell->data3);
    return murmur3_x86_32_ascii_lower(b->head(), b->tail - b->offset, hash_seed);
}

}  // namespace

void register_type() { Registration(TYPE_SYMBOL, 0, "symbol!")
        .marker(mark_cell)
        .hasher(hash_cell)
        .on<A_COMPARE>(compare).commit(); }

}  // namespace vyx::symbol
