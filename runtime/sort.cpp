#include "runtime/sort.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vyx::records {

void swap_records(uint8_t* a, uint8_t* b, uint32_t width) {
    if ((width & 3) != 0) {
        for (uint32_t i = 0; i < width; i++) std::swap(a[i], b[i]);
        return;
    }
    for (uint32_t i = 0; i < width; i += 4) {
        uint32_t x, y;
        std::memcpy(&x, a + i, 4);
        std::memcpy(&y, b + i, 4);
        std::memcpy(a + i, &y, 4);
        std::memcpy(b + i, &x, 4);
    }
}

namespace {

// Runs shorter than this are extended by insertion before merging.
constexpr size_t MIN_RUN = 24;
// Ranges of at most this many records are finished by insertion.
constexpr size_t SMALL_RANGE = 7;

unsigned bit_length(size_t n) {
    unsigned b = 0;
    while (n) {
        b++;
        n >>= 1;
    }
    return b;
}

class Sorter {
public:
    explicit Sorter(RecordStore& store) : s_(store), w_(store.width), temp_(store.width) {}

    void stable(size_t n);
    SortStats unstable(size_t n);
    SortStats partition_all(size_t n, long long sample) {
        if (n >= 2) partition_sort(0, n, sample, true, 0, 2 * bit_length(n));
        return stats_;
    }

private:
    RecordStore& s_;
    const uint32_t w_;
    std::vector<uint8_t> temp_;
    SortStats stats_;

    bool less(size_t x, size_t y) { return s_.less(x, y); }
    uint8_t* at(size_t ref) { return s_.address(ref); }
    void swap(size_t x, size_t y) {
        if (x != y) swap_records(at(x), at(y), w_);
    }
    void move(size_t to, size_t from) { std::memcpy(at(to), at(from), w_); }
    void move_range(size_t to, size_t from, size_t n) {
        if (n) std::memmove(at(to), at(from), n * w_);
    }
    // Reverses records [lo, hi).
    void reverse(size_t lo, size_t hi) {
        while (lo + 1 < hi) swap(lo++, --hi);
    }
    // Record `from` moves down to `to`; the records between move up one.
    // Nothing is compared meanwhile, so the record may wait in a plain buffer.
    void rotate_down(size_t to, size_t from) {
        std::memcpy(temp_.data(), at(from), w_);
        move_range(to + 1, to, from - to);
        std::memcpy(at(to), temp_.data(), w_);
    }
    // Moves [a, b) to start at p (p <= a) by exchanges: the stretch keeps its
    // order, the records it displaces may not.
    void bring_to(size_t p, size_t a, size_t b) {
        size_t len = b - a;
        if (a == p) return;
        if (a - p >= len) {
            for (size_t k = 0; k < len; k++) swap(p + k, a + k);
        } else {
            reverse(p, a);
            reverse(a, b);
            reverse(p, b);
        }
    }

    // Inserts each record of [sorted_end, end) into the sorted [lo, ...),
    // after the records it does not sort before.
    void insert_sorted(size_t lo, size_t sorted_end, size_t end) {
        for (size_t i = std::max(sorted_end, lo + 1); i < end; i++) {
            size_t a = lo, b = i;
            while (a < b) {
                size_t m = a + (b - a) / 2;
                if (less(i, m)) b = m;
                else a = m + 1;
            }
            if (a < i) rotate_down(a, i);
        }
    }

    size_t natural_run(size_t start, size_t end);
    size_t extended_run(size_t start, size_t end);
    void merge(size_t lo, size_t mid, size_t hi);
    void merge_low(size_t lo, size_t mid, size_t hi);
    void merge_high(size_t lo, size_t mid, size_t hi);

    size_t absorb_stretches(size_t p, int dir, size_t n);
    void partition_sort(size_t lo, size_t hi, long long sample, bool leftmost, unsigned depth, unsigned limit);
    template <class GoesLeft>
    size_t partition(size_t u0, size_t u1, GoesLeft goes_left);
    void heap_sort(size_t lo, size_t hi);
    void sift_down(size_t lo, size_t root, size_t n);
};

// ------------------------------------------------------------ stable sort

// End of the run that starts at `start`. A run that begins with a strictly
// descending pair continues while strictly descending and is reversed, so
// equal records never change order.
size_t Sorter::natural_run(size_t start, size_t end) {
    size_t i = start + 1;
    if (i >= end) return end;
    if (less(i, start)) {
        while (i + 1 < end && less(i + 1, i)) i++;
        reverse(start, i + 1);
        return i + 1;
    }
    while (i + 1 < end && !less(i + 1, i)) i++;
    return i + 1;
}

size_t Sorter::extended_run(size_t start, size_t end) {
    size_t e = natural_run(start, end);
    if (e - start < MIN_RUN) {
        size_t want = std::min(start + MIN_RUN, end);
        insert_sorted(start, e, want);
        e = want;
    }
    return e;
}

// Merges the sorted [lo, mid) and [mid, hi) stably. The ends that are
// already in place are cut off first by binary search; the shorter of the
// rest goes to the merge buffer.
void Sorter::merge(size_t lo, size_t mid, size_t hi) {
    if (lo == mid || mid == hi || !less(mid, mid - 1)) return;
    // Records of the left run that the first right record does not sort
    // before stay where they are ...
    size_t a = lo, b = mid - 1;
    while (a < b) {
        size_t m = a + (b - a) / 2;
        if (less(mid, m)) b = m;
        else a = m + 1;
    }
    lo = a;
    // ... and so do the right records that do not sort before the last left one.
    a = mid + 1;
    b = hi;
    while (a < b) {
        size_t m = a + (b - a) / 2;
        if (less(m, mid - 1)) a = m + 1;
        else b = m;
    }
    hi = a;
    if (hi - mid < mid - lo) merge_high(lo, mid, hi);
    else merge_low(lo, mid, hi);
}

// The left run waits in the buffer; the hole [out, right) is as long as what
// is left of it, and is filled from it if a comparison throws.
void Sorter::merge_low(size_t lo, size_t mid, size_t hi) {
    size_t n = mid - lo;
    move_range(SPARE, lo, n);
    size_t i = 0, right = mid, out = lo;
    try {
        while (i < n && right < hi) {
            if (less(right, SPARE | i)) move(out++, right++);
            else move(out++, SPARE | i++);
        }
    } catch (...) {
        move_range(out, SPARE | i, n - i);
        throw;
    }
    move_range(out, SPARE | i, n - i);
}

// The right run waits in the buffer and the merge runs from the high end; the
// hole [left, out) holds what is left of the buffer.
void Sorter::merge_high(size_t lo, size_t mid, size_t hi) {
    size_t n = hi - mid;
    move_range(SPARE, mid, n);
    size_t k = n, left = mid, out = hi;
    try {
        while (k > 0 && left > lo) {
            if (less(SPARE | (k - 1), left - 1)) move(--out, --left);
            else move(--out, SPARE | --k);
        }
    } catch (...) {
        move_range(left, SPARE, k);
        throw;
    }
    move_range(left, SPARE, k);
}

// Runs are merged in the order of the power of their boundary: the position
// of the first bit in which the binary fractions of the two runs' midpoints
// differ. It keeps the merge tree balanced whatever the run lengths.
unsigned boundary_power(size_t s1, size_t e1, size_t e2, size_t n) {
    uint64_t a = uint64_t(s1) + e1, b = uint64_t(e1) + e2;
    unsigned p = 0;
    for (;;) {
        p++;
        bool ga = a >= n, gb = b >= n;
        if (ga != gb) return p;
        if (ga) {
            a -= n;
            b -= n;
        }
        a <<= 1;
        b <<= 1;
    }
}

void Sorter::stable(size_t n) {
    if (n < 2) return;
    s_.reserve_spare(n / 2);
    struct Entry {
        size_t start;
        unsigned power;
    };
    std::vector<Entry> runs;
    runs.reserve(bit_length(n) + 1);
    size_t left = 0, left_end = extended_run(0, n);
    while (left_end < n) {
        size_t right_end = extended_run(left_end, n);
        unsigned p = boundary_power(left, left_end, right_end, n);
        while (!runs.empty() && runs.back().power > p) {
            merge(runs.back().start, left, left_end);
            left = runs.back().start;
            runs.pop_back();
        }
        runs.push_back({left, p});
        left = left_end;
        left_end = right_end;
    }
    while (!runs.empty()) {
        merge(runs.back().start, left, left_end);
        left = runs.back().start;
        runs.pop_back();
    }
}

// ------------------------------------------------------------ unstable sort

// Grows the sorted prefix [0, p) by stretches in its direction found every
// 10 records, when their first record follows the prefix's last.
size_t Sorter::absorb_stretches(size_t p, int dir, size_t n) {
    auto in_order = [&](size_t x, size_t y) { return dir > 0 ? !less(y, x) : !less(x, y); };
    size_t pos = p;
    while (pos < n) {
        size_t a = pos, b = pos + 1;
        while (b < n && in_order(b - 1, b)) b++;
        while (a > p && in_order(a - 1, a)) a--;
        if (b - a >= 4 && in_order(p - 1, a)) {
            bring_to(p, a, b);
            p += b - a;
        }
        pos = std::max(b, pos + 10);
    }
    return p;
}

// Splits [u0, u1) by exchanges: the records for which goes_left holds first.
// Each record is asked about once; the scans stay inside the range whatever
// the answers.
template <class GoesLeft>
size_t Sorter::partition(size_t u0, size_t u1, GoesLeft goes_left) {
    size_t i = u0, j = u1;
    for (;;) {
        while (i < j && goes_left(i)) i++;
        while (i < j && !goes_left(j - 1)) j--;
        if (i + 1 >= j) return i;
        swap(i++, --j);
    }
}

void Sorter::sift_down(size_t lo, size_t root, size_t n) {
    for (;;) {
        size_t child = 2 * root + 1;
        if (child >= n) return;
        if (child + 1 < n && less(lo + child, lo + child + 1)) child++;
        if (!less(lo + root, lo + child)) return;
        swap(lo + root, lo + child);
        root = child;
    }
}

void Sorter::heap_sort(size_t lo, size_t hi) {
    size_t n = hi - lo;
    for (size_t i = n / 2; i-- > 0;) sift_down(lo, i, n);
    for (size_t end = n; end-- > 1;) {
        swap(lo, lo + end);
        sift_down(lo, 0, end);
    }
}

// Sorts [lo, hi). `sample` counts records already sorted among themselves:
// at the front when positive, at the end when negative. Unless `leftmost`,
// the record before lo is a pivot that no record of the range sorts before.
void Sorter::partition_sort(size_t lo, size_t hi, long long sample, bool leftmost, unsigned depth,
                            unsigned limit) {
    for (;; depth++) {
        stats_.max_depth = std::max(stats_.max_depth, depth);
        size_t n = hi - lo;
        size_t h = size_t(sample < 0 ? -sample : sample);
        if (h >= n) return;
        if (n <= SMALL_RANGE) {
            insert_sorted(lo, sample > 0 ? lo + h : lo + 1, hi);
            return;
        }
        if (depth >= limit) {
            stats_.heap_sorts++;
            heap_sort(lo, hi);
            return;
        }
        size_t pivot, upper = 0;
        if (h > 2) {
            if (sample < 0) {
                // the sample to the front
                if (h <= n - h) {
                    for (size_t k = 0; k < h; k++) swap(lo + k, hi - h + k);
                } else {
                    reverse(lo, hi - h);
                    reverse(hi - h, hi);
                    reverse(lo, hi);
                }
            }
            // A sample too small for the range is grown first: records spread
            // over the range join it and the span is sorted as a range of its own.
            while (h <= n / 256) {
                size_t span = std::min(n, 16 * h - 1);
                size_t step = n / span;
                for (size_t k = h; k < span; k++) swap(lo + k, lo + k * step);
                partition_sort(lo, lo + span, (long long)h, leftmost, depth + 1, limit);
                h = span;
                if (h >= n) return;
            }
            // The sample's middle is the pivot; its lower half stays in front
            // and its upper half moves to the end, neither to be compared again.
            pivot = lo + h / 2;
            upper = lo + h - pivot - 1;
            size_t from = pivot + 1, rest = hi - (lo + h);
            if (rest >= upper) {
                for (size_t k = 0; k < upper; k++) swap(from + k, hi - upper + k);
            } else {
                reverse(from, lo + h);
                reverse(lo + h, hi);
                reverse(from, hi);
            }
        } else {
            // The median of the first, middle and last records of the span.
            size_t span = n > 511 ? 63 : n;
            size_t a = lo, b = lo + span / 2, c = lo + span - 1;
            if (less(b, a)) swap(a, b);
            if (less(c, b)) {
                swap(b, c);
                if (less(b, a)) swap(a, b);
            }
            swap(lo, b);
            pivot = lo;
        }
        size_t u0 = pivot + 1, u1 = hi - upper;
        if (!leftmost && !less(lo - 1, pivot)) {
            // The pivot is as the one before the range: the records that do
            // not sort after it equal both and are done.
            size_t k = partition(u0, u1, [&](size_t x) { return !less(pivot, x); });
            lo = k;
            sample = -(long long)upper;
            continue;
        }
        size_t k = partition(u0, u1, [&](size_t x) { return less(x, pivot); });
        // The pivot goes between the two parts.
        swap(pivot, k - 1);
        size_t left_lo = lo, left_hi = k - 1, right_lo = k;
        long long left_sample = (long long)(pivot - lo), right_sample = -(long long)upper;
        if (left_hi - left_lo < hi - right_lo) {
            partition_sort(left_lo, left_hi, left_sample, leftmost, depth + 1, limit);
            lo = right_lo;
            sample = right_sample;
            leftmost = false;
        } else {
            partition_sort(right_lo, hi, right_sample, false, depth + 1, limit);
            hi = left_hi;
            sample = left_sample;
        }
    }
}

SortStats Sorter::unstable(size_t n) {
    if (n < 2) return stats_;
    // The sorted prefix: its direction is that of the first unequal pair,
    // and it runs while the pairs keep it (equal pairs included).
    int dir = 0;
    size_t i = 1;
    for (; i < n; i++) {
        if (less(i, i - 1)) {
            dir = -1;
            break;
        }
        if (less(i - 1, i)) {
            dir = 1;
            break;
        }
    }
    if (dir == 0) return stats_;
    size_t p = i + 1;
    if (dir > 0) {
        while (p < n && !less(p, p - 1)) p++;
    } else {
        while (p < n && !less(p - 1, p)) p++;
    }
    // How sorted the rest looks: one pair in 97.
    long long estimate = dir > 0 ? (long long)p : -(long long)p;
    for (size_t k = p + 97; k < n; k += 97) estimate += less(k, k - 1) ? -1 : 1;
    if ((unsigned long long)(estimate < 0 ? -estimate : estimate) > n / 512) {
        if ((estimate > 0) != (dir > 0)) {
            p = 1;
            dir = -dir;
        }
        p = absorb_stretches(p, dir, n);
    }
    if (dir < 0) reverse(0, p);
    return p < n ? partition_all(n, (long long)p) : stats_;
}

}  // namespace

void stable_sort_records(RecordStore& store, size_t count) { Sorter(store).stable(count); }

SortStats sort_records(RecordStore& store, size_t count) { return Sorter(store).unstable(count); }

SortStats partition_sort_records(RecordStore& store, size_t count, long long sample) {
    return Sorter(store).partition_all(count, sample);
}

void sort_distinct(std::vector<uint32_t>& numbers) {
    if (numbers.empty()) return;
    uint32_t top = *std::max_element(numbers.begin(), numbers.end());
    if (uint64_t(top) > 64 * uint64_t(numbers.size()) + 4096) {
        std::sort(numbers.begin(), numbers.end());
        return;
    }
    std::vector<uint64_t> seen(top / 64 + 1, 0);
    for (uint32_t n : numbers) seen[n >> 6] |= uint64_t(1) << (n & 63);
    size_t k = 0;
    for (size_t w = 0; w < seen.size(); w++)
        for (uint64_t bits = seen[w]; bits; bits &= bits - 1)
            numbers[k++] = uint32_t(w * 64 + size_t(__builtin_ctzll(bits)));
    numbers.resize(k);
}

}  // namespace vyx::records
