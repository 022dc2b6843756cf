// What the sort handlers of blocks and strings share: reading the range and
// the refinements, calling a /compare function with one meaning of its answer
// for both, and running the record sorter between the ownership notices.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/collector.h"
#include "runtime/sort.h"

namespace vyx::sorting {

struct Request {
    Cell series;            // the series, head at the range's start
    uint32_t start = 0;     // first element of the range, from the buffer's start
    uint32_t count = 0;     // elements in the range
    uint32_t size = 1;      // elements per record (/skip)
    uint32_t field = 0;     // the element compared inside a record (/compare n, less 1)
    bool whole = false;     // /all with /skip: whole records
    bool reverse = false;
    bool stable = false;
    bool case_ = false;
    const Cell* function = nullptr;  // a /compare function, on the stack
    uint32_t records() const { return count / size; }
};

// Reads the arguments of `sort` into a request. Raises the errors of the
// refinements; `all_needs_skip` makes /all without /skip bad-refines (strings).
// Answers false when there is nothing to sort.
bool read_request(Request& r, Cell* series, bool case_, Cell* skip, Cell* compare, Cell* part, bool all,
                  bool reverse, bool stable, bool all_needs_skip);

// Whether a comparator's answer means that its first argument sorts first:
// a logic true does, false and none do not, a number does when negative (a
// NaN counts as 0); any other value does.
bool sorts_first(const Cell* answer);

// Calls the /compare function with two values: whether the first sorts
// first. A break, throw or return out of the function stops the sort.
bool call_compare(const Cell* function, const Cell* a, const Cell* b);

// Raised out of a comparison when the series changed under the sort so that
// the range is no longer whole (or its characters changed width).
void check_intact(const Request& r, uint32_t unit);

// The records of a series as the sorter sees them: read through the node at
// every access. Blocks and strings add their own order, merge buffer and the
// value a /compare function gets for a record.
class SeriesRecords : public records::RecordStore {
public:
    SeriesRecords(const Request& r, uint32_t unit) : RecordStore(r.size * unit), r_(r), unit_(unit) {}
    uint8_t* address(size_t ref) override;

protected:
    // Whether record x sorts before record y by the /compare function: it
    // gets the compared values, or with /all two scratch series holding the
    // records (this sort's own, so a comparator that sorts has its own too).
    bool call(size_t x, size_t y);
    // The value of a record that a /compare function gets.
    virtual Cell element(size_t ref) = 0;
    // An empty series of the right kind with room for one record.
    virtual void make_scratch(Cell* target) = 0;
    virtual uint8_t* spare_at(size_t slot) = 0;

    const Request& r_;
    const uint32_t unit_;

private:
    void load(Cell& scratch, size_t ref);
    collector::Rooted<2> scratch_;
};

// Sorts the request's records with the store between the ownership notices;
// a pending exit of the comparator ends it early, every record in place.
void run(const Request& r, records::RecordStore& store);

}  // namespace vyx::sorting
