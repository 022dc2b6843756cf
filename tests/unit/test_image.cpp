// The life cycle of image pixels: the handle record of kind "image" frees
// an image's buffer exactly once, when no value reaches the node any more or
// at once through image::release; and the decoders on input cut short.
#include <cstdlib>
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
            // A TIFF's directory sits at its end; the others need their last bytes.
            if (format != imaging::IMAGE_TIFF) EXPECT_FALSE(ok) << "format " << format << " cut at " << n;
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
