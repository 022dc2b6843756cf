// The record sorters below the language: orders, comparison counts, and what
// a comparator that throws, lies or plays the adversary leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "runtime/sort.h"

using vyx::records::RecordStore;
using vyx::records::SPARE;

namespace {

// Records are two ints: a key and the record's input position.
struct Rec {
    int key;
    int pos;
};

struct VectorStore final : RecordStore {
    std::vector<Rec> items, spare;
    std::function<bool(const Rec&, const Rec&)> before = [](const Rec& a, const Rec& b) { return a.key < b.key; };
    size_t calls = 0;

    explicit VectorStore(const std::vector<int>& keys) : RecordStore(sizeof(Rec)) {
        for (size_t i = 0; i < keys.size(); i++) items.push_back({keys[i], int(i)});
    }
    uint8_t* address(size_t ref) override {
        Rec* r = ref & SPARE ? &spare.at(ref & ~SPARE) : &items.at(ref);
        return reinterpret_cast<uint8_t*>(r);
    }
    bool less(size_t x, size_t y) override {
        calls++;
        Rec a, b;
        std::memcpy(&a, address(x), sizeof a);
        std::memcpy(&b, address(y), sizeof b);
        return before(a, b);
    }
    void reserve_spare(size_t count) override { spare.assign(count, Rec{-1, -1}); }
    std::vector<int> positions() const {
        std::vector<int> p;
        for (const Rec& r : items) p.push_back(r.pos);
        std::sort(p.begin(), p.end());
        return p;
    }
};

std::vector<int> shape(const std::string& name, int n, std::mt19937& rng) {
    std::vector<int> v(size_t(n), 0);
    for (int i = 0; i < n; i++) {
        if (name == "random") v[size_t(i)] = int(rng() % 1000000);
        else if (name == "sorted") v[size_t(i)] = i;
        else if (name == "reversed") v[size_t(i)] = n - i;
        else if (name == "equal") v[size_t(i)] = 7;
        else if (name == "few") v[size_t(i)] = int(rng() % 4);
        else if (name == "pipe") v[size_t(i)] = i < n / 2 ? i : n - i;
        else if (name == "saw") v[size_t(i)] = i % 37;
        else if (name == "nearly") v[size_t(i)] = i;
        else if (name == "descending-runs") v[size_t(i)] = (i / 50) * 100 - i % 50;
    }
    if (name == "nearly" && n > 0)
        for (int k = 0; k < n / 50 + 1; k++) std::swap(v[rng() % size_t(n)], v[rng() % size_t(n)]);
    return v;
}

const char* const SHAPES[] = {"random", "sorted", "reversed", "equal", "few", "pipe", "saw", "nearly",
                              "descending-runs"};

void expect_sorted(const VectorStore& s, bool stable, const std::string& what) {
    for (size_t i = 1; i < s.items.size(); i++) {
        ASSERT_LE(s.items[i - 1].key, s.items[i].key) << what << " at " << i;
        if (stable && s.items[i - 1].key == s.items[i].key)
            ASSERT_LT(s.items[i - 1].pos, s.items[i].pos) << what << " at " << i;
    }
}

std::vector<int> iota(size_t n) {
    std::vector<int> p(n);
    for (size_t i = 0; i < n; i++) p[i] = int(i);
    return p;
}

}  // namespace

TEST(RecordSort, EveryShapeAndSize) {
    std::mt19937 rng(12345);
    for (int n : {0, 1, 2, 3, 7, 8, 23, 24, 25, 100, 511, 512, 1000, 5000, 30000}) {
        for (const char* name : SHAPES) {
            std::vector<int> keys = shape(name, n, rng);
            VectorStore a(keys), b(keys);
            vyx::records::stable_sort_records(a, keys.size());
            expect_sorted(a, true, std::string("stable ") + name + " " + std::to_string(n));
            vyx::records::sort_records(b, keys.size());
            expect_sorted(b, false, std::string("unstable ") + name + " " + std::to_string(n));
            EXPECT_EQ(b.positions(), iota(keys.size()));
            if (n < 2) EXPECT_EQ(a.calls + b.calls, 0u);
        }
    }
}

TEST(RecordSort, SortedAndReversedInputTakeAboutNComparisons) {
    std::mt19937 rng(1);
    const int n = 100000;
    for (const char* name : {"sorted", "reversed", "equal"}) {
        std::vector<int> keys = shape(name, n, rng);
        VectorStore a(keys), b(keys);
        vyx::records::stable_sort_records(a, keys.size());
        vyx::records::sort_records(b, keys.size());
        EXPECT_LE(a.calls, size_t(n)) << name;
        // The unstable sort asks both ways about equal pairs.
        EXPECT_LE(b.calls, size_t(2 * n)) << name;
    }
}

TEST(RecordSort, RandomInputComparisonsNearTheBound) {
    std::mt19937 rng(2);
    const int n = 100000;  // log2 n is about 16.6
    std::vector<int> keys = shape("random", n, rng);
    VectorStore a(keys), b(keys);
    vyx::records::stable_sort_records(a, keys.size());
    vyx::records::sort_records(b, keys.size());
    EXPECT_LT(a.calls, size_t(n * 17));
    EXPECT_LT(b.calls, size_t(n * 21));
}

// Whatever comparison throws, every record is still there exactly once.
TEST(RecordSort, ThrowingComparatorLosesNothing) {
    std::mt19937 rng(3);
    for (int n : {50, 200}) {
        for (const char* name : {"random", "few", "pipe", "descending-runs"}) {
            std::vector<int> keys = shape(name, n, rng);
            for (int stable = 0; stable < 2; stable++) {
                VectorStore probe(keys);
                if (stable) vyx::records::stable_sort_records(probe, keys.size());
                else vyx::records::sort_records(probe, keys.size());
                for (size_t k = 1; k <= probe.calls; k++) {
                    VectorStore s(keys);
                    size_t seen = 0;
                    s.before = [&](const Rec& a, const Rec& b) {
                        if (++seen == k) throw 1;
                        return a.key < b.key;
                    };
                    EXPECT_THROW(stable ? vyx::records::stable_sort_records(s, keys.size())
                                        : (void)vyx::records::sort_records(s, keys.size()),
                                 int);
                    ASSERT_EQ(s.positions(), iota(keys.size())) << name << " n=" << n << " k=" << k;
                }
            }
        }
    }
}

// A comparator that answers at random ends with a permutation.
TEST(RecordSort, InconsistentComparatorGivesAPermutation) {
    std::mt19937 rng(4);
    for (int n : {2, 5, 8, 30, 600, 20000}) {
        for (int stable = 0; stable < 2; stable++) {
            VectorStore s(shape("random", n, rng));
            s.before = [&](const Rec&, const Rec&) { return rng() & 1; };
            if (stable) vyx::records::stable_sort_records(s, size_t(n));
            else vyx::records::sort_records(s, size_t(n));
            EXPECT_EQ(s.positions(), iota(size_t(n)));
        }
    }
}

// The adversary decides each answer as late as possible, which drives a
// partition step to its worst case: the depth bound and heap sort keep it
// within n log n comparisons and a shallow stack. The input it leaves behind
// is a killer for the partition step, which the whole sort must handle too.
TEST(RecordSort, AdversaryCannotMakeItQuadratic) {
    const int n = 200000;
    std::vector<int> val(size_t(n), n);  // n: not yet decided ("gas")
    int solid = 0, candidate = -1;
    VectorStore s(iota(size_t(n)));
    s.before = [&](const Rec& x, const Rec& y) {
        int a = x.key, b = y.key;
        if (val[size_t(a)] == n && val[size_t(b)] == n) val[size_t(a == candidate ? a : b)] = solid++;
        if (val[size_t(a)] == n) candidate = a;
        else if (val[size_t(b)] == n) candidate = b;
        return val[size_t(a)] < val[size_t(b)];
    };
    vyx::records::SortStats st = vyx::records::partition_sort_records(s, size_t(n), 0);
    EXPECT_LE(st.max_depth, 2u * 18u);
    EXPECT_GT(st.heap_sorts, 0u);
    EXPECT_LT(s.calls, size_t(n) * 100);
    for (size_t i = 1; i < s.items.size(); i++)
        ASSERT_LE(val[size_t(s.items[i - 1].key)], val[size_t(s.items[i].key)]);

    // About 5 n log2 n at worst: the bad levels, then heap sort.
    // The same input once more, now with fixed keys, through the whole sort.
    VectorStore again(val);
    st = vyx::records::sort_records(again, size_t(n));
    expect_sorted(again, false, "killer");
    EXPECT_LE(st.max_depth, 2u * 18u);
    EXPECT_LT(again.calls, size_t(n) * 100);
}

// Distinct numbers come out ascending whether their range is dense (the
// bitmap) or sparse (the sort), including the ends of the 32-bit range.
TEST(SortDistinct, DenseAndSparse) {
    std::mt19937 rng(7);
    for (uint32_t spread : {1u, 3u, 200u, 1000000u}) {
        std::vector<uint32_t> v;
        for (uint32_t i = 0; i < 5000; i++) v.push_back(i * spread);
        std::shuffle(v.begin(), v.end(), rng);
        std::vector<uint32_t> want = v;
        std::sort(want.begin(), want.end());
        vyx::records::sort_distinct(v);
        EXPECT_EQ(v, want) << "spread " << spread;
    }
    std::vector<uint32_t> ends{0xFFFFFFFFu, 0, 4096, 63, 64};
    vyx::records::sort_distinct(ends);
    EXPECT_EQ(ends, (std::vector<uint32_t>{0, 63, 64, 4096, 0xFFFFFFFFu}));
    std::vector<uint32_t> none;
    vyx::records::sort_distinct(none);
    EXPECT_TRUE(none.empty());
}
