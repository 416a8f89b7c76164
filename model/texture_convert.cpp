// Scaling by stb_image_resize (in linear light, alpha weighting the
// colours); the colour table by the quantiser of quantise.cpp; error
// diffusion by Floyd and Steinberg's weights, in serpentine order.
#include "texture_convert.h"

#include "function.h"
#include "quantise.h"
#include "tim.h"

#include <algorithm>
#include <cmath>
#include <stb_image_resize.h>

void scale_to_fit(RgbaImage& image, int limit, const std::string& name) {
    const auto [width, height] = fitted_size(image.width, image.height, limit);
    if (width == image.width && height == image.height) return;
    RgbaImage out{width, height, std::vector<std::uint8_t>(std::size_t(width) * std::size_t(height) * 4)};
    if (!stbir_resize_uint8_srgb(image.rgba.data(), image.width, image.height, 0, out.rgba.data(), width, height, 0, 4,
                                 3, 0))
        file_error("the image cannot be scaled", name);
    image = std::move(out);
}

namespace {

// The part of a pixel's error passed on: all of it builds up where the
// table's colours do not surround the picture's and shows as speckled
// bands; 7/8 keeps the dithering and not the bands.
constexpr float SHARE = 7.0f / 8;

// Every opaque pixel (alpha 128 or more) becomes the lattice colour `pick`
// gives for it, drawn as 8-bit values, alpha 255; every other one
// transparent (all 0). With `diffuse`, each pixel's error (what it is
// less what it became) is passed on to its neighbours not yet done.
template <class Pick>
void recolour(RgbaImage& image, bool diffuse, Pick pick) {
    const std::size_t width = std::size_t(image.width);
    // The errors for this row and the next, with a column to spare each side.
    std::vector<float> here((width + 2) * 3, 0.0f), next = here;
    for (std::size_t y = 0; y < std::size_t(image.height); ++y) {
        const bool back = diffuse && y % 2 == 1;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t x = back ? width - 1 - i : i;
            std::uint8_t* p = &image.rgba[4 * (y * width + x)];
            if (p[3] < 128) {
                std::fill_n(p, 4, 0);
                continue;
            }
            float want[3];
            for (int k = 0; k < 3; ++k) want[k] = std::clamp(p[k] + here[3 * (x + 1) + std::size_t(k)], 0.0f, 255.0f);
            const Colour555 c = pick(want);
            p[0] = std::uint8_t(to_eight(c & 31)), p[1] = std::uint8_t(to_eight(c >> 5 & 31)),
            p[2] = std::uint8_t(to_eight(c >> 10 & 31)), p[3] = 255;
            if (!diffuse) continue;
            // Ahead in the row 7/16, below behind 3/16, below 5/16, below ahead 1/16.
            const std::size_t ahead = back ? x : x + 2, behind = back ? x + 2 : x;
            for (std::size_t k = 0; k < 3; ++k) {
                const float e = (want[k] - p[k]) * SHARE;
                here[3 * ahead + k] += e * 7 / 16;
                next[3 * behind + k] += e * 3 / 16;
                next[3 * (x + 1) + k] += e * 5 / 16;
                next[3 * ahead + k] += e * 1 / 16;
            }
        }
        here.swap(next);
        std::fill(next.begin(), next.end(), 0.0f);
    }
}

Colour555 lattice_of(const float* c) {
    auto five = [](float v) { return to_five(int(std::lround(v))); };
    return Colour555(five(c[0]) | five(c[1]) << 5 | five(c[2]) << 10);
}

}  // namespace

std::pair<int, int> fitted_size(int width, int height, int fit) {
    if (fit <= 0 || (width <= fit && height <= fit)) return {width, height};
    auto side = [&](int along, int across) {
        return std::max(1, int(std::lround(double(along) * fit / across)));
    };
    return width >= height ? std::pair{fit, side(height, width)} : std::pair{side(width, height), fit};
}

TimTexture make_tim(RgbaImage& image, const TextureOptions& options, const std::string& name) {
    if (options.fit > 0) scale_to_fit(image, options.fit, name);
    const int bits = options.bits;
    if (bits == 16) recolour(image, options.dither, lattice_of);
    if (bits == 4 || bits == 8) {
        // One entry is kept for the transparent colour where some pixel is
        // transparent or the rows are padded.
        bool transparent = image.width % (16 / bits) != 0;
        for (std::size_t i = 3; i < image.rgba.size() && !transparent; i += 4) transparent = image.rgba[i] < 128;
        const ColourTable table = quantise(image.rgba, (1 << bits) - int(transparent));
        // A table that holds every colour leaves nothing to diffuse.
        bool exact = true;
        for (std::size_t c = 0; c < table.entryOf.size(); ++c)
            exact = exact && (table.entryOf[c] < 0 || table.colours[std::size_t(table.entryOf[c])] == c);
        if (options.dither && !exact) {
            const NearestColour nearest(table.colours);
            recolour(image, true, [&](const float* c) { return table.colours[std::size_t(nearest(c[0], c[1], c[2]))]; });
        } else {
            recolour(image, false, [&](const float* c) { return table.colours[std::size_t(table.entryOf[lattice_of(c)])]; });
        }
    }
    return {encode_tim(image.rgba, image.width, image.height, name, bits),
            bits ? bits : smallest_tim_bits(image.rgba, image.width, image.height)};
}
