#include "runtime/hash_index.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/murmur3.h"
#include "runtime/raise.h"
#include "runtime/sort.h"

namespace vyx {

const uint32_t hash_seed = 0x2C1B3C6Du;

uint32_t next_power_of_two(uint32_t n) {
    if (n == 0) return 1;
    n--;
    n |= n >> 1;
    n |= n >> 2;
    n |= n >> 4;
    n |= n >> 8;
    n |= n >> 16;
    return n + 1;
}

uint32_t hash_index_bucket_count(uint32_t count) {
    if (count < 4) count = 4;
    uint32_t wanted = uint32_t(double(count) / HASH_LOAD_LIMIT);
    uint32_t buckets = next_power_of_two(wanted);
    return buckets < 4 ? 4 : buckets;
}

namespace {

// ---- bucket flags: 2 bits per bucket, 16 buckets per 32-bit word ----------

using hash_layout::flag_at;
using hash_layout::flag_words;
using hash_layout::key_slots;
using hash_layout::Probe;

inline void set_flag(uint32_t* words, uint32_t i, uint32_t value) {
    uint32_t shift = (i & 15) << 1;
    words[i >> 4] = (words[i >> 4] & ~(3u << shift)) | (value << shift);
}

inline uint32_t flag_bytes(uint32_t buckets) { return buckets < 16 ? 4 : buckets / 4; }

Node new_flags(uint32_t buckets) {
    uint32_t bytes = flag_bytes(buckets);
    Node n = new_byte_series(bytes);
    SeriesBuffer* b = node_buffer(n);
    std::memset(b->data(), 0xAA, bytes);
    b->tail = bytes;
    return n;
}

Node new_keys(uint32_t buckets) {
    Node n = new_byte_series(buckets * 4);
    SeriesBuffer* b = node_buffer(n);
    std::memset(b->data(), 0, buckets * 4);
    b->tail = buckets * 4;
    return n;
}

inline bool is_record_kind(uint32_t kind) { return kind == HASH_KIND_RECORDS || kind == HASH_KIND_OWNERSHIP; }

inline Cell* block_cells(const HashIndexHeader* h) { return node_buffer(h->block)->cell_head(); }
inline uint8_t* block_bytes(const HashIndexHeader* h) { return node_buffer(h->block)->head(); }

inline std::string_view symbol_bytes(const Cell* record) {
    SeriesBuffer* b = node_buffer(record->data3);
    return std::string_view(reinterpret_cast<const char*>(b->head()), b->tail - b->offset);
}

// The hash a key slot stands for.
uint32_t slot_hash(const HashIndexHeader* h, uint32_t slot) {
    if (is_record_kind(h->kind)) {
        const Cell* record = reinterpret_cast<const Cell*>(block_bytes(h) + slot);
        return hash_pointer(record->data1);
    }
    return hash_value(block_cells(h) + slot, false);
}

// Puts a key known to be absent into the first empty bucket of its chain.
void place(uint32_t* flags, uint32_t* keys, uint32_t mask, uint32_t hash, uint32_t slot) {
    Probe p(hash, mask + 1);
    while (flag_at(flags, p.i) != BUCKET_EMPTY) p.advance();
    set_flag(flags, p.i, BUCKET_OCCUPIED);
    keys[p.i] = slot;
}

// Rehashes the live keys into `buckets` buckets; deleted buckets disappear.
void rehash(Node index, uint32_t buckets) {
    std::vector<uint32_t> live;
    {
        HashIndexHeader* h = hash_index_header(index);
        const uint32_t* flags = flag_words(h);
        const uint32_t* keys = key_slots(h);
        live.reserve(h->size);
        for (uint32_t i = 0; i < h->buckets; i++)
            if (flag_at(flags, i) == BUCKET_OCCUPIED) live.push_back(keys[i]);
    }
    // Older keys first, so that among equal-hash keys the earlier one keeps
    // the earlier place in the chain.
    records::sort_distinct(live);
    // Each new table is linked at once, so a collection run by the next
    // allocation sees it (the old contents are already copied out).
    Node flags_node = new_flags(buckets);
    hash_index_header(index)->flags = flags_node;
    Node keys_node = new_keys(buckets);
    HashIndexHeader* h = hash_index_header(index);
    h->keys = keys_node;
    h->buckets = buckets;
    h->upper_bound = uint32_t(buckets * HASH_LOAD_LIMIT + 0.5);
    h->size = h->occupied = uint32_t(live.size());
    uint32_t* flags = flag_words(h);
    uint32_t* keys = key_slots(h);
    for (uint32_t slot : live) place(flags, keys, buckets - 1, slot_hash(h, slot), slot);
}

// Before a put: grow, or only sweep deleted buckets, when at the load limit.
void grow_if_full(Node index) {
    HashIndexHeader* h = hash_index_header(index);
    if (h->occupied < h->upper_bound) return;
    uint32_t buckets = 2 * h->size < h->buckets ? h->buckets : h->buckets * 2;
    rehash(index, buckets);
}

// Claims bucket i for a new key.
void occupy(HashIndexHeader* h, uint32_t i, uint32_t slot) {
    uint32_t* flags = flag_words(h);
    if (flag_at(flags, i) == BUCKET_EMPTY) h->occupied++;
    h->size++;
    set_flag(flags, i, BUCKET_OCCUPIED);
    key_slots(h)[i] = slot;
}

bool cells_key_equal(const Cell* a, const Cell* b) {
    if (type_of(a) != type_of(b)) return false;
    int t = type_of(a);
    if (t == TYPE_SYMBOL) return symbol_bytes(a) == symbol_bytes(b);
    if (t >= TYPE_WORD && t <= TYPE_ISSUE) return resolve_symbol(int32_t(a->data2)) == resolve_symbol(int32_t(b->data2));
    return std::memcmp(&a->data1, &b->data1, 12) == 0;
}

// Walks the chain of `hash` up to its first empty bucket and answers the
// bucket whose key slot `matches`, or -1. *free_bucket (when asked for) gets
// the first empty or deleted bucket met, where an absent key would go.
template <typename Match>
int64_t probe_chain(const HashIndexHeader* h, uint32_t hash, int64_t* free_bucket, Match&& matches) {
    const uint32_t* flags = flag_words(h);
    const uint32_t* keys = key_slots(h);
    Probe p(hash, h->buckets);
    int64_t free = -1;
    int64_t found = -1;
    do {
        uint32_t f = flag_at(flags, p.i);
        if (f == BUCKET_EMPTY) {
            if (free < 0) free = p.i;
            break;
        }
        if (f == BUCKET_DELETED) {
            if (free < 0) free = p.i;
            continue;
        }
        if (matches(keys[p.i])) {
            found = p.i;
            break;
        }
    } while (p.advance());
    if (free_bucket) *free_bucket = free;
    return found;
}

// ---- hash! kind: duplicate lists and the position map ------------------
//
// A key slot holds a cell position, or -k for the k-th duplicate list: a
// byte series of the 32-bit positions of equal values. The position map
// records the bucket of every cell position (0xFFFFFFFF: none).

inline uint32_t* words_of(Node n) { return reinterpret_cast<uint32_t*>(node_buffer(n)->data()); }
inline uint32_t word_count(Node n) { return node_buffer(n)->tail / 4; }

Node new_word_series(uint32_t words, uint8_t fill) {
    Node n = new_byte_series(words ? words * 4 : 4);
    SeriesBuffer* b = node_buffer(n);
    std::memset(b->data(), fill, words * 4);
    b->tail = words * 4;
    return n;
}

// Room for one more 32-bit word in a byte series held in a header field.
SeriesBuffer* reserve_word(Node index, uint32_t HashIndexHeader::*field) {
    SeriesBuffer* b = node_buffer(hash_index_header(index)->*field);
    if (b->tail + 4 > b->size) b = grow_series(b, int64_t(b->size) * 2 + 16);
    return b;
}

// Appends a 32-bit word to a byte series held in a header field.
void append_word(Node index, uint32_t HashIndexHeader::*field, uint32_t value) {
    SeriesBuffer* b = reserve_word(index, field);
    std::memcpy(b->data() + b->tail, &value, 4);
    b->tail += 4;
}

// Records the bucket of a position, growing the map (0xFF-filled) as needed.
void map_position(Node index, uint32_t position, uint32_t bucket) {
    Node map = hash_index_header(index)->aux;
    SeriesBuffer* b = node_buffer(map);
    uint64_t need = (uint64_t(position) + 1) * 4;
    if (need > b->size) b = grow_series_filled(b, int64_t(need * 2), 0xFF);
    if (need > b->tail) {
        std::memset(b->data() + b->tail, 0xFF, need - b->tail);
        b->tail = uint32_t(need);
    }
    reinterpret_cast<uint32_t*>(b->data())[position] = bucket;
}

// The positions a key slot stands for.
template <typename Visit>
void slot_positions(const HashIndexHeader* h, uint32_t slot, Visit&& visit) {
    if (int32_t(slot) >= 0) {
        visit(slot);
        return;
    }
    Node list = words_of(h->dup_lists)[uint32_t(-int32_t(slot)) - 1];
    const uint32_t* p = words_of(list);
    for (uint32_t i = 0, n = word_count(list); i < n; i++) visit(p[i]);
}

inline uint32_t first_position(const HashIndexHeader* h, uint32_t slot) {
    if (int32_t(slot) >= 0) return slot;
    return words_of(words_of(h->dup_lists)[uint32_t(-int32_t(slot)) - 1])[0];
}

bool default_equality(const Cell* a, const Cell* b, int) {
    return type_of(a) == type_of(b) && std::memcmp(&a->data1, &b->data1, 12) == 0;
}

// Puts one cell of a hash! block, the table having room.
void put_hash_cell(Node index, uint32_t position) {
    HashIndexHeader* h = hash_index_header(index);
    const Cell* cells = block_cells(h);
    Cell key = cells[position];
    int64_t free_bucket;
    auto equal_value = [&](uint32_t slot) {
        const Cell* other = block_cells(hash_index_header(index)) + first_position(hash_index_header(index), slot);
        return type_of(other) == type_of(&key) && hash_cell_equality(&key, other, 0);
    };
    int64_t bucket = probe_chain(h, hash_value(&key, false), &free_bucket, equal_value);
    if (bucket >= 0) {
        uint32_t slot = key_slots(hash_index_header(index))[bucket];
        if (int32_t(slot) >= 0) {
            // Room for the new list's entry first: once made, the list must be
            // linked into the index before anything else allocates.
            reserve_word(index, &HashIndexHeader::dup_lists);
            Node list = new_word_series(2, 0);
            words_of(list)[0] = slot;
            words_of(list)[1] = position;
            append_word(index, &HashIndexHeader::dup_lists, list);
            h = hash_index_header(index);
            key_slots(h)[bucket] = uint32_t(-int32_t(word_count(h->dup_lists)));
        } else {
            Node list = words_of(hash_index_header(index)->dup_lists)[uint32_t(-int32_t(slot)) - 1];
            SeriesBuffer* b = node_buffer(list);
            if (b->tail + 4 > b->size) b = grow_series(b, int64_t(b->size) * 2 + 16);
            std::memcpy(b->data() + b->tail, &position, 4);
            b->tail += 4;
        }
        map_position(index, position, uint32_t(bucket));
        return;
    }
    occupy(hash_index_header(index), uint32_t(free_bucket), position);
    map_position(index, position, uint32_t(free_bucket));
}

// Makes the tables of a hash! index anew for `buckets` buckets and puts every
// cell of its block.
void rebuild_hash(Node index, uint32_t buckets) {
    Node flags = new_flags(buckets);
    hash_index_header(index)->flags = flags;
    Node keys = new_keys(buckets);
    hash_index_header(index)->keys = keys;
    Node lists = new_word_series(0, 0);
    hash_index_header(index)->dup_lists = lists;
    uint32_t n = node_buffer(hash_index_header(index)->block)->length();
    Node map = new_word_series(n, 0xFF);
    HashIndexHeader* h = hash_index_header(index);
    h->aux = map;
    h->buckets = buckets;
    h->upper_bound = uint32_t(buckets * HASH_LOAD_LIMIT);
    h->size = h->occupied = 0;
    for (uint32_t p = 0; p < n; p++) {
        // Every put may allocate: the bound is read afresh, and a table that
        // fills up while rebuilding is rebuilt larger.
        HashIndexHeader* hh = hash_index_header(index);
        if (hh->occupied >= hh->upper_bound) {
            rebuild_hash(index, buckets * 2);
            return;
        }
        put_hash_cell(index, p);
    }
}

}  // namespace

bool (*hash_cell_equality)(const Cell* a, const Cell* b, int op) = default_equality;

void rehash_block_into_index(Node index) {
    uint32_t n = node_buffer(hash_index_header(index)->block)->length();
    rebuild_hash(index, hash_index_bucket_count(n));
}

namespace {

constexpr uint32_t NO_BUCKET = 0xFFFFFFFFu;
// Above this many cells a position update costs more than rebuilding.
constexpr uint32_t SHIFT_LIMIT = 30000;

// Takes a position of a hash! block out of its bucket (see hash_index_remove).
void unindex_position(HashIndexHeader* h, uint32_t position) {
    if (position >= word_count(h->aux)) return;
    uint32_t* map = words_of(h->aux);
    uint32_t bucket = map[position];
    if (bucket == NO_BUCKET) return;
    map[position] = NO_BUCKET;
    uint32_t slot = key_slots(h)[bucket];
    if (int32_t(slot) < 0) {
        uint32_t k = uint32_t(-int32_t(slot)) - 1;
        Node list = words_of(h->dup_lists)[k];
        uint32_t* entries = words_of(list);
        uint32_t n = word_count(list);
        for (uint32_t i = 0; i < n; i++) {
            if (entries[i] != position) continue;
            std::memmove(entries + i, entries + i + 1, size_t(n - i - 1) * 4);
            node_buffer(list)->tail -= 4;
            n--;
            break;
        }
        if (n) return;  // a list keeps its bucket while it holds a position
        words_of(h->dup_lists)[k] = 0;
    }
    set_flag(flag_words(h), bucket, BUCKET_DELETED);
    h->size--;
}

// Room in the position map for `words` entries, new ones 0xFF-filled.
void reserve_positions(Node index, uint64_t words) {
    SeriesBuffer* b = node_buffer(hash_index_header(index)->aux);
    uint64_t need = words * 4;
    if (need > b->size) b = grow_series_filled(b, int64_t(need * 2), 0xFF);
    if (need > b->tail) {
        std::memset(b->data() + b->tail, 0xFF, need - b->tail);
        b->tail = uint32_t(need);
    }
}

// Moves the entries of positions [first, first + count) to `to(q)`: key
// slots, duplicate-list entries (each list adjusted once) and the position
// map. The target positions must hold no entries outside the range.
template <typename To>
bool remap_positions(Node index, uint32_t first, uint32_t count, uint32_t highest_target, To&& to) {
    if (count > SHIFT_LIMIT) return true;
    if (count == 0) return false;
    reserve_positions(index, std::max<uint64_t>(uint64_t(first) + count, uint64_t(highest_target) + 1));
    HashIndexHeader* h = hash_index_header(index);
    uint32_t* map = words_of(h->aux);
    uint32_t* keys = key_slots(h);
    std::vector<uint32_t> saved(map + first, map + first + count);
    std::vector<uint8_t> done;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t bucket = saved[i];
        if (bucket == NO_BUCKET) continue;
        uint32_t slot = keys[bucket];
        if (int32_t(slot) >= 0) {
            keys[bucket] = to(first + i);
            continue;
        }
        uint32_t k = uint32_t(-int32_t(slot)) - 1;
        if (done.empty()) done.resize(word_count(h->dup_lists));
        if (done[k]) continue;
        done[k] = 1;
        Node list = words_of(h->dup_lists)[k];
        uint32_t* entries = words_of(list);
        for (uint32_t j = 0, n = word_count(list); j < n; j++)
            if (entries[j] >= first && entries[j] - first < count) entries[j] = to(entries[j]);
    }
    std::memset(map + first, 0xFF, size_t(count) * 4);
    for (uint32_t i = 0; i < count; i++) map[to(first + i)] = saved[i];
    return false;
}

}  // namespace

void hash_index_remove(Node index, uint32_t position) {
    HashIndexHeader* h = hash_index_header(index);
    if (h->kind == HASH_KIND_MAP) {
        Cell* value = block_cells(h) + position + 1;
        if (value->header == 0) return;
        value->header = 0;
        h->size--;
        return;
    }
    unindex_position(h, position);
}

void hash_index_remove_range(Node index, uint32_t position, uint32_t count) {
    HashIndexHeader* h = hash_index_header(index);
    uint32_t mapped = word_count(h->aux);
    if (position == 0 && count >= mapped) {
        h->size = h->occupied = 0;
        std::memset(flag_words(h), 0xAA, flag_bytes(h->buckets));
        std::memset(words_of(h->aux), 0xFF, size_t(mapped) * 4);
        node_buffer(h->dup_lists)->tail = 0;
        return;
    }
    uint64_t end = std::min<uint64_t>(uint64_t(position) + count, mapped);
    for (uint64_t p = position; p < end; p++) unindex_position(h, uint32_t(p));
}

bool shift_index_positions(Node index, int32_t delta, uint32_t first, uint32_t count) {
    if (delta == 0) return false;
    if (delta < 0 && uint32_t(-delta) > first) return true;
    return remap_positions(index, first, count, uint32_t(int64_t(first) + count - 1 + delta),
                           [delta](uint32_t q) { return uint32_t(int64_t(q) + delta); });
}

bool hash_index_move_range(Node index, uint32_t to, uint32_t from, uint32_t count) {
    if (count == 0 || (to >= from && to <= from + count)) return false;
    if (to < from) {
        // [to, from) moves up by count; the run goes to `to`.
        uint32_t between = from - to;
        return remap_positions(index, to, between + count, from + count - 1, [=](uint32_t q) {
            return q < from ? q + count : to + (q - from);
        });
    }
    // [from + count, to) moves down by count; the run goes before `to`.
    uint32_t between = to - from - count;
    return remap_positions(index, from, count + between, to - 1, [=](uint32_t q) {
        return q < from + count ? to - count + (q - from) : q - count;
    });
}

int64_t find_in_hash_index_with(Node index, const Cell* key_in, uint32_t start, uint32_t skip, int op, bool last,
                                bool reverse) {
    Cell key = *key_in;
    HashIndexHeader* h = hash_index_header(index);
    if (skip == 0) skip = 1;
    int64_t best = -1;
    auto consider = [&](uint32_t p) {
        if (reverse) {
            if (p >= start || (start - p - 1) % skip) return;
            if (best < 0 || p > best) best = p;
        } else {
            if (p < start || (p - start) % skip) return;
            if (best < 0 || (last ? p > best : p < best)) best = p;
        }
    };
    const Cell* cells = block_cells(h);
    auto visit_bucket = [&](uint32_t slot) {
        // Equal values of this bucket; each position compares with the
        // requested operator (a case-sensitive lookup walks the same list).
        if (type_of(cells + first_position(h, slot)) != type_of(&key)) return false;
        slot_positions(h, slot, [&](uint32_t p) {
            if (hash_cell_equality(&key, cells + p, op)) consider(p);
        });
        return false;  // keep walking: equal-hash values may sit further on
    };
    probe_chain(h, hash_value(&key, false), nullptr, visit_bucket);
    return best;
}

namespace {
CellHasher hashers[256];
}  // namespace

void set_cell_hasher(int type, CellHasher hasher) { hashers[type & 0xFF] = hasher; }

int64_t map_index_find(Node index, const Cell* key, int op) {
    const int type = type_of(key);
    return map_index_find_by(index, hash_value(key, false), [&](const Cell* stored) {
        return type_of(stored) == type && hash_cell_equality(key, stored, op);
    });
}

void map_index_add(Node index, uint32_t position) {
    HashIndexHeader* h = hash_index_header(index);
    // A map doubles whenever it reaches its bound. Its size counts live
    // pairs, which the rehash (counting keys) must not change.
    if (h->occupied >= h->upper_bound) {
        uint32_t live = h->size;
        rehash(index, h->buckets * 2);
        h = hash_index_header(index);
        h->size = live;
    }
    Cell key = block_cells(h)[position];
    place(flag_words(h), key_slots(h), h->buckets - 1, hash_value(&key, false), position);
    h->size++;
    h->occupied++;
}

uint32_t hash_value(const Cell* cell, bool case_sensitive) {
    CellHasher h = hashers[cell->header & TYPE_MASK];
    return h ? h(cell, case_sensitive) : 0;
}

Node make_hash_index(uint32_t count, Node block, uint32_t kind, uint32_t extra) {
    if (kind == HASH_KIND_CELLS && count >= 4000) count *= 2;
    uint32_t buckets = hash_index_bucket_count(count);
    uint32_t record_cells = extra + 1;
    Node index = new_byte_series(sizeof(HashIndexHeader));
    {
        SeriesBuffer* ib = node_buffer(index);
        ib->flags |= series_flag::HASH_INDEX;
        ib->tail = ib->offset + sizeof(HashIndexHeader);
        HashIndexHeader* h = hash_index_header(index);
        *h = HashIndexHeader{};
        h->aux = is_record_kind(kind) ? 16 * extra + 16 : 0;
        h->kind = kind;
        h->block = block;
        h->buckets = buckets;
        h->upper_bound = uint32_t(buckets * HASH_LOAD_LIMIT);
        h->stamp = is_record_kind(kind) ? 1 + collector::nodes_cycles : 0;
    }
    // The header is a root while its tables are made; each is linked as soon
    // as it exists.
    collector::Rooted<1> keep;
    keep[0] = Cell{TYPE_HASH, 0, 0, index};
    Node flags = new_flags(buckets);
    hash_index_header(index)->flags = flags;
    Node keys = new_keys(buckets);
    hash_index_header(index)->keys = keys;
    if (!block) {
        uint32_t cells = is_record_kind(kind) ? (count ? count : 1) * record_cells : (count ? count : 1);
        Node blk = new_cell_series(cells);
        hash_index_header(index)->block = blk;
    }
    if (block && kind == HASH_KIND_CELLS) {
        uint32_t n = node_buffer(block)->length();
        for (uint32_t p = 0; p < n; p++) hash_index_put(index, p);
    }
    if (kind == HASH_KIND_HASH) rebuild_hash(index, buckets);
    return index;
}

void hash_index_put(Node index, uint32_t position, int* out_code) {
    if (out_code) *out_code = 0;
    switch (hash_index_header(index)->kind) {
    case HASH_KIND_CELLS:
        break;
    case HASH_KIND_HASH: {
        HashIndexHeader* h = hash_index_header(index);
        if (h->occupied >= h->upper_bound) {
            // A hash! index grows by rebuilding from its block, this cell
            // included: for buckets - 1 when few keys are live (only deleted
            // buckets go), else buckets + 1, each taken 1.5 times.
            uint32_t n = 2 * h->size < h->buckets ? h->buckets - 1 : h->buckets + 1;
            uint32_t buckets = next_power_of_two(uint32_t(n * 1.5));
            rebuild_hash(index, buckets < 4 ? 4 : buckets);
            if (out_code) *out_code = 2;
            return;
        }
        put_hash_cell(index, position);
        return;
    }
    default:
        // hash! (duplicate lists, position map) and map! (pairs) keys have
        // their own put, which comes with those datatypes; records go
        // through hash_index_put_key. Refuse rather than index them wrongly.
        raise_error(err::internal_feature_na);
    }
    grow_if_full(index);
    HashIndexHeader* h = hash_index_header(index);
    const Cell* cell = block_cells(h) + position;
    int64_t free_bucket;
    auto equal_key = [&](uint32_t slot) { return cells_key_equal(cell, block_cells(h) + slot); };
    // An equal key is already in: the first one stays.
    if (probe_chain(h, hash_value(cell, false), &free_bucket, equal_key) >= 0) return;
    if (free_bucket < 0) {
        // No room along the whole chain: cannot happen below the load limit,
        // but a doubled table always has room.
        rehash(index, h->buckets * 2);
        if (out_code) *out_code = 2;
        hash_index_put(index, position, nullptr);
        return;
    }
    occupy(h, uint32_t(free_bucket), position);
}

Node symbol_records = 0;

bool equal_ascii_fold(std::string_view a, std::string_view b) {
    auto lower = [](uint8_t c) { return (c >= 'A' && c <= 'Z') ? uint8_t(c + 32) : c; };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (lower(uint8_t(a[i])) != lower(uint8_t(b[i]))) return false;
    return true;
}

int32_t intern_symbol(Node index, const char* name, uint32_t length, bool any_case) {
    grow_if_full(index);
    HashIndexHeader* h = hash_index_header(index);
    const uint32_t hash = murmur3_x86_32_ascii_lower(name, length, hash_seed);
    const std::string_view wanted(name, length);
    int64_t free_bucket = -1;
    int32_t canonical = -1;

    // One walk does both passes: an exact match anywhere in the chain wins;
    // failing that, the first match ignoring ASCII case names the canonical
    // symbol. Records carry 16 bits of their name's hash in the header, so
    // most candidates are passed over without touching their name buffer.
    const uint32_t fragment = hash >> 16;
    {
        const Cell* cells = block_cells(h);
        auto same_name = [&](uint32_t slot) {
            const Cell* record = cells + slot;
            if (((record->header >> SYMBOL_FRAGMENT_SHIFT) & 0xFFFF) != fragment) return false;
            std::string_view stored = symbol_bytes(record);
            if (stored.size() != length) return false;
            if (!any_case && stored == wanted) return true;
            if (equal_ascii_fold(stored, wanted)) {
                if (any_case) return true;
                // A variant met first still leads to the one canonical spelling.
                if (canonical < 0) canonical = resolve_symbol(int32_t(slot) + 1);
            }
            return false;
        };
        int64_t bucket = probe_chain(h, hash, &free_bucket, same_name);
        if (bucket >= 0) return int32_t(key_slots(h)[bucket]) + 1;
    }
    if (free_bucket < 0) {
        rehash(index, hash_index_header(index)->buckets * 2);
        return intern_symbol(index, name, length, any_case);
    }

    // New record first (reachable through the table), then its name buffer,
    // so a collection run by either allocation loses nothing.
    uint32_t position;
    {
        SeriesBuffer* table = node_buffer(hash_index_header(index)->block);
        position = table->length();
        Cell* record = append_cell_to_buffer(table);
        *record = Cell{TYPE_SYMBOL | (fragment << SYMBOL_FRAGMENT_SHIFT), uint32_t(canonical), 0, 0};
    }
    Node bytes = new_byte_series(length + 1);
    {
        SeriesBuffer* b = node_buffer(bytes);
        if (length) std::memcpy(b->data(), name, length);
        b->data()[length] = 0;
        b->tail = length;
    }
    h = hash_index_header(index);
    block_cells(h)[position].data3 = bytes;
    occupy(h, uint32_t(free_bucket), position);
    return int32_t(position) + 1;
}

int32_t context_index_put(Node index, int32_t symbol, bool by_canonical, Node ctx, int32_t* out_position) {
    if (ctx) grow_if_full(index);
    HashIndexHeader* h = hash_index_header(index);
    const int32_t canonical = resolve_symbol(symbol);
    int64_t free_bucket;
    {
        const Cell* cells = block_cells(h);
        auto same_word = [&](uint32_t slot) {
            int32_t stored = int32_t(cells[slot].data2);
            return by_canonical ? resolve_symbol(stored) == canonical : stored == symbol;
        };
        int64_t bucket = probe_chain(h, hash_pointer(uint32_t(canonical)), &free_bucket, same_word);
        if (bucket >= 0) return int32_t(key_slots(h)[bucket]);
    }
    if (!ctx) return -1;
    if (free_bucket < 0) {
        rehash(index, h->buckets * 2);
        return context_index_put(index, symbol, by_canonical, ctx, out_position);
    }
    SeriesBuffer* block = node_buffer(h->block);
    uint32_t position = block->length();
    Cell* w = append_cell_to_buffer(block);
    *w = Cell{TYPE_WORD, ctx, uint32_t(symbol), position};
    occupy(hash_index_header(index), uint32_t(free_bucket), position);
    if (out_position) *out_position = int32_t(position);
    return -1;
}

// ---- record tables -------------------------------------------------------

namespace {

inline Cell* record_at(const HashIndexHeader* h, uint32_t offset) {
    return reinterpret_cast<Cell*>(block_bytes(h) + offset);
}

// The bucket holding the key, or -1; *free_bucket gets the first reusable one.
int64_t find_record(const HashIndexHeader* h, uint32_t key, int64_t* free_bucket) {
    auto same_key = [&](uint32_t slot) { return record_at(h, slot)->data1 == key; };
    return probe_chain(h, hash_pointer(key), free_bucket, same_key);
}

// Rehashes every live record of the block (identity keys may have moved).
void rebuild_records(Node index) {
    HashIndexHeader* h = hash_index_header(index);
    std::memset(flag_words(h), 0xAA, flag_bytes(h->buckets));
    h->size = h->occupied = 0;
    SeriesBuffer* b = node_buffer(h->block);
    uint32_t bytes = b->tail - b->offset;
    uint32_t* flags = flag_words(h);
    uint32_t* keys = key_slots(h);
    for (uint32_t off = 0; off + h->aux <= bytes; off += h->aux) {
        const Cell* record = record_at(h, off);
        if (record->header != TYPE_UNSET) continue;
        place(flags, keys, h->buckets - 1, hash_pointer(record->data1), off);
        h->size++;
        h->occupied++;
    }
    h->stamp = 1 + collector::nodes_cycles;
}

}  // namespace

void hash_index_refresh(Node index) {
    HashIndexHeader* h = hash_index_header(index);
    // Identity keys are node ids; should the collector ever renumber nodes,
    // they are rehashed lazily, once per renumbering, when next looked at.
    if (h->stamp == 0 || h->stamp == 1 + collector::nodes_cycles || collector::is_collecting()) return;
    if (is_record_kind(h->kind)) rebuild_records(index);
}

Cell* hash_index_put_key(Node index, uint32_t key) {
    hash_index_refresh(index);
    HashIndexHeader* h = hash_index_header(index);
    int64_t bucket = find_record(h, key, nullptr);
    if (bucket >= 0) return record_at(h, key_slots(h)[bucket]) + 1;
    grow_if_full(index);
    h = hash_index_header(index);
    int64_t free_bucket;
    find_record(h, key, &free_bucket);
    uint32_t cells = h->aux / 16;
    SeriesBuffer* b = node_buffer(h->block);
    uint32_t offset = b->tail - b->offset;
    for (uint32_t k = 0; k < cells; k++) *append_cell_to_buffer(b) = Cell{TYPE_UNSET, 0, 0, 0};
    Cell* record = reinterpret_cast<Cell*>(b->head() + offset);
    record->data1 = key;
    h = hash_index_header(index);
    occupy(h, uint32_t(free_bucket), offset);
    return record_at(h, offset) + 1;
}

Cell* hash_index_get_key(Node index, uint32_t key) {
    hash_index_refresh(index);
    HashIndexHeader* h = hash_index_header(index);
    int64_t bucket = find_record(h, key, nullptr);
    return bucket < 0 ? nullptr : record_at(h, key_slots(h)[bucket]) + 1;
}

Cell* hash_index_delete_key(Node index, uint32_t key) {
    hash_index_refresh(index);
    HashIndexHeader* h = hash_index_header(index);
    int64_t bucket = find_record(h, key, nullptr);
    if (bucket < 0) return nullptr;
    Cell* record = record_at(h, key_slots(h)[bucket]);
    set_flag(flag_words(h), uint32_t(bucket), BUCKET_DELETED);
    h->size--;
    record->header = 0;
    return record + 1;
}

void hash_index_delete_dead_owners(Node index, bool (*is_marked)(Node)) {
    HashIndexHeader* h = hash_index_header(index);
    uint32_t* flags = flag_words(h);
    const uint32_t* keys = key_slots(h);
    for (uint32_t i = 0; i < h->buckets; i++) {
        if (flag_at(flags, i) != BUCKET_OCCUPIED) continue;
        Cell* record = record_at(h, keys[i]);
        Node owner = h->aux >= 48 ? record[2].data1 : 0;
        if (is_marked(record->data1) && (!owner || is_marked(owner))) continue;
        set_flag(flags, i, BUCKET_DELETED);
        h->size--;
        record->header = 0;
        record->data1 = 0;
    }
}

void clear_hash_index(Node index) {
    HashIndexHeader* h = hash_index_header(index);
    h->size = h->occupied = 0;
    std::memset(flag_words(h), 0xAA, flag_bytes(h->buckets));
    SeriesBuffer* b = node_buffer(h->block);
    b->tail = b->offset;
}

Node copy_hash_index(Node index, Node new_block) {
    // The copy's header still names the original's tables until its own are
    // made, so it is a complete index at every allocation.
    Node copy = duplicate_series(node_buffer(index));
    collector::Rooted<1> keep;
    keep[0] = Cell{TYPE_HASH, 0, 0, copy};
    Node flags = duplicate_series(node_buffer(hash_index_header(index)->flags));
    hash_index_header(copy)->flags = flags;
    Node keys = duplicate_series(node_buffer(hash_index_header(index)->keys));
    hash_index_header(copy)->keys = keys;
    if (hash_index_header(index)->kind == HASH_KIND_HASH) {
        Node map = duplicate_series(node_buffer(hash_index_header(index)->aux));
        hash_index_header(copy)->aux = map;
        // The list series first holds the original's lists, then each copy.
        Node lists = duplicate_series(node_buffer(hash_index_header(index)->dup_lists));
        hash_index_header(copy)->dup_lists = lists;
        for (uint32_t k = 0, n = word_count(lists); k < n; k++) {
            Node list = words_of(lists)[k];
            if (!list) continue;
            Node dup = duplicate_series(node_buffer(list));
            words_of(hash_index_header(copy)->dup_lists)[k] = dup;
        }
    }
    hash_index_header(copy)->block = new_block;
    return copy;
}

}  // namespace vyx
