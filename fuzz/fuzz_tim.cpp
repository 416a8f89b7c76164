// The TIM reader and writer: the input is one TIM file, read with colour
// tables 0, 1 and 2; each image read has a few texels looked up, inside and
// outside it, and is made into the PNG file that "texture" writes. A small
// one is made into a TIM file again, in a mode, size limit and dithering
// its last bytes choose, and that file must decode to the picture made.
#include "fuzz_common.h"

#include "../model/model.h"

#include <cmath>
#include <limits>

namespace {

void round_trip(const TimImage& image, std::uint8_t choice) {
    constexpr int MODES[] = {0, 4, 8, 16, 24};
    const int bits = MODES[choice % 5];
    RgbaImage picture{image.width, image.height, image.rgba};
    const TimTexture made = make_tim(picture, {bits, choice / 8 % 4 * 3, choice / 32 % 2 == 1}, "f.png");
    const TimImage back = decode_tim(made.bytes, "f.tim");
    if (back.bits != made.bits || back.height != picture.height || back.width < picture.width) std::abort();
    // The modes whose colours make_tim chose: every pixel as it left it.
    if (bits != 4 && bits != 8 && bits != 16) return;
    for (int y = 0; y < picture.height; ++y)
        for (std::size_t k = 0; k < 4 * std::size_t(picture.width); ++k)
            if (back.rgba[4 * std::size_t(y * back.width) + k] != picture.rgba[4 * std::size_t(y * picture.width) + k]) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const float nan = std::numeric_limits<float>::quiet_NaN(), huge = 1e30f;
    for (int table = 0; table < 3; ++table) {
        fuzz::read_once([&] {
            const TimImage image = decode_tim(bytes, "f.tim", table);
            if (image.rgba.size() != 4 * std::size_t(image.width) * std::size_t(image.height)) std::abort();
            unsigned seen = 0;
            for (float u : {-huge, -0.5f, 0.0f, 0.5f * float(image.width), float(image.width), huge, nan})
                for (float v : {-1.0f, float(image.height) - 0.5f, float(image.height), nan})
                    for (int k = 0; k < 4; ++k) seen += image.texel(u, v)[k];
            [[maybe_unused]] static volatile unsigned sink;
            sink = seen;
            // A small image only: the PNG encoder is not what is tried here.
            if (image.rgba.size() <= 65536) texture_png(image);
            if (image.rgba.size() <= 16384 && size > 0) round_trip(image, data[size - 1]);
        });
    }
    return 0;
}
