// WebP images (EXT_texture_webp) with libwebp's decoder.
#include "gltf_decode.h"

#include "gltf_read.h"

#include <webp/decode.h>

bool webp_size(const unsigned char* bytes, std::size_t size, int& width, int& height) {
    return WebPGetInfo(bytes, size, &width, &height) && width > 0 && height > 0;
}

bool decode_webp(const unsigned char* bytes, std::size_t size, RgbaImage& out) {
    if (!webp_size(bytes, size, out.width, out.height)) return false;
    out.rgba.assign(std::size_t(out.width) * std::size_t(out.height) * 4, 0);
    return WebPDecodeRGBAInto(bytes, size, out.rgba.data(), out.rgba.size(), out.width * 4) != nullptr;
}
