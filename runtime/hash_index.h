// Hash indexes: open-addressing hash tables kept entirely in series, so the
// collector moves and reclaims them like any value.
//
// An index is a 44-byte header series reached through its node; the header
// names the series of bucket flags (2 bits per bucket: 2 empty, 1 deleted,
// 0 occupied), the key slots (one 32-bit word per bucket) and the block of
// cells that holds the keys. Bucket counts are powers of two, the table grows
// when occupied buckets pass 0.77 of them, probing is triangular, and keys are
// hashed with MurmurHash3 x86 32-bit under one seed fixed at start-up.
//
// Kinds and what a key slot holds:
//   HASH (hash!)        cell position, or -k for the k-th duplicate list
//   MAP (map!)          cell position of the key of a key/value pair
//   CELLS               cell position; symbol table and context word indexes
//   RECORDS             byte offset of a fixed-size record in the block
//   OWNERSHIP           byte offset of a record; the collector prunes dead owners
// The hash! and map! kinds arrive with those datatypes; the header keeps their
// fields (position map, duplicate lists) in place for them.
#pragma once
#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"

namespace vyx {

enum HashKind : uint32_t {
    HASH_KIND_HASH = 0,
    HASH_KIND_MAP = 1,
    HASH_KIND_CELLS = 2,
    HASH_KIND_RECORDS = 3,
    HASH_KIND_OWNERSHIP = 4,
};

constexpr double HASH_LOAD_LIMIT = 0.77;

struct HashIndexHeader {
    uint32_t size;         // live keys
    uint32_t aux;          // hash!: node of the position map; records: record size in bytes
    uint32_t dup_lists;    // hash!: node of the duplicate lists
    uint32_t flags;        // node of the bucket flags
    uint32_t keys;         // node of the key slots
    uint32_t block;        // node of the block of cells holding the keys
    uint32_t occupied;     // live plus deleted buckets
    uint32_t buckets;      // a power of two, at least 4
    uint32_t upper_bound;  // occupied count that triggers growth
    uint32_t kind;
    uint32_t stamp;        // 0, or 1 + the collection count when identity hashes were last computed
};
static_assert(sizeof(HashIndexHeader) == 44);

// Bucket flag values.
constexpr uint32_t BUCKET_OCCUPIED = 0;
constexpr uint32_t BUCKET_DELETED = 1;
constexpr uint32_t BUCKET_EMPTY = 2;

// The bucket tables, for the walks written in line below.
namespace hash_layout {

// Bucket flags: 2 bits per bucket, 16 buckets per 32-bit word.
inline uint32_t* flag_words(const HashIndexHeader* h) {
    return reinterpret_cast<uint32_t*>(node_buffer(h->flags)->data());
}
inline uint32_t* key_slots(const HashIndexHeader* h) {
    return reinterpret_cast<uint32_t*>(node_buffer(h->keys)->data());
}
inline uint32_t flag_at(const uint32_t* words, uint32_t i) { return (words[i >> 4] >> ((i & 15) << 1)) & 3; }

// The walk over the buckets for a hash: its own bucket first, so that keys
// whose hashes follow one another (integers counted up) sit side by side;
// then steps that bring in the hash's higher bits, a few at a time, so that
// keys alike in their low bits part at once; then i -> 5i + 1, which visits
// every bucket of a power-of-two table. Done after every bucket is seen.
struct Probe {
    uint32_t mask, i, perturb, left;
    Probe(uint32_t hash, uint32_t buckets) : mask(buckets - 1), i(hash & mask), perturb(hash), left(buckets + 8) {}
    // false when every bucket has been seen.
    bool advance() {
        perturb >>= 5;
        i = (i * 5 + 1 + perturb) & mask;
        return --left != 0;
    }
};

}  // namespace hash_layout

// The process-wide seed, fixed at start-up.
extern const uint32_t hash_seed;

// The header of an index. The address is only good until the next allocation.
inline HashIndexHeader* hash_index_header(Node index) {
    return reinterpret_cast<HashIndexHeader*>(node_buffer(index)->data());
}

// Bucket count for a table sized for `count` keys: at least 4 keys,
// count / 0.77 rounded up to a power of two.
uint32_t hash_index_bucket_count(uint32_t count);
// next-power-of-two(n): n - 1 with all lower bits set, plus 1.
uint32_t next_power_of_two(uint32_t n);

// A new index sized for `count` keys. `block` is the node of an existing cell
// series whose cells are all inserted (CELLS kind), or 0 to make a fresh block
// of `count` cells. For the CELLS kind a count of 4000 or more is doubled.
// Record kinds get records of 16 * extra + 16 bytes.
Node make_hash_index(uint32_t count, Node block, uint32_t kind, uint32_t extra = 0);

// CELLS and HASH kinds: inserts the cell at `position` of the index's block
// (a hash! index keeps equal values in duplicate lists). `out_code`
// (when given) is set to 2 when the table was rebuilt around the cell, else 0.
void hash_index_put(Node index, uint32_t position, int* out_code = nullptr);

// The equality that hash! indexes compare values with, by a comparison
// operator (plain, case-sensitive, same or find equality). The datatypes
// install it; until then values compare by type and payload.
extern bool (*hash_cell_equality)(const Cell* a, const Cell* b, int op);

// hash! kind: the position of the nearest value equal to `key` under the
// comparison `op`, among the positions p with (p - start) (forwards) or
// (start - p - 1) (backwards) a multiple of `skip`: forwards the smallest
// p >= start, with `last` the largest p >= start, with `reverse` the largest
// p < start. -1 when none.
int64_t find_in_hash_index_with(Node index, const Cell* key, uint32_t start, uint32_t skip, int op, bool last,
                                bool reverse);

// map! kind: keys at the even positions of the index's block (the pair
// series). map_index_find answers the position of the first key added that has
// the key's type and is equal under `op`, or -1; map_index_add enters the key
// at `position` (not checking for an equal one). map_index_visit calls `visit`
// with the position of every key of the type equal under `op`, in probe order,
// until it answers true.
int64_t map_index_find(Node index, const Cell* key, int op);
void map_index_add(Node index, uint32_t position);
// map! kind: the position of the first key along the chain of `hash` that
// `matches` accepts (called with the stored key cell), or -1: the lookup of
// map_index_find for a caller that compares keys of a known type itself.
// The walk holds the tables' addresses, so `matches` must not allocate.
template <typename Match>
int64_t map_index_find_by(Node index, uint32_t hash, Match&& matches);
template <typename Visit>
void map_index_visit(Node index, const Cell* key, int op, Visit&& visit);

// hash! kind: enters every cell of the index's block anew, sized for its
// cell count.
void rehash_block_into_index(Node index);

// hash! kind: keeping the index in step with changes of its block. Each finds
// a position's bucket through the position map, so they work after the block
// has changed.
// Takes one position out of the index: a bucket holding the position itself
// is marked deleted; a duplicate list loses the position and is dropped (its
// bucket deleted) only when left empty. map! kind: marks the pair whose key
// stands at `position` removed.
void hash_index_remove(Node index, uint32_t position);
// Takes `count` positions from `position` out; from 0, a count reaching past
// every indexed position empties the index.
void hash_index_remove_range(Node index, uint32_t position, uint32_t count);
// The cells that stood at [first, first + count) now stand `delta` further
// on: their key slots, duplicate-list entries and position-map entries move.
// The positions they move onto must hold no entries. Above 30,000 cells it
// changes nothing and answers true: the caller rebuilds the index instead.
bool shift_index_positions(Node index, int32_t delta, uint32_t first, uint32_t count);
// The run of `count` cells at `from` moved before the cell that stood at `to`
// (a position outside the run), as a same-block move does. Answers true when
// the caller must rebuild the index instead.
bool hash_index_move_range(Node index, uint32_t to, uint32_t from, uint32_t count);

// The 32-bit hash of a value: its datatype's hasher, given in the type's
// registry row. Values that are equal (as keys compare them) hash alike; a
// type without a hasher hashes to 0, which is slow but never wrong.
uint32_t hash_value(const Cell* cell, bool case_sensitive);
using CellHasher = uint32_t (*)(const Cell* cell, bool case_sensitive);
void set_cell_hasher(int type, CellHasher hasher);
// The seeded hash of bytes.
inline uint32_t hash_bytes(const void* bytes, uint32_t length) { return murmur3_x86_32(bytes, length, hash_seed); }

// Hashers for rows whose hash is the payload itself: one payload word
// (1-3) mixed, or `Bytes` bytes from payload word `First` on.
template <int Word>
uint32_t hash_payload_word(const Cell* cell, bool) {
    const uint32_t words[3] = {cell->data1, cell->data2, cell->data3};
    return hash_pointer(words[Word - 1]);
}
template <int First, int Bytes>
uint32_t hash_payload_bytes(const Cell* cell, bool) {
    static_assert(First >= 1 && First <= 3 && (First - 1) * 4 + Bytes <= 12);
    const uint32_t* words = &cell->data1;
    return hash_bytes(words + (First - 1), Bytes);
}

// A symbol! record keeps the top 16 bits of its name's hash in header bits
// 8-23, a cheap filter for lookups.
constexpr uint32_t SYMBOL_FRAGMENT_SHIFT = 8;

// Symbol table side: the 1-based symbol id of the name, interning it when new.
// With any_case, any spelling that matches ignoring ASCII case is returned.
int32_t intern_symbol(Node index, const char* name, uint32_t length, bool any_case);

// The symbol table's block of records (symbol id N at cell N - 1), set by the
// symbol table when it is made: word keys compare by canonical symbol.
extern Node symbol_records;
// The canonical id: the record's alias when it is above 0, else the id itself.
inline int32_t resolve_symbol(int32_t id) {
    int32_t alias = int32_t(node_buffer(symbol_records)->read_cells()[id - 1].data1);
    return alias > 0 ? alias : id;
}
// Byte-wise equality with ASCII-only case folding; never the C library's
// locale-dependent compare.
bool equal_ascii_fold(std::string_view a, std::string_view b);

// Context side: the word index of a context is a CELLS index over word! cells
// (ctx, symbol, position). Looks the symbol up (exactly, or by canonical
// symbol); with a context node a missing word is appended (its position goes
// to *out_position and the result is -1), otherwise the result is the existing
// word's position. With ctx 0 it only looks up and answers -1 when absent.
int32_t context_index_put(Node index, int32_t symbol, bool by_canonical, Node ctx, int32_t* out_position);

// Record tables (RECORDS and OWNERSHIP kinds). Keys are 32-bit identities
// (nodes). Each returns the record's second cell, or null; the address is only
// good until the next allocation.
Cell* hash_index_put_key(Node index, uint32_t key);
Cell* hash_index_get_key(Node index, uint32_t key);
Cell* hash_index_delete_key(Node index, uint32_t key);

// Empties the index: no keys, every bucket empty, the block cleared.
void clear_hash_index(Node index);
// A copy of the index whose keys refer to `new_block`.
Node copy_hash_index(Node index, Node new_block);
// Rehashes identity keys when node ids may have moved since they were hashed.
void hash_index_refresh(Node index);

// The collector's step for the ownership table after marking: every live
// record whose key series or owner (word 1 of its third cell) is unmarked is
// deleted and its first two words zeroed.
void hash_index_delete_dead_owners(Node index, bool (*is_marked)(Node));

// map! kind: every key along the chain of `hash` (its cell and position),
// until `stop` answers true. Read-only access throughout: a lookup marks no
// buffer as written. The walk holds the tables' addresses, so `stop` must
// not allocate.
template <typename Stop>
void map_index_chain(Node index, uint32_t hash, Stop&& stop) {
    const auto* h = reinterpret_cast<const HashIndexHeader*>(node_buffer(index)->read_data());
    const auto* flags = reinterpret_cast<const uint32_t*>(node_buffer(h->flags)->read_data());
    const auto* keys = reinterpret_cast<const uint32_t*>(node_buffer(h->keys)->read_data());
    const Cell* cells = node_buffer(h->block)->read_cells();
    hash_layout::Probe p(hash, h->buckets);
    do {
        uint32_t f = hash_layout::flag_at(flags, p.i);
        if (f == BUCKET_EMPTY) return;
        if (f == BUCKET_OCCUPIED && stop(cells + keys[p.i], keys[p.i])) return;
    } while (p.advance());
}

template <typename Visit>
void map_index_visit(Node index, const Cell* key, int op, Visit&& visit) {
    const int type = type_of(key);
    map_index_chain(index, hash_value(key, false), [&](const Cell* stored, uint32_t position) {
        return type_of(stored) == type && hash_cell_equality(key, stored, op) && visit(position);
    });
}

template <typename Match>
int64_t map_index_find_by(Node index, uint32_t hash, Match&& matches) {
    int64_t found = -1;
    map_index_chain(index, hash, [&](const Cell* stored, uint32_t position) {
        if (!matches(stored)) return false;
        found = position;
        return true;
    });
    return found;
}

}  // namespace vyx
