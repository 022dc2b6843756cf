// VYXBIN below the language: the LZ block decoder on hand-made streams, the
// boot mode of the compact reader on hand-made blobs, and the values that
// have no record.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/binary.h"
#include "evaluator/helpers.h"
#include "interp_fixture.h"
#include "io/lz_block.h"
#include "io/vyxbin.h"
#include "runtime/collector.h"
#include "runtime_fixture.h"
#include "series_test_util.h"

using namespace vyx;
using namespace vyx::test;

namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes& b, uint32_t v) {
    for (int k = 0; k < 4; k++) b.push_back(uint8_t(v >> (8 * k)));
}

// A bit stream, least significant bit first.
struct Bits {
    Bytes out;
    uint32_t acc = 0, count = 0;
    void put(uint32_t v, uint32_t k) {
        for (uint32_t i = 0; i < k; i++) {
            acc |= ((v >> i) & 1) << count;
            if (++count == 8) out.push_back(uint8_t(acc)), acc = count = 0;
        }
    }
    void literal(uint8_t b) { put(0, 1), put(b, 8); }
    // A match of n + 3 bytes, n below 4 or the longest (prefix 00000, 9 bits);
    // distance code x (j = x + 2) and its extra bits.
    void match(uint32_t n, uint32_t x, uint32_t extra) {
        put(1, 1);
        if (n < 4) put(1, 1), put(n, 2);
        else put(0, 5), put(n - 52, 9);
        put(x, 4), put(extra, x == 0 ? 3 : x + 2);
    }
    Bytes done() {
        if (count) out.push_back(uint8_t(acc));
        acc = count = 0;
        return out;
    }
};

// A stream of blocks (length, bit stream), U given.
Bytes stream(const std::vector<std::pair<uint32_t, Bytes>>& blocks, uint32_t unpacked) {
    Bytes body;
    for (auto& [length, bits] : blocks) put32(body, length), body.insert(body.end(), bits.begin(), bits.end());
    Bytes s;
    put32(s, uint32_t(body.size()));
    put32(s, unpacked);
    s.insert(s.end(), body.begin(), body.end());
    return s;
}

bool unpack(const Bytes& s, std::string& out) {
    Bytes o;
    bool ok = lz::decompress(s.data(), s.size(), o);
    out.assign(o.begin(), o.end());
    return ok;
}

}  // namespace

TEST(LzBlock, HandMadeStreams) {
    std::string out;
    // One literal "A"; then four A: a literal and a 3-byte match at distance 1.
    EXPECT_TRUE(unpack({6, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x82, 0x00}, out));
    EXPECT_EQ(out, "A");
    EXPECT_TRUE(unpack({7, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 0x82, 0x06, 0x00}, out));
    EXPECT_EQ(out, "AAAA");
    // S = 0: nothing to unpack.
    EXPECT_TRUE(unpack({0, 0, 0, 0, 0, 0, 0, 0}, out));
    EXPECT_EQ(out, "");
    // The longest match: 566 bytes from distance 1.
    Bits b;
    b.literal('z');
    b.match(563, 0, 0);
    EXPECT_TRUE(unpack(stream({{567, b.done()}}, 567), out));
    EXPECT_EQ(out, std::string(567, 'z'));
    // Two blocks, each on its own; the second ends where its bits end.
    Bits b1, b2;
    b1.literal('x'), b1.literal('y');
    b2.literal('q');
    EXPECT_TRUE(unpack(stream({{2, b1.done()}, {1, b2.done()}}, 3), out));
    EXPECT_EQ(out, "xyq");
}

TEST(LzBlock, CorruptStreamsFail) {
    std::string out;
    Bits one;
    one.literal('a');
    Bytes lit = one.done();
    // Block lengths 0 and 0x100001.
    EXPECT_FALSE(unpack(stream({{0, lit}}, 1), out));
    EXPECT_FALSE(unpack(stream({{0x100001, lit}}, 0x100001), out));
    // A match reaching before its block, even after an earlier block.
    Bits m;
    m.literal('a'), m.match(0, 0, 1);
    EXPECT_FALSE(unpack(stream({{2, lit}, {4, m.done()}}, 6), out));
    // A match past the block's end.
    Bits past;
    past.literal('a'), past.match(3, 0, 0);
    EXPECT_FALSE(unpack(stream({{4, past.done()}}, 4), out));
    // Output beyond U + 8.
    Bits many;
    for (int i = 0; i < 12; i++) many.literal('a');
    EXPECT_FALSE(unpack(stream({{12, many.done()}}, 3), out));
    // Every truncation of a good stream fails or gives the same bytes.
    Bits t;
    for (char c : std::string("truncate me")) t.literal(uint8_t(c));
    Bytes good = stream({{11, t.done()}}, 11);
    for (size_t n = 0; n < good.size(); n++) {
        Bytes cut(good.begin(), good.begin() + long(n));
        EXPECT_FALSE(unpack(cut, out)) << n;
    }
    // A stated size the block area could never expand to, or of 2^31 - 8.
    EXPECT_FALSE(unpack({2, 0, 0, 0, 0xFF, 0xFF, 0, 0, 1, 0}, out));
    EXPECT_FALSE(unpack({2, 0, 0, 0, 0xF8, 0xFF, 0xFF, 0x7F, 1, 0}, out));
}

// ---- boot mode: hand-made compact blobs decoded into the root block.

namespace {

struct Blob {
    Bytes symbols;  // names, NUL after each
    std::vector<uint32_t> offsets;
    Bytes records;
    uint32_t roots = 1;

    uint8_t name(const char* n) {
        offsets.push_back(uint32_t(symbols.size()));
        symbols.insert(symbols.end(), n, n + std::strlen(n) + 1);
        return uint8_t(offsets.size() - 1);
    }
    Bytes bytes() const {
        Bytes b = {'V', 'Y', 'X', 'B', 'I', 'N', 1, uint8_t(symbols.empty() ? 1 : 5), uint8_t(roots),
                   uint8_t(records.size())};
        if (!symbols.empty()) {
            b.push_back(uint8_t(offsets.size()));
            b.push_back(uint8_t(symbols.size()));
            for (uint32_t o : offsets) put32(b, o);
            b.insert(b.end(), symbols.begin(), symbols.end());
        }
        b.insert(b.end(), records.begin(), records.end());
        return b;
    }
};

uint32_t root_size() { return blk::size(root_block.data2); }
Cell root_at(uint32_t i) { return *blk::at(root_block.data2, i); }

}  // namespace

TEST_F(RuntimeTest, BootSetPairsLeaveNoLiteral) {
    Blob blob;
    uint8_t foo = blob.name("boot-foo");
    // literal 7; boot-foo: 5; literal "x".
    blob.records = {0x87, 0xC4, 0x0F, foo, 0x85, 0x07, 0x04, 'x'};
    Bytes data = blob.bytes();
    uint32_t before = root_size();
    vyxbin::load_boot(data.data(), data.size(), false);
    EXPECT_EQ(vyxbin::literal_base, before);
    ASSERT_EQ(root_size(), before + 2);
    EXPECT_EQ(int32_t(root_at(before).data2), 7);
    EXPECT_EQ(mold(root_at(before + 1)), "\"x\"");
    Cell w = word::load("boot-foo");
    EXPECT_EQ(mold(*context::get(&w)), "5");
    EXPECT_TRUE(vyxbin::codec == true);
}

TEST_F(RuntimeTest, BootFlaggedWordsBindToRootsOfThisLoad) {
    Blob blob;
    uint8_t a = blob.name("a"), b = blob.name("b");
    // root 0: an object of a: 1 b: 2 (a context record with values); root 1:
    // a flagged word b bound to root 0 with its index looked up (-1); root 2:
    // a reference path [0] to root 0 of this load.
    blob.records = {0x0E, 0x12, 0x02, a, b, 0x81, 0x82, 0x4F, b, 0x00, 0x01, 0xFF, 0x01, 0x00};
    // The keep-base flag restores the base in force before the load.
    vyxbin::literal_base = 12345;
    Bytes data = blob.bytes();
    uint32_t before = root_size();
    vyxbin::load_boot(data.data(), data.size(), true);
    EXPECT_EQ(vyxbin::literal_base, 12345u);
    ASSERT_EQ(root_size(), before + 3);
    Cell obj = root_at(before), word_b = root_at(before + 1), copy = root_at(before + 2);
    EXPECT_EQ(type_of(&obj), TYPE_OBJECT);
    EXPECT_EQ(word::ctx_of(&word_b), obj.data1);
    EXPECT_EQ(mold(*context::get(&word_b)), "2");
    EXPECT_EQ(copy.data1, obj.data1);
    // Root 3 of this load does not exist: malformed.
    Blob bad;
    uint8_t x = bad.name("x");
    bad.records = {0x4F, x, 0x03, 0x01};
    data = bad.bytes();
    EXPECT_RAISES(vyxbin::load_boot(data.data(), data.size(), false), err::script_vb_invalid_record);
}

TEST_F(RuntimeTest, SetPairIsRefusedThroughTheCodec) {
    Blob blob;
    uint8_t foo = blob.name("foo");
    blob.records = {0xC4, 0x0F, foo, 0x85};
    Bytes data = blob.bytes();
    collector::Rooted<1> target;
    blk::make_at(&target[0], 1);
    EXPECT_RAISES(vyxbin::decode(data.data(), data.size(), &target[0], true), err::script_vb_invalid_record);
}

TEST_F(RuntimeTest, BadBootDataEndsTheProcess) {
    Bytes not_vyxbin = {'N', 'O', 'T', 'V', 'Y', 'X', 1, 1, 1, 1, 0x81};
    Bytes corrupt = {'V', 'Y', 'X', 'B', 'I', 'N', 1, 3, 9, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EXIT(
        {
            dup2(2, 1);
            vyxbin::load_boot(not_vyxbin.data(), not_vyxbin.size(), false);
        },
        ::testing::ExitedWithCode(1), "^Error: Not a Vyxbin file!\n$");
    EXPECT_EXIT(
        {
            dup2(2, 1);
            vyxbin::load_boot(corrupt.data(), corrupt.size(), false);
        },
        ::testing::ExitedWithCode(1), "^Error: Vyxbin compressed data corrupted!\n$");
}

TEST_F(RuntimeTest, PackedPayloadErrorsCountUnpackedPositions) {
    // "VYXBIN" 02 03, then packed: root count 1, size 1, the bad byte C5.
    Bits b;
    for (uint8_t c : {0x01, 0x01, 0xC5}) b.literal(c);
    Bytes s = stream({{3, b.done()}}, 3);
    Bytes data = {'V', 'Y', 'X', 'B', 'I', 'N', 2, 3};
    data.insert(data.end(), s.begin(), s.end());
    collector::Rooted<1> target;
    blk::make_at(&target[0], 1);
    try {
        vyxbin::decode(data.data(), data.size(), &target[0], true);
        FAIL() << "decoded";
    } catch (const VyxError& e) {
        EXPECT_TRUE(same_id(e.id, err::script_vb_invalid_record));
        EXPECT_EQ(int32_t(e.args[0].data2), 11);
    }
}

TEST_F(RuntimeTest, ValuesWithoutARecordAreNoCodec) {
    collector::Rooted<2> r;
    Cell ctx = *context::cell_of(context::global);
    Cell sym = *symbol::record(symbol::make("abc"));
    Cell series{TYPE_SERIES, 0, 0, 0};
    Cell handle{TYPE_HANDLE, 1, 7, 0xFFFFFFFF};
    Cell triple{TYPE_TRIPLE, 1, 2, 3};
    for (Cell c : {ctx, sym, series, handle, triple}) {
        for (bool compact : {true, false}) EXPECT_RAISES(vyxbin::encode(&c, compact, &r[0]), err::access_no_codec);
        // Inside a block too: writing nothing would misalign the counts.
        Cell b = test::block_of({int_(1), c});
        EXPECT_RAISES(vyxbin::encode(&b, true, &r[0]), err::access_no_codec);
    }
}

// ---- the boot writer, read back by the boot load

namespace {
// The boot data the writer made, as bytes (the binary kept in the root block).
std::vector<uint8_t> finished(vyxbin::BootWriter& boot) {
    Cell data;
    boot.finish(&data);
    blk::append(&root_block, &data);
    return std::vector<uint8_t>(binary::rs_head(&data), binary::rs_head(&data) + binary::rs_length(&data));
}
}  // namespace

TEST_F(InterpTest, BootWriterLiteralsAndSetPairs) {
    eval("o: make object! [a: 1 f: func [x] [x + a]]  shared: [1 2]");
    collector::Rooted<6> r;
    r[4] = eval("'boot-twice");
    r[5] = eval("func [y] [y * 2]");
    r[0] = eval("o");
    r[1] = eval("reduce [shared shared]");
    r[2] = eval("in o 'a");
    r[3] = eval("'boot-answer");
    vyxbin::BootWriter boot;
    EXPECT_EQ(boot.literal(&r[0]), 0u);
    Cell answer = int_(42), five = int_(5);
    boot.set(&r[3], &answer);
    EXPECT_EQ(boot.literal(&r[1]), 1u);
    // A field of literal 0: set on the loaded object, not on o; the object's
    // function finds its own arguments through a path to itself.
    boot.set(&r[2], &five);
    // A function set by a pair: its words reach its context by a path.
    boot.set(&r[4], &r[5]);
    std::vector<uint8_t> bytes = finished(boot);
    EXPECT_EQ(bytes[6], 1);
    EXPECT_EQ(bytes[7], 5);
    uint32_t before = blk::size(root_block.data2);
    vyxbin::load_boot(bytes.data(), bytes.size(), false);
    ASSERT_EQ(blk::size(root_block.data2), before + 2);
    EXPECT_EQ(vyxbin::literal_base, before);
    Cell loaded = *blk::at(root_block.data2, before);
    Cell pair = *blk::at(root_block.data2, before + 1);
    Cell w = word::load("loaded");
    context::set(&w, &loaded);
    w = word::load("pair");
    context::set(&w, &pair);
    EXPECT_EQ(mold(eval("reduce [boot-answer loaded/a o/a loaded/f 10 same? pick pair 1 pick pair 2]")),
              "[42 5 1 15 true]");
    EXPECT_EQ(mold(eval("boot-twice 4")), "8");
}

TEST_F(InterpTest, BootSetPairsOfNativesAndActions) {
    // Reading a native's or an action's spec makes words: none of them may
    // come between the roots of the load (the literal after the pairs is
    // still literal 0).
    collector::Rooted<5> r;
    r[0] = eval("'boot-append");
    r[1] = eval(":append");
    r[2] = eval("'boot-print");
    r[3] = eval(":print");
    r[4] = eval("[after the pairs]");
    vyxbin::BootWriter boot;
    boot.set(&r[0], &r[1]);
    boot.set(&r[2], &r[3]);
    EXPECT_EQ(boot.literal(&r[4]), 0u);
    std::vector<uint8_t> bytes = finished(boot);
    uint32_t before = blk::size(root_block.data2);
    vyxbin::load_boot(bytes.data(), bytes.size(), false);
    ASSERT_EQ(blk::size(root_block.data2), before + 1);
    EXPECT_EQ(mold(*blk::at(root_block.data2, before)), "[after the pairs]");
    EXPECT_EQ(mold(eval("b: copy [] boot-append b 1 reduce [type? :boot-append type? :boot-print b]")),
              "[action! native! [1]]");
}

TEST_F(RuntimeTest, FixedBootWordsAndSetPairs) {
    // Fixed form, boot mode: literal 7; a set-pair word (bit 25) global
    // (selector -1) set to 5; a word bound to the context of root 0 of this
    // load, which is no context: malformed.
    Bytes data = {'V', 'Y', 'X', 'B', 'I', 'N', 1, 4};
    put32(data, 2);
    put32(data, 32);
    put32(data, 1);  // one symbol
    put32(data, 16);
    put32(data, 0);
    for (char c : std::string("boot-fixed")) data.push_back(uint8_t(c));
    data.resize(data.size() + 6, 0);
    for (uint32_t w : {0x0Bu, 7u, 0x0Fu | 1u << 25, 0u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0x0Bu, 5u}) put32(data, w);
    uint32_t before = root_size();
    vyxbin::load_boot(data.data(), data.size(), false);
    ASSERT_EQ(root_size(), before + 1);
    EXPECT_EQ(int32_t(root_at(before).data2), 7);
    Cell w = word::load("boot-fixed");
    EXPECT_EQ(mold(*context::get(&w)), "5");
    Bytes bad = data;
    for (size_t k = bad.size() - 16; k < bad.size() - 12; k++) bad[k] = 0;  // selector 0: an integer
    EXPECT_RAISES(vyxbin::load_boot(bad.data(), bad.size(), false), err::script_vb_invalid_record);
}
