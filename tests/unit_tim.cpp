// The TIM writer that import uses, read back by the reader: the pixels come
// back as 16-bit colours give them, in the smallest pixel mode that holds
// their colours, rows padded with transparent pixels to whole words.
#include "../model/tim.h"

#include "function.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using Pixels = std::vector<std::uint8_t>;

std::uint8_t widened(long five) { return std::uint8_t(five << 3 | five >> 2); }

// Encodes and decodes; each pixel must come back as the rules alone make
// it: a channel c as round(c * 31 / 255) widened by (c << 3) | (c >> 2),
// alpha below 128 transparent (all 0), any other colour opaque, black too;
// the columns beyond `width` transparent padding.
TimImage round_trip(const Pixels& rgba, int width, int height) {
    TimImage image = decode_tim(encode_tim(rgba, width, height, "t.tim"), "t.tim");
    EXPECT_EQ(image.height, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* in = x < width ? &rgba[4 * std::size_t(y * width + x)] : nullptr;
            Pixels want(4, 0);
            for (int k = 0; k < 4 && in && in[3] >= 128; ++k)
                want[std::size_t(k)] = k == 3 ? 255 : widened(std::lround(in[k] * 31.0 / 255));
            const std::uint8_t* out = &image.rgba[4 * std::size_t(y * image.width + x)];
            EXPECT_EQ(Pixels(out, out + 4), want) << "pixel " << x << " " << y;
        }
    return image;
}

// `pixels` opaque pixels of `colours` colours that stay distinct in 16 bits.
Pixels distinct(int colours, int pixels) {
    Pixels rgba;
    for (int i = 0; i < pixels; ++i)
        rgba.insert(rgba.end(), {widened(i % colours % 32), widened(i % colours / 32), 56, 255});
    return rgba;
}

TEST(EncodeTim, SmallestModeThatHoldsTheColoursAndPaddingToWholeWords) {
    EXPECT_EQ(round_trip(distinct(16, 16), 4, 4).bits, 4);
    EXPECT_EQ(round_trip(distinct(17, 20), 4, 5).bits, 8);
    EXPECT_EQ(round_trip(distinct(256, 256), 16, 16).bits, 8);
    EXPECT_EQ(round_trip(distinct(257, 272), 16, 17).bits, 16);
    EXPECT_EQ(round_trip(distinct(300, 300), 3, 100).width, 3);
    EXPECT_EQ(round_trip(distinct(2, 15), 5, 3).width, 8);
    // The padding's transparent colour counts among the 16 of 4 bits.
    const TimImage padded = round_trip(distinct(16, 20), 5, 4);
    EXPECT_EQ(padded.bits, 8);
    EXPECT_EQ(padded.width, 6);
}

TEST(EncodeTim, EveryChannelValueAlphaThresholdAndOpaqueBlack) {
    Pixels rgba;
    for (int c = 0; c < 256; ++c) rgba.insert(rgba.end(), {std::uint8_t(c), std::uint8_t(c / 3), std::uint8_t(255 - c), 255});
    for (std::uint8_t a : {0, 127, 128, 255})
        for (std::uint8_t c : {0, 4, 5}) rgba.insert(rgba.end(), {c, c, c, a});
    round_trip(rgba, int(rgba.size() / 4), 1);
}

TEST(EncodeTim, ImagesTooLargeForTheFormatAreReported) {
    EXPECT_EQ(round_trip(distinct(2, 65536), 65536, 1).bits, 4);  // 16384 words a row
    const Pixels many = distinct(300, 65536);
    EXPECT_THROW(encode_tim(many, 65536, 1, "t.tim"), RunEnd);  // 16 bits: 65536 words
    EXPECT_THROW(encode_tim(many, 0, 1, "t.tim"), RunEnd);
    EXPECT_THROW(encode_tim(many, 1, 65536, "t.tim"), RunEnd);
}

}  // namespace
