// Pictures made into TIM textures and read back by the TIM reader: exact
// where the mode holds their colours, close where it does not, transparent
// where they are, scaled in linear light.
#include "../model/texture_convert.h"
#include "../model/tim.h"

#include "function.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <webp/encode.h>

namespace {

std::uint8_t widened(int five) { return std::uint8_t(five << 3 | five >> 2); }

template <class At>
RgbaImage picture(int width, int height, At at) {
    RgbaImage p{width, height, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::array<int, 4> c = at(x, y);
            for (int v : c) p.rgba.push_back(std::uint8_t(std::clamp(v, 0, 255)));
        }
    return p;
}

TimImage made(RgbaImage p, int bits, bool dither = false, int fit = 0) {
    const TimTexture tim = make_tim(p, {bits, fit, dither}, "t.png");
    const TimImage image = decode_tim(tim.bytes, "t.tim");
    EXPECT_EQ(image.bits, tim.bits);
    return image;
}

// Over the original's opaque pixels, in 8-bit sRGB.
double psnr(const RgbaImage& a, const TimImage& b) {
    double sum = 0, count = 0;
    for (std::size_t i = 0; i < a.rgba.size(); i += 4)
        for (std::size_t k = 0; k < 3 && a.rgba[i + 3] >= 128; ++k, ++count)
            sum += std::pow(a.rgba[i + k] - b.rgba[i + k], 2);
    return 10 * std::log10(255.0 * 255 * count / sum);
}

// Photo-like: smooth colours, a grain of noise, a black disc.
RgbaImage photo(int side) {
    return picture(side, side, [&](int x, int y) {
        const int grain = int((unsigned(x * 7919 + y * 104729) * 2654435761u) >> 28) - 8;
        if ((x - 20) * (x - 20) + (y - 20) * (y - 20) < 64) return std::array<int, 4>{0, 0, 0, 255};
        return std::array<int, 4>{x * 255 / side + grain, y * 200 / side + grain, 128 + int(100 * std::sin(x * 0.1)), 255};
    });
}

TEST(TextureToTim, PicturesOfTheModesColoursComeBackExactly) {
    for (int bits : {4, 8})
        for (bool dither : {false, true}) {
            const int colours = 1 << bits;
            const RgbaImage p = picture(32, 16, [&](int x, int y) {
                const int i = (x * 7 + y * 3) % colours;
                return std::array<int, 4>{widened(i % 32), widened(i / 32 * 4), widened(31 - i % 32), 255};
            });
            const TimImage t = made(p, bits, dither);
            EXPECT_EQ(t.bits, bits);
            EXPECT_EQ(t.rgba, p.rgba) << bits << " bits, dither " << dither;
        }
    // A lossless WebP decodes to its pixels; a file of no known kind is refused.
    const RgbaImage p = photo(16);
    std::uint8_t* webp = nullptr;
    const std::size_t size = WebPEncodeLosslessRGBA(p.rgba.data(), 16, 16, 64, &webp);
    const std::string bytes(reinterpret_cast<const char*>(webp), size);
    WebPFree(webp);
    EXPECT_EQ(decode_image(bytes, "", "t.webp").rgba, p.rgba);
    EXPECT_THROW(decode_image(bytes.substr(0, size / 2), "", "t.webp"), RunEnd);
    EXPECT_THROW(decode_image("GIF89a", "", "t.gif"), RunEnd);
}

// This picture of 3,900 colours gives 23.0 dB at 16 colours, 21.5 dithered
// (the benchmark's pictures of many colours 26 to 34 dB and 23 to 29 dB).
TEST(TextureToTim, ManyColoursAtSixteenStayClose) {
    const RgbaImage p = photo(64);
    const TimImage plain = made(p, 4), dithered = made(p, 4, true);
    EXPECT_GE(psnr(p, plain), 22.9);
    EXPECT_GE(psnr(p, dithered), 21.4);
    std::set<std::array<std::uint8_t, 4>> colours;
    for (std::size_t i = 0; i < dithered.rgba.size(); i += 4)
        colours.insert({dithered.rgba[i], dithered.rgba[i + 1], dithered.rgba[i + 2], dithered.rgba[i + 3]});
    EXPECT_LE(colours.size(), 16u);
    // Dithering keeps a ramp's average over each block of 8 x 8, where
    // nearest colours leave bands.
    const RgbaImage ramp = picture(64, 64, [](int x, int y) { return std::array<int, 4>{x * 4, y * 4, 90, 255}; });
    auto block_error = [&](const TimImage& t) {
        double total = 0;
        for (int by = 0; by < 64; by += 8)
            for (int bx = 0; bx < 64; bx += 8)
                for (std::size_t k = 0; k < 3; ++k) {
                    double sum = 0;
                    for (int y = by; y < by + 8; ++y)
                        for (int x = bx; x < bx + 8; ++x) sum += t.rgba[std::size_t(y * 64 + x) * 4 + k] - ramp.rgba[std::size_t(y * 64 + x) * 4 + k];
                    total += std::abs(sum / 64);
                }
        return total / 192;
    };
    EXPECT_LT(block_error(made(ramp, 4, true)), 5.0);  // 3.7
    EXPECT_GT(block_error(made(ramp, 4)), 8.0);        // 10.0
}

TEST(TextureToTim, TransparentStaysTransparentOpaqueBlackStaysOpaque) {
    RgbaImage p = photo(32);
    for (std::size_t i = 0; i < p.rgba.size(); i += 4) p.rgba[i + 3] = std::uint8_t(i / 4 % 32 < 8 ? 127 - i % 7 : 128 + i % 7);
    for (int bits : {4, 8, 16})
        for (bool dither : {false, true}) {
            const TimImage t = made(p, bits, dither);
            for (std::size_t i = 0; i < p.rgba.size(); i += 4) {
                const bool clear = p.rgba[i + 3] < 128;
                ASSERT_EQ(t.rgba[i + 3], clear ? 0 : 255) << bits << " bits, pixel " << i / 4;
                if (clear) {
                    ASSERT_EQ(t.rgba[i] + t.rgba[i + 1] + t.rgba[i + 2], 0);
                }
            }
        }
    EXPECT_THROW(made(p, 24), RunEnd);
    p.rgba[3] = 0;
    EXPECT_EQ(made(p, 8).rgba[3], 0);  // one pixel at the edge of a table full of colours
}

TEST(TextureToTim, FitScalesDownInLinearLightKeepingTheAspect) {
    // One-pixel black and white checks scale to the grey of half the light.
    const RgbaImage checks = picture(64, 32, [](int x, int y) {
        const int v = (x + y) % 2 * 255;
        return std::array<int, 4>{v, v, v, 255};
    });
    const TimImage half = made(checks, 24, false, 32);
    EXPECT_EQ(half.width, 32);
    EXPECT_EQ(half.height, 16);
    for (std::uint8_t v : half.rgba) EXPECT_NEAR(v, v == 255 ? 255 : 188, 6);
    EXPECT_EQ(made(checks, 24, false, 64).rgba, checks.rgba);
    // A colour beside transparent pixels is not darkened by theirs, where
    // they make it partly transparent.
    RgbaImage edge = picture(8, 8, [](int x, int) { return std::array<int, 4>{x < 4 ? 0 : 255, 0, 0, x < 4 ? 0 : 255}; });
    make_tim(edge, {0, 4, false}, "t.png");
    for (std::size_t i = 0; i < edge.rgba.size(); i += 4)
        EXPECT_TRUE(edge.rgba[i + 3] == 0 || edge.rgba[i] >= 250) << "alpha " << int(edge.rgba[i + 3]);
    EXPECT_EQ(fitted_size(1000, 10, 64), std::make_pair(64, 1));
    EXPECT_EQ(fitted_size(30, 90, 60), std::make_pair(20, 60));
    EXPECT_EQ(fitted_size(37, 23, 16), std::make_pair(16, 10));  // 9.95 rounded
}

}  // namespace
