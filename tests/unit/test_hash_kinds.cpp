// The hash! and map! index kinds below the language: duplicate lists, their
// removal, growth of a hash! index, and word spellings of one map key.
#include <gtest/gtest.h>

#include <vector>

#include "interp_fixture.h"
#include "runtime/hash_index.h"

using namespace vyx;

namespace {

struct HashKindsTest : InterpTest {
    // The index of the hash! or map! the text evaluates to (kept in `h`).
    Node index_of(std::string_view text) {
        Cell v = eval(text);
        return v.data3;
    }
    static const uint32_t* words(Node n) { return reinterpret_cast<const uint32_t*>(node_buffer(n)->data()); }
    static uint32_t count(Node n) { return node_buffer(n)->tail / 4; }
    // The bucket a hash! position is entered in.
    static uint32_t bucket_of(Node index, uint32_t position) {
        return words(hash_index_header(index)->aux)[position];
    }
    static uint32_t flag_of(Node index, uint32_t bucket) {
        return (words(hash_index_header(index)->flags)[bucket >> 4] >> ((bucket & 15) * 2)) & 3;
    }
    // The positions a bucket stands for: its own, or its duplicate list's.
    static std::vector<uint32_t> positions(Node index, uint32_t bucket) {
        uint32_t slot = words(hash_index_header(index)->keys)[bucket];
        if (int32_t(slot) >= 0) return {slot};
        Node list = words(hash_index_header(index)->dup_lists)[uint32_t(-int32_t(slot)) - 1];
        return std::vector<uint32_t>(words(list), words(list) + count(list));
    }
};

}  // namespace

TEST_F(HashKindsTest, DuplicateListsAndTheirRemoval) {
    Node index = index_of("h: make hash! [1 2 1 2]");
    uint32_t one = bucket_of(index, 0);
    EXPECT_EQ(bucket_of(index, 2), one);
    EXPECT_EQ(positions(index, one), (std::vector<uint32_t>{0, 2}));
    EXPECT_EQ(hash_index_header(index)->size, 2u);

    // One of the 1s goes: a one-position list stays, the size with it.
    hash_index_remove(index, 0);
    EXPECT_EQ(positions(index, one), (std::vector<uint32_t>{2}));
    EXPECT_EQ(flag_of(index, one), BUCKET_OCCUPIED);
    EXPECT_EQ(hash_index_header(index)->size, 2u);

    // The other goes: the list is dropped and the bucket deleted.
    hash_index_remove(index, 2);
    EXPECT_EQ(flag_of(index, one), BUCKET_DELETED);
    EXPECT_EQ(hash_index_header(index)->size, 1u);
    EXPECT_EQ(bucket_of(index, 2), 0xFFFFFFFFu);
}

TEST_F(HashKindsTest, PositionsFollowChangesOfTheBlock) {
    // Inserting at the head renumbers every later entry, lists included.
    Node index = index_of("h: make hash! [5 6 5] insert h [7 7] h");
    EXPECT_EQ(positions(index, bucket_of(index, 2)), (std::vector<uint32_t>{2, 4}));
    EXPECT_EQ(positions(index, bucket_of(index, 0)), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(positions(index, bucket_of(index, 3)), (std::vector<uint32_t>{3}));
    eval("remove/part h 2");
    EXPECT_EQ(positions(index, bucket_of(index, 0)), (std::vector<uint32_t>{0, 2}));
    EXPECT_EQ(bucket_of(index, 3), 0xFFFFFFFFu);
}

TEST_F(HashKindsTest, FullEightBucketIndexIsRebuiltWithSixteen) {
    // Few live keys or many, an 8-bucket index at its bound takes 16 buckets.
    for (const char* fill : {"h: make hash! 3 repeat i 6 [append h i] remove/part h 5 h",
                             "h: make hash! 3 repeat i 5 [append h i] h"}) {
        Node index = index_of(fill);
        HashIndexHeader* hh = hash_index_header(index);
        ASSERT_EQ(hh->buckets, 8u) << fill;
        while (hash_index_header(index)->occupied < hash_index_header(index)->upper_bound) eval("append h 100 + length? h");
        eval("append h 1000");
        EXPECT_EQ(hash_index_header(index)->buckets, 16u) << fill;
        EXPECT_EQ(hash_index_header(index)->upper_bound, 12u) << fill;
        EXPECT_EQ(mold(eval("index? find h 1000")), mold(eval("length? h"))) << fill;
    }
}

TEST_F(HashKindsTest, WordAndSetWordAreOneMapKey) {
    Node index = index_of("m: make map! [a 1]");
    Cell set_word = eval("pick [a:] 1");
    EXPECT_EQ(map_index_find(index, &set_word, 0), 0);
    EXPECT_EQ(mold(eval("reduce [select m 'a select m pick [a:] 1 select m pick [:a] 1]")), "[1 1 1]");
    EXPECT_EQ(mold(eval("m/a: 2 extend m [a: 4] length? m")), "1");
}

// Strings equal but for case, or for the width their characters are stored
// in, hash alike: narrow text is hashed eight bytes at a time while it is
// ASCII, the rest character by character. Lengths about the word size, Latin-1
// letters, and letters whose other case is wide (ÿ, µ).
TEST_F(HashKindsTest, StringsEqualButForCaseOrWidthHashAlike) {
    auto hash_of = [&](const std::string& text, bool case_sensitive) {
        Cell v = eval(text);
        return hash_value(&v, case_sensitive);
    };
    // The text kept wide: its wide character is taken off again.
    auto wide = [](const std::string& s) { return "w: copy {" + s + "€} remove back tail w w"; };
    const std::string letters = "abcdefghijklmnopq";
    for (size_t n = 0; n <= letters.size(); n++) {
        std::string lower = letters.substr(0, n), upper = lower;
        for (char& c : upper) c = char(c - 32);
        uint32_t narrow = hash_of("{" + lower + "}", false);
        EXPECT_EQ(narrow, hash_of(wide(upper), false)) << lower;
        EXPECT_EQ(narrow, hash_of("{" + upper + "}", false)) << lower;
        EXPECT_EQ(hash_of("{" + lower + "}", true), hash_of(wide(lower), true)) << lower;
        if (n) {
            std::string other = lower;
            other.back() = 'z';
            EXPECT_NE(narrow, hash_of("{" + other + "}", false)) << lower;
        }
    }
    const char* alike[][2] = {{"abcdefghé", "ABCDEFGHÉ"}, {"Été", "éTÉ"}, {"ÿx", "Ÿx"}, {"µ", "Μ"}};
    for (auto& [a, b] : alike) {
        EXPECT_EQ(hash_of(std::string("{") + a + "}", false), hash_of(wide(b), false)) << a;
        EXPECT_EQ(hash_of(std::string("{") + a + "}", true), hash_of(wide(a), true)) << a;
    }
}
