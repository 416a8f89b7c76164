// PNG and JPEG are decoded by the library tinygltf itself uses (stb_image),
// WebP by libwebp.
#include "image_decode.h"

#include "function.h"

#include <cstring>
#include <memory>
#include <stb_image.h>
#include <webp/decode.h>

ImageKind image_kind(std::string_view bytes) {
    auto starts = [&](std::size_t at, std::string_view text) { return bytes.substr(at, text.size()) == text; };
    if (starts(0, "\x89PNG\r\n\x1a\n")) return ImageKind::PNG;
    if (starts(0, "\xFF\xD8\xFF")) return ImageKind::JPEG;
    if (starts(0, "RIFF") && starts(8, "WEBP")) return ImageKind::WEBP;
    return ImageKind::NONE;
}

RgbaImage decode_image(std::string_view bytes, const std::string& what, const std::string& file) {
    const std::string subject = what.empty() ? "the image" : what;
    auto fail = [&](const std::string& why) { file_error(subject + " " + why, file); };
    const ImageKind kind = image_kind(bytes);
    if (kind == ImageKind::NONE) fail("is neither PNG, JPEG nor WebP");
    if (bytes.size() > INT32_MAX) fail("does not decode");
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    int width = 0, height = 0, channels = 0;
    const bool known = kind == ImageKind::WEBP ? WebPGetInfo(data, bytes.size(), &width, &height) != 0
                                               : stbi_info_from_memory(data, int(bytes.size()), &width, &height, &channels) != 0;
    if (!known || width <= 0 || height <= 0) fail("does not decode");
    // Far more pixels than such a file can describe: a header that lies.
    if (double(width) * double(height) * 4 > 1024.0 * double(bytes.size()) + 64.0 * 1024 * 1024)
        fail("claims more pixels than its bytes can hold");
    RgbaImage out{width, height, {}};
    const std::size_t size = std::size_t(width) * std::size_t(height) * 4;
    if (kind == ImageKind::WEBP) {
        out.rgba.resize(size);
        if (!WebPDecodeRGBAInto(data, bytes.size(), out.rgba.data(), size, width * 4)) fail("does not decode");
        return out;
    }
    const std::unique_ptr<unsigned char, void (*)(void*)> pixels(
        stbi_load_from_memory(data, int(bytes.size()), &width, &height, &channels, 4), stbi_image_free);
    if (!pixels) fail("does not decode");
    out.rgba.assign(pixels.get(), pixels.get() + size);
    return out;
}
