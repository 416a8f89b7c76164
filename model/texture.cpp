// The texture files that a scene's materials name, each read once.
#include "model.h"
#include "png_writer.h"

#include <cstdio>
#include <filesystem>
#include <map>

void read_textures(Scene& scene) {
    std::map<std::string, int> numberOf;
    scene.textureOf.resize(malrsd.size());
    for (std::size_t i = 0; i < malrsd.size(); ++i) {
        const RsdData& rsd = malrsd[i];
        std::vector<bool> named(rsd.tex.size(), false);
        for (const MaterialData& m : rsd.mat.material)
            if (is_textured(m.type)) named[static_cast<std::size_t>(m.tim)] = true;
        std::vector<int>& textureOf = scene.textureOf[i];
        textureOf.assign(rsd.tex.size(), -1);
        for (std::size_t t = 0; t < rsd.tex.size(); ++t) {
            if (!named[t]) continue;
            // Known by the file read: a name may stand for files in different folders.
            std::string path = found_beside(rsd.tex[t].name, rsd.rsdName);
            auto [at, added] = numberOf.try_emplace(path, static_cast<int>(scene.textures.size()));
            if (added) scene.textures.push_back({rsd.tex[t].name, std::move(path), false, std::nullopt, {}});
            textureOf[t] = at->second;
        }
    }
    for (Texture& texture : scene.textures) {
        std::error_code ec;
        texture.found = std::filesystem::exists(texture.path, ec);
        if (!texture.found) continue;
        try {
            texture.image = read_tim(texture.path);
        } catch (const RunEnd& end) {
            texture.failure = end;
        }
    }
}

void check_textures(const Scene& scene) {
    for (const Texture& texture : scene.textures)
        if (texture.failure) throw *texture.failure;
}

void note_textures(const Scene& scene) {
    for (const Texture& texture : scene.textures) {
        if (!texture.found)
            std::fprintf(stderr, "zorvel-model: note: texture file %s not found; its polygons are drawn without it\n",
                         texture.name.c_str());
        else if (texture.image.greyRamp)
            note_grey_ramp(texture.name);
    }
}

void note_grey_ramp(const std::string& name) {
    std::fprintf(stderr, "zorvel-model: note: texture file %s has no colour table; drawn in greys\n", name.c_str());
}

std::string texture_png(const TimImage& image) {
    PngWriter png(image.width, image.height, /*alpha*/ true);
    png.write_rows(image.rgba.data(), image.height);
    return png.finish();
}
