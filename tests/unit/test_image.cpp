// The life cycle of image pixels: the handle record of kind "image" frees
// an image's buffer exactly once, when no value reaches the node any more or
// at once through image::release; and the decoders on input cut short.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "datatypes/image.h"
#include "interp_fixture.h"
#include "io/image_codecs.h"
#include "io/image_store.h"

using namespace vyx;

TEST_F(InterpTest, ImagePixelsAreFreedOnceWhenUnreached) {
    uint64_t before = imaging::released_count();
    eval("kept: make image! [2x2 1.2.3] shared: next kept dropped: make image! 3x3 dropped: none");
    collector::collect_garbage();
    EXPECT_EQ(imaging::released_count(), before + 1);
    collector::collect_garbage();
    EXPECT_EQ(imaging::released_count(), before + 1);
    // The node two values share stays whole while either is reached.
    eval("kept: none");
    collector::collect_garbage();
    EXPECT_EQ(imaging::released_count(), before + 1);
    EXPECT_EQ(result_of("shared/1"), "1.2.3.0");
    eval("shared: none");
    collector::collect_garbage();
    EXPECT_EQ(imaging::released_count(), before + 2);
}

TEST_F(InterpTest, ReleasedImagesAreNotFreedAgain) {
    uint64_t before = imaging::released_count();
    Cell img = eval("temp: make image! 4x4");
    image::release(&img);
    EXPECT_EQ(imaging::released_count(), before + 1);
    // A value still naming the node finds its pixels gone: a failed lock.
    EXPECT_EQ(result_of("pick temp 1"), "** bad media data (corrupt image, sound, video)");
    eval("temp: none");
    collector::collect_garbage();
    EXPECT_EQ(imaging::released_count(), before + 1);
}

TEST_F(InterpTest, AnUnknownEncoderAnswersNone) {
    Cell img = eval("make image! 2x2");
    testing::internal::CaptureStdout();
    const Cell* r = image::encode(&img, nullptr, 9);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(type_of(r), TYPE_NONE);
    EXPECT_EQ(printed, "Cannot find image encoder\n");
    image::release(&img);  // the runtime's shut-down frees no pixels
}

TEST(ImageCodecs, DecodersStopAtTheirInputsEnd) {
    // Each format encoded, then every proper prefix of it decoded from a
    // buffer of exactly that size (ASan sees any read past it): refused.
    std::vector<uint8_t> pixels(16 * 9 * 4);
    for (size_t i = 0; i < pixels.size(); i++) pixels[i] = uint8_t(i * 37 + 11);
    for (int format = imaging::IMAGE_BMP; format <= imaging::IMAGE_TIFF; format++) {
        std::vector<uint8_t> encoded;
        ASSERT_TRUE(imaging::encode(pixels.data(), 16, 9, format, encoded)) << format;
        imaging::Bitmap whole;
        ASSERT_TRUE(imaging::decode(encoded.data(), encoded.size(), whole)) << format;
        EXPECT_EQ(whole.width, 16u);
        EXPECT_EQ(whole.height, 9u);
        std::free(whole.pixels);
        for (size_t n = 0; n < encoded.size(); n++) {
            std::vector<uint8_t> cut(encoded.begin(), encoded.begin() + long(n));
            imaging::Bitmap out;
            bool ok = imaging::decode(cut.data(), cut.size(), out);
            std::free(out.pixels);
            EXPECT_FALSE(ok) << "format " << format << " cut at " << n;
        }
    }
}

TEST(ImageCodecs, SizesPastTheLimitAreRefused) {
    // A BMP header claiming 70000 pixels across.
    std::vector<uint8_t> bmp(54 + 4, 0);
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40;
    uint32_t w = 70000;
    std::memcpy(&bmp[18], &w, 4);
    bmp[22] = 1, bmp[26] = 1, bmp[28] = 24;
    imaging::Bitmap out;
    EXPECT_FALSE(imaging::decode(bmp.data(), bmp.size(), out));
    EXPECT_EQ(out.pixels, nullptr);
}

TEST(ImageCodecs, SignaturesAreKnownByTheirFirstBytes) {
    struct Case {
        std::vector<uint8_t> bytes;
        int format;
    } cases[] = {
        {{0x89, 'P', 'N', 'G'}, imaging::IMAGE_PNG},   {{0xFF, 0xD8, 0xFF}, imaging::IMAGE_JPEG},
        {{'B', 'M'}, imaging::IMAGE_BMP},              {{'G', 'I', 'F', '8', '7', 'a'}, imaging::IMAGE_GIF},
        {{'G', 'I', 'F', '8', '9', 'a'}, imaging::IMAGE_GIF}, {{'I', 'I', 0x2A, 0}, imaging::IMAGE_TIFF},
        {{'M', 'M', 0, 0x2A}, imaging::IMAGE_TIFF},    {{0x00}, -1},
        {{'G', 'I', 'F', '8', '8', 'a'}, -1},          {{0x89, 'P', 'N'}, -1},
        {{}, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(imaging::sniff_format(c.bytes.data(), c.bytes.size()), c.format);
}

// Inputs that once crashed the fuzz target (scripts/fuzz-images) stay
// refused or decoded, never a crash.
TEST(ImageCodecs, FuzzFindingsReplay) {
    const char* root = std::getenv("VYX_SOURCE_DIR");
    if (!root) GTEST_SKIP() << "VYX_SOURCE_DIR not set";
    std::filesystem::path dir = std::filesystem::path(root) / "tests/data/image-crashes";
    if (!std::filesystem::is_directory(dir)) return;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        imaging::Bitmap out;
        if (imaging::decode(bytes.data(), bytes.size(), out)) std::free(out.pixels);
    }
}
