// Making a picture into a TIM texture: scaled down to a size limit, its
// colours reduced to what the pixel mode holds.
#pragma once

#include "image_decode.h"

#include <string>
#include <utility>

struct TextureOptions {
    int bits = 0;         // 4, 8, 16 or 24; 0: the smallest mode that holds the picture exactly
    int fit = 0;          // the longest side allowed, 0 for any
    bool dither = false;  // Floyd-Steinberg error diffusion
};

// The side lengths of a w x h picture scaled so that neither exceeds `fit`,
// keeping its aspect ratio (each side at least 1); unchanged when it fits.
std::pair<int, int> fitted_size(int width, int height, int fit);

// `image` scaled in linear light so that neither side exceeds `limit`, as
// fitted_size says; a picture that cannot be scaled ends the run with a
// report naming `name`.
void scale_to_fit(RgbaImage& image, int limit, const std::string& name);

struct TimTexture {
    std::string bytes;  // the TIM file
    int bits;           // its pixel mode
};
// The TIM file of `image`: scaled in linear light where it does not fit,
// then of the colours of the mode asked. `image` is left scaled.
// A picture that cannot be made so ends the run with a report naming `name`.
TimTexture make_tim(RgbaImage& image, const TextureOptions& options, const std::string& name);
