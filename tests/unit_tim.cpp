// The TIM writer that import uses, read back by the reader: the pixels come
// back as 16-bit colours give them, in the smallest pixel mode that holds
// their colours, rows padded with transparent pixels to whole words.
#include "../model/tim.h"

#include "function.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using Pixels = std::vector<std::uint8_t>;

// A pixel as a 16-bit colour shows it, by the rules alone: each channel to
// round(c * 31 / 255) and back by (c << 3) | (c >> 2); alpha below 128 is
// transparent (all 0), any other colour opaque, black too.
Pixels as_sixteen_bits(const std::uint8_t* in) {
    if (in[3] < 128) return Pixels(4, 0);
    Pixels out(4, 255);
    for (int k = 0; k < 3; ++k) {
        const long five = std::lround(in[k] * 31.0 / 255.0);
        out[std::size_t(k)] = std::uint8_t(five << 3 | five >> 2);
    }
    return out;
}

// Encodes and decodes; every pixel comes back as a 16-bit colour, and the
// columns beyond `width` are transparent padding.
TimImage round_trip(const Pixels& rgba, int width, int height) {
    TimImage image = decode_tim(encode_tim(rgba, width, height, "t.tim"), "t.tim");
    EXPECT_EQ(image.height, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* out = &image.rgba[4 * std::size_t(y * image.width + x)];
            const Pixels want = x < width ? as_sixteen_bits(&rgba[4 * std::size_t(y * width + x)]) : Pixels(4, 0);
            EXPECT_EQ(Pixels(out, out + 4), want) << "pixel " << x << " " << y;
        }
    return image;
}

// An image of `colours` opaque colours that stay distinct as 16-bit ones
// (5-bit values widened as the reader widens them), repeated.
Pixels distinct(int colours, int pixels) {
    auto byte = [](int five) { return std::uint8_t(five << 3 | five >> 2); };
    Pixels rgba;
    for (int i = 0; i < pixels; ++i) {
        const int c = i % colours;
        rgba.insert(rgba.end(), {byte(c % 32), byte(c / 32 % 32), byte(7), 255});
    }
    return rgba;
}

TEST(EncodeTim, SmallestModeThatHoldsTheColoursAndPaddingToWholeWords) {
    EXPECT_EQ(round_trip(distinct(16, 16), 4, 4).bits, 4);
    EXPECT_EQ(round_trip(distinct(17, 20), 4, 5).bits, 8);
    EXPECT_EQ(round_trip(distinct(256, 256), 16, 16).bits, 8);
    EXPECT_EQ(round_trip(distinct(257, 272), 16, 17).bits, 16);
    const TimImage padded = round_trip(distinct(2, 15), 5, 3);
    EXPECT_EQ(padded.bits, 4);
    EXPECT_EQ(padded.width, 8);
    // The padding's transparent colour counts among the colours.
    const TimImage full = round_trip(distinct(16, 20), 5, 4);
    EXPECT_EQ(full.bits, 8);
    EXPECT_EQ(full.width, 6);
    EXPECT_EQ(round_trip(distinct(300, 300), 3, 100).width, 3);
}

TEST(EncodeTim, ColoursAsSixteenBitsGiveThem) {
    // Every channel value, the alpha threshold, and dark colours that round
    // to 0 but stay opaque.
    Pixels rgba;
    for (int c = 0; c < 256; ++c)
        rgba.insert(rgba.end(), {std::uint8_t(c), std::uint8_t(c / 3), std::uint8_t(255 - c), 255});
    for (int a : {0, 127, 128, 255})
        for (int c : {0, 4, 5}) rgba.insert(rgba.end(), {std::uint8_t(c), std::uint8_t(c), std::uint8_t(c), std::uint8_t(a)});
    const int width = static_cast<int>(rgba.size() / 4);
    EXPECT_EQ(round_trip(rgba, width, 1).width, width);
}

TEST(EncodeTim, ImagesTooLargeForTheFormatAreReported) {
    EXPECT_EQ(round_trip(distinct(2, 65536), 65536, 1).bits, 4);  // 16384 words a row
    const Pixels many = distinct(300, 65536);
    EXPECT_THROW(encode_tim(many, 65536, 1, "t.tim"), RunEnd);  // 16 bits: 65536 words
    EXPECT_THROW(encode_tim(many, 0, 1, "t.tim"), RunEnd);
    EXPECT_THROW(encode_tim(many, 1, 65536, "t.tim"), RunEnd);
}

}  // namespace
