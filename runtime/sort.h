// Record sorting: the stable and the unstable sorter behind `sort` of blocks
// and strings.
//
// Records are fixed-width runs of bytes (cells, characters, or groups of them)
// that a RecordStore names by index. The sorters never keep an address across
// a comparison: a comparison may run code that allocates, collects (moving
// buffers) or changes the series, so every access asks the store for the
// current address. Records move only by exchanges, by rotations done between
// two comparisons, or through the merge buffer, which is put back when a
// comparison throws: whatever escapes a comparison, every record is still
// present exactly once.
//
// The one question the sorters ask is "does x sort before y" (`less`). Where
// an order test needs "x not after y" they ask less(y, x) and negate it, so a
// comparator that answers a plain yes or no keeps records it does not tell
// apart in input order under the stable sort.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vyx::records {

// An index with this bit set names slot (index & ~SPARE) of the store's spare
// area: the merge buffer of the stable sort.
constexpr size_t SPARE = size_t(1) << 62;

class RecordStore {
public:
    explicit RecordStore(uint32_t width) : width(width) {}
    virtual ~RecordStore() = default;
    // Bytes per record.
    const uint32_t width;
    // The current address of a record or spare slot.
    virtual uint8_t* address(size_t ref) = 0;
    // Whether record x sorts before record y. May run anything, throw, or
    // answer inconsistently; the sorters stay in bounds and end.
    virtual bool less(size_t x, size_t y) = 0;
    // Makes room for `count` spare slots (called once, before any use).
    virtual void reserve_spare(size_t count) = 0;
};

// What a sort did, for tests and benchmarks.
struct SortStats {
    uint32_t max_depth = 0;   // deepest nesting of partition steps
    uint32_t heap_sorts = 0;  // ranges finished by heap sort
};

// Stable ascending sort of records 0..count-1 (run-adaptive merge sort).
void stable_sort_records(RecordStore& store, size_t count);
// Ascending sort, not stable (partition sort over a sorted sample, with heap
// sort past about 2 log2 n levels).
SortStats sort_records(RecordStore& store, size_t count);
// The partition step alone over records 0..count-1, `sample` of which are
// already sorted among themselves (at the front when positive, at the end
// when negative): what sort_records runs after its presortedness checks.
SortStats partition_sort_records(RecordStore& store, size_t count, long long sample);

// Exchanges two records of `width` bytes.
void swap_records(uint8_t* a, uint8_t* b, uint32_t width);

// Puts distinct numbers (positions, node ids) in ascending order: through a
// bitmap of their range when that is not much larger than their count, else
// by sorting.
void sort_distinct(std::vector<uint32_t>& numbers);

}  // namespace vyx::records
