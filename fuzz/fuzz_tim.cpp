// The TIM reader alone: the input is one TIM file, read with colour tables
// 0, 1 and 2; each image read has a few texels looked up, inside and outside
// it, and is made into the PNG file that "texture" writes.
#include "fuzz_common.h"

#include "../model/model.h"

#include <cmath>
#include <limits>

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
            static volatile unsigned sink;
            sink = seen;
            // A small image only: the PNG encoder is not what is tried here.
            if (image.rgba.size() <= 65536) texture_png(image);
        });
    }
    return 0;
}
