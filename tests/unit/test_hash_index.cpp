// MurmurHash3 against published vectors, and the hash index's sizing, growth,
// deleted-bucket reuse and record tables.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/hash_index.h"
#include "runtime/murmur3.h"
#include "runtime_fixture.h"

using namespace vyx;

namespace {

std::string from_hex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

struct Vector {
    std::string input_hex;
    uint32_t seed, hash;
};

}  // namespace

TEST(Murmur3, PublishedVectors) {
    const Vector vectors[] = {
        {"", 0x00000000u, 0x00000000u},
        {"", 0x00000001u, 0x514E28B7u},
        {"", 0xFFFFFFFFu, 0x81F16F39u},
        {"00000000", 0x00000000u, 0x2362F9DEu},
        {"ffffffff", 0x00000000u, 0x76293B50u},
        {"21436587", 0x00000000u, 0xF55B516Bu},
        {"21436587", 0x5082EDEEu, 0x2362F9DEu},
        {"214365", 0x00000000u, 0x7E4A8634u},
        {"2143", 0x00000000u, 0xA0F7B07Au},
        {"21", 0x00000000u, 0x72661CF4u},
        {"61616161", 0x9747B28Cu, 0x5A97808Au},
        {"616161", 0x9747B28Cu, 0x283E0130u},
        {"6161", 0x9747B28Cu, 0x5D211726u},
        {"61", 0x9747B28Cu, 0x7FA09EA6u},
        {"61626364", 0x9747B28Cu, 0xF0478627u},
        {"616263", 0x9747B28Cu, 0xC84A62DDu},
        {"6162", 0x9747B28Cu, 0x74875592u},
        {"48656c6c6f2c20776f726c6421", 0x9747B28Cu, 0x24884CBAu},
        {"cf80cf80cf80cf80cf80cf80cf80cf80", 0x9747B28Cu, 0xD58063C1u},
        {"616263", 0x00000000u, 0xB3DD93FAu},
        {"6162636462636465636465666465666765666768666768696768696a68696a6b696a6b6c6a6b6c6d6b6c6d6e6c6d6e6f6d6e6f706e6f7071",
         0x00000000u, 0xEE925B90u},
        {"54686520717569636b2062726f776e20666f78206a756d7073206f76657220746865206c617a7920646f67", 0x9747B28Cu,
         0x2FA826CDu},
        {"48656c6c6f2c20776f726c6421", 0x000004D2u, 0xFAF6CDB3u},
    };
    for (const Vector& v : vectors) {
        std::string bytes = from_hex(v.input_hex);
        EXPECT_EQ(murmur3_x86_32(bytes.data(), bytes.size(), v.seed), v.hash) << v.input_hex << " seed " << v.seed;
    }
    std::string a256(256, 'a');
    EXPECT_EQ(murmur3_x86_32(a256.data(), a256.size(), 0x9747B28Cu), 0x37405BDCu);
}

// The self-test value covers every length 0..255 and both tail paths.
TEST(Murmur3, SmhasherVerificationValue) {
    uint8_t key[256];
    uint8_t hashes[1024];
    for (int i = 0; i < 256; i++) key[i] = uint8_t(i);
    for (int len = 0; len < 256; len++) {
        uint32_t h = murmur3_x86_32(key, size_t(len), uint32_t(256 - len));
        for (int b = 0; b < 4; b++) hashes[len * 4 + b] = uint8_t(h >> (8 * b));
    }
    EXPECT_EQ(murmur3_x86_32(hashes, sizeof hashes, 0), 0xB0F57EE3u);
}

TEST(Murmur3, AsciiLowerFoldsOnlyAsciiLetters) {
    const std::string upper = "Hello-WORLD_\xC3\x89";
    const std::string lower = "hello-world_\xC3\x89";
    EXPECT_EQ(murmur3_x86_32_ascii_lower(upper.data(), upper.size(), 7), murmur3_x86_32(lower.data(), lower.size(), 7));
    const std::string e_acute_lower = "\xC3\xA9";  // é: not folded to É
    EXPECT_NE(murmur3_x86_32_ascii_lower(e_acute_lower.data(), 2, 7), murmur3_x86_32_ascii_lower("\xC3\x89", 2, 7));
}

TEST(HashIndexSizing, BucketCounts) {
    EXPECT_EQ(hash_index_bucket_count(0), 8u);
    EXPECT_EQ(hash_index_bucket_count(3), 8u);
    EXPECT_EQ(hash_index_bucket_count(100), 256u);
    EXPECT_EQ(next_power_of_two(5), 8u);
    EXPECT_EQ(next_power_of_two(8), 8u);
    EXPECT_EQ(next_power_of_two(9), 16u);
}

struct HashIndexTest : RuntimeTest {
    // Indexes made here are kept in the root block, out of the collector's reach.
    static Node make(uint32_t count, uint32_t kind, uint32_t extra) {
        Node index = make_hash_index(count, 0, kind, extra);
        Cell holder{TYPE_HASH, 0, 0, index};
        context::keep_in_root(&holder);
        return index;
    }
};

TEST_F(HashIndexTest, NewTablesHaveThePublishedUpperBounds) {
    Node small = make(3, HASH_KIND_RECORDS, 1);
    EXPECT_EQ(hash_index_header(small)->buckets, 8u);
    EXPECT_EQ(hash_index_header(small)->upper_bound, 6u);
    Node big = make(100, HASH_KIND_RECORDS, 1);
    EXPECT_EQ(hash_index_header(big)->buckets, 256u);
    EXPECT_EQ(hash_index_header(big)->upper_bound, 197u);
    // The symbol-table kind doubles large requests.
    Node names = make(4000, HASH_KIND_CELLS, 0);
    EXPECT_EQ(hash_index_header(names)->buckets, 16384u);
}

TEST_F(HashIndexTest, RecordTablePutGetDelete) {
    Node index = make(3, HASH_KIND_RECORDS, 2);
    EXPECT_EQ(hash_index_header(index)->aux, 48u);
    Cell* r = hash_index_put_key(index, 1234);
    r->header = TYPE_INTEGER;
    r->data2 = 99;
    EXPECT_EQ(hash_index_put_key(index, 1234)->data2, 99u) << "putting an existing key returns its record";
    EXPECT_EQ(hash_index_header(index)->size, 1u);
    ASSERT_NE(hash_index_get_key(index, 1234), nullptr);
    EXPECT_EQ(hash_index_get_key(index, 1234)->data2, 99u);
    EXPECT_EQ(hash_index_get_key(index, 4321), nullptr);
    EXPECT_NE(hash_index_delete_key(index, 1234), nullptr);
    EXPECT_EQ(hash_index_get_key(index, 1234), nullptr);
    EXPECT_EQ(hash_index_delete_key(index, 1234), nullptr);
    EXPECT_EQ(hash_index_header(index)->size, 0u);
    EXPECT_EQ(hash_index_header(index)->occupied, 1u);
}

TEST_F(HashIndexTest, DeletedBucketIsReusedByAnotherKey) {
    Node index = make(3, HASH_KIND_RECORDS, 1);
    const uint32_t mask = hash_index_header(index)->buckets - 1;
    const uint32_t first = 1000;
    // Another key whose chain starts in the same bucket.
    uint32_t other = first + 1;
    while ((hash_pointer(other) & mask) != (hash_pointer(first) & mask)) other++;
    hash_index_put_key(index, first);
    hash_index_delete_key(index, first);
    EXPECT_EQ(hash_index_header(index)->occupied, 1u);
    hash_index_put_key(index, other);
    EXPECT_EQ(hash_index_header(index)->occupied, 1u) << "the deleted bucket was taken again";
    EXPECT_EQ(hash_index_header(index)->size, 1u);
    EXPECT_NE(hash_index_get_key(index, other), nullptr);
    EXPECT_EQ(hash_index_get_key(index, first), nullptr);
}

TEST_F(HashIndexTest, GrowthAndSweepOfDeletedBuckets) {
    Node index = make(3, HASH_KIND_RECORDS, 1);
    // Reaching the bound with many live keys doubles the table.
    for (uint32_t k = 1; k <= 6; k++) hash_index_put_key(index, k);
    EXPECT_EQ(hash_index_header(index)->buckets, 8u);
    hash_index_put_key(index, 7);
    EXPECT_EQ(hash_index_header(index)->buckets, 16u);
    EXPECT_EQ(hash_index_header(index)->upper_bound, 12u);  // 16 x 0.77 + 0.5
    for (uint32_t k = 1; k <= 7; k++) EXPECT_NE(hash_index_get_key(index, k), nullptr) << k;

    // Churn with few live keys keeps the size and only clears deleted buckets.
    Node churn = make(3, HASH_KIND_RECORDS, 1);
    for (uint32_t k = 1; k <= 200; k++) {
        hash_index_put_key(churn, k);
        hash_index_delete_key(churn, k);
    }
    EXPECT_EQ(hash_index_header(churn)->buckets, 8u);
    EXPECT_LT(hash_index_header(churn)->occupied, 7u);
}

TEST_F(HashIndexTest, DeadOwnersAreDropped) {
    // Records of three cells: key, user cell, owner context in the third.
    Node index = make(8, HASH_KIND_OWNERSHIP, 2);
    for (uint32_t k = 1; k <= 4; k++) {
        Cell* second = hash_index_put_key(index, k);
        second[1].data1 = 100 + k;  // owner
    }
    // Alive: keys 1 and 2 with their owners; key 3's owner is dead; key 4 is dead.
    static const std::vector<Node> marked = {1, 2, 3, 101, 102, 104};
    hash_index_delete_dead_owners(index, [](Node n) {
        return std::find(marked.begin(), marked.end(), n) != marked.end();
    });
    EXPECT_NE(hash_index_get_key(index, 1), nullptr);
    EXPECT_NE(hash_index_get_key(index, 2), nullptr);
    EXPECT_EQ(hash_index_get_key(index, 3), nullptr);
    EXPECT_EQ(hash_index_get_key(index, 4), nullptr);
    EXPECT_EQ(hash_index_header(index)->size, 2u);
}

TEST_F(HashIndexTest, ClearAndCopy) {
    Node index = make(8, HASH_KIND_RECORDS, 1);
    for (uint32_t k = 1; k <= 5; k++) hash_index_put_key(index, k)->data2 = k * 10;
    Node block_copy = duplicate_series(node_buffer(hash_index_header(index)->block));
    Cell block_holder{TYPE_BLOCK, 0, block_copy, 0};
    context::keep_in_root(&block_holder);
    Node copy = copy_hash_index(index, block_copy);
    Cell copy_holder{TYPE_HASH, 0, 0, copy};
    context::keep_in_root(&copy_holder);
    clear_hash_index(index);
    EXPECT_EQ(hash_index_get_key(index, 3), nullptr);
    EXPECT_EQ(hash_index_header(index)->size, 0u);
    ASSERT_NE(hash_index_get_key(copy, 3), nullptr);
    EXPECT_EQ(hash_index_get_key(copy, 3)->data2, 30u);
}

// Interning through the symbol index agrees with a shadow map across many
// growths: every name gets one id, found again by every later lookup.
TEST_F(HashIndexTest, MillionInternsAgreeWithShadowMap) {
    std::mt19937 rng(12345);
    std::unordered_map<std::string, int32_t> shadow;
    std::vector<std::string> names;
    const uint32_t buckets_before = hash_index_header(symbol::index())->buckets;
    char buf[32];
    // A stress build collects at every allocation: fewer names keep it to seconds.
    const int count = collector::active && collector::stress_every ? 5000 : 1000000;
    for (int i = 0; i < count; i++) {
        // Mostly new names, with repeats and case variants mixed in.
        uint32_t r = rng();
        std::string name;
        if (!names.empty() && (r & 7) == 0) {
            name = names[rng() % names.size()];
        } else {
            std::snprintf(buf, sizeof buf, "n%x-%u", uint32_t(rng()), uint32_t(i));
            name = buf;
            names.push_back(name);
        }
        int32_t id = symbol::make(name);
        auto [it, inserted] = shadow.emplace(name, id);
        ASSERT_EQ(it->second, id) << name;
    }
    if (count == 1000000) {
        EXPECT_GT(hash_index_header(symbol::index())->buckets, buckets_before * 32);
    }
    for (const auto& [name, id] : shadow) ASSERT_EQ(symbol::make(name), id);
    EXPECT_EQ(hash_index_header(symbol::index())->size, symbol::count());
}
