#include "datatypes/sorting.h"

#include <cmath>
#include <cstring>

#include "datatypes/series.h"
#include "evaluator/call.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::sorting {

namespace {

// Leaves the sorter when a comparator left a pending exit: the sorter puts
// back what it holds and the exit goes on once the sort handler returns.
struct Stopped {};

[[noreturn]] void bad_refine_arg(const char* name, const Cell* value) {
    Cell word = series::named_word(name);
    raise_error(err::script_invalid_refine_arg, &word, value);
}

bool is_callable(int t) {
    return t == TYPE_FUNCTION || t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_ROUTINE;
}

}  // namespace

bool read_request(Request& r, Cell* s, bool case_, Cell* skip, Cell* compare, Cell* part, bool all,
                  bool reverse, bool stable, bool all_needs_skip) {
    r.series = *s;
    r.case_ = case_;
    r.reverse = reverse;
    r.stable = stable;
    int64_t n = series::length_from_head(s);
    int64_t start = s->data1 > n ? n : s->data1;
    int64_t count = n - start;
    if (part) {
        int64_t c;
        if (type_of(part) == TYPE_INTEGER) {
            c = int32_t(part->data2);
        } else if (type_of(part) == type_of(s) && part->data2 == s->data2) {
            c = int64_t(part->data1 > n ? n : part->data1) - start;
        } else {
            bad_refine_arg("part", part);
        }
        if (c < 0) {
            // the elements before the head
            count = -c > start ? start : -c;
            start -= count;
        } else if (c < count) {
            count = c;
        }
    }
    r.start = uint32_t(start);
    r.count = uint32_t(count);
    if (count == 0) return false;
    if (skip) {
        int64_t size = type_of(skip) == TYPE_INTEGER ? int32_t(skip->data2) : 0;
        if (size < 1 || count % size != 0 || size > count) bad_refine_arg("skip", skip);
        r.size = uint32_t(size);
    }
    if (all && !skip && all_needs_skip) raise_error(err::script_bad_refines);
    if (compare) {
        int t = type_of(compare);
        if (t == TYPE_INTEGER) {
            if (!skip || all) raise_error(err::script_bad_refines);
            int32_t field = int32_t(compare->data2);
            if (field < 1 || uint32_t(field) > r.size) raise_error(err::script_out_of_range, compare);
            r.field = uint32_t(field - 1);
        } else if (is_callable(t)) {
            r.function = compare;
        } else {
            bad_refine_arg("compare", compare);
        }
    }
    r.whole = all && skip;
    return r.records() >= 2;
}

bool sorts_first(const Cell* answer) {
    switch (type_of(answer)) {
    case TYPE_LOGIC: return answer->data1 != 0;
    case TYPE_NONE: return false;
    case TYPE_INTEGER: return int32_t(answer->data2) < 0;
    case TYPE_FLOAT: case TYPE_PERCENT: return cell_float(answer) < 0.0;
    default: return true;
    }
}

bool call_compare(const Cell* function, const Cell* a, const Cell* b) {
    Cell args[2] = {*a, *b};
    Cell fn = *function;
    Cell* saved = stack::top;
    Cell* result = call::call_function(&fn, args, 2);
    if (stack::thrown) throw Stopped{};
    Cell answer = *result;
    stack::top = saved;
    return sorts_first(&answer);
}

void check_intact(const Request& r, uint32_t unit) {
    if (series::buffer_of(&r.series)->unit() != unit ||
        series::length_from_head(&r.series) < uint64_t(r.start) + r.count)
        raise_error(err::script_protected);
}

uint8_t* SeriesRecords::address(size_t ref) {
    if (ref & records::SPARE) return spare_at(ref & ~records::SPARE);
    return series::element_at(series::buffer_of(&r_.series), r_.start) + ref * width;
}

bool SeriesRecords::call(size_t x, size_t y) {
    bool first;
    if (r_.whole) {
        load(scratch_[0], x);
        load(scratch_[1], y);
        first = call_compare(r_.function, &scratch_[0], &scratch_[1]);
    } else {
        Cell a = element(x), b = element(y);
        first = call_compare(r_.function, &a, &b);
    }
    check_intact(r_, unit_);
    return first;
}

// The scratch series holds the record's elements and nothing else.
void SeriesRecords::load(Cell& scratch, size_t ref) {
    SeriesBuffer* b = type_of(&scratch) == TYPE_UNSET ? nullptr : series::buffer_of(&scratch);
    if (!b || b->unit() != unit_ || b->size - b->offset < width) {
        make_scratch(&scratch);
        b = series::buffer_of(&scratch);
    }
    std::memcpy(b->head(), address(ref), width);
    b->tail = b->offset + width;
    scratch.data1 = 0;
}

void run(const Request& r, records::RecordStore& store) {
    bool owned = series::notify(&r.series, series::Change::SORT, false, nullptr, int32_t(r.start), int32_t(r.count));
    // The owner's handler may have changed the series.
    if (owned) check_intact(r, store.width / r.size);
    try {
        if (r.stable) records::stable_sort_records(store, r.records());
        else records::sort_records(store, r.records());
    } catch (const Stopped&) {
        return;
    }
    if (owned) series::notify(&r.series, series::Change::SORT, true, nullptr, int32_t(r.start), int32_t(r.count));
}

}  // namespace vyx::sorting
