// Decoding a picture file's bytes (PNG, JPEG or WebP) into 8-bit RGBA: the
// one place where images from outside the TIM files are decoded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RgbaImage {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;  // row after row from the top
};

enum class ImageKind { NONE, PNG, JPEG, WEBP };
// The kind the bytes start as, NONE for none of them.
ImageKind image_kind(std::string_view bytes);

// The picture in `bytes`. One that is of no kind above, does not decode, or
// claims far more pixels than its bytes can describe ends the run with a
// report on `what` ("image 0", or empty for the file itself) naming `file`.
RgbaImage decode_image(std::string_view bytes, const std::string& what, const std::string& file);
