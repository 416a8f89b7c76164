// Reading a glTF 2.0 file, binary (.glb) or JSON (.gltf), with tinygltf:
// the triangles its scene draws, in these formats' axes, its materials and
// its images. Every fault of the file ends the run with RunEnd naming it.
#pragma once

#include "image_decode.h"
#include "model.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tinygltf {
class Model;
class Value;
struct Texture;
struct TextureInfo;
}

// How a sampler wraps coordinates outside 0..1.
enum class Wrap { repeat, mirrored, clamp };

// What the mapping needs of a glTF material.
struct GltfMaterial {
    bool unlit = false, doubleSided = false, blend = false;
    std::array<double, 3> factor{1, 1, 1};  // baseColorFactor's colour
    int image = -1;                         // baseColorTexture's image, or -1
    int texCoord = 0;                       // the TEXCOORD_n set it is read with
    // The texture's coordinate transform (KHR_texture_transform), row-major
    // 2x3: s' = a s + b t + c, t' = d s + e t + f.
    std::array<double, 6> uv{1, 0, 0, 0, 1, 0};
    Wrap wrapS = Wrap::repeat, wrapT = Wrap::repeat;  // its sampler's
};

// The triangles of one primitive as one node draws it. Vertex attributes
// are the accessors' numbers as read (once for the whole file); a vertex is
// transformed when asked for, so that a node drawing a few vertices of a
// large accessor costs only those.
struct DrawnPrimitive {
    int material = -1;                   // index in GltfFile::materials, or -1
    std::size_t vertices = 0;            // the number of elements of each attribute
    const float* position = nullptr;     // x y z of each vertex in the mesh's own space
    const float* normal = nullptr;       // likewise, or null without NORMAL
    const float* colour = nullptr;       // COLOR_0, `colourSize` numbers a vertex, or null
    int colourSize = 3;
    const float* texcoord = nullptr;     // s t of the material's set, or null when untextured
    std::vector<std::uint32_t> triangles;  // three vertices each, counter-clockwise seen from the front in glTF
    // Primitives with equal `sharing` have the same positions and normals.
    std::array<int, 3> sharing{};
    std::array<double, 16> world{};      // the node's transform, column-major
    std::array<double, 9> turn{};        // its normal matrix, row-major
    double scale = 1;

    // Vertex i after the node's transforms, in these formats' axes, scaled.
    VectorData vertex(std::size_t i) const;
    // Its normal turned likewise, unit length (zero for a zero normal).
    VectorData normal_at(std::size_t i) const;
};

class GltfFile {
public:
    explicit GltfFile(const std::string& path);  // reads the file and those it names
    ~GltfFile();
    GltfFile(const GltfFile&) = delete;
    GltfFile& operator=(const GltfFile&) = delete;

    std::vector<GltfMaterial> materials;
    // Notes on what of the file is left aside, found while reading it.
    std::vector<std::string> notes;

    // Calls `visit` for each primitive of triangles, strips or fans that
    // scene `scene` (-1: the default one) draws, node by node (depth first,
    // in the file's order; an instanced node once for each instance),
    // positions times `scale`.
    void draw(double scale, int scene, const std::function<void(const DrawnPrimitive&)>& visit);
    // Image k decoded (PNG, JPEG or WebP) into 8-bit RGBA.
    RgbaImage image(int k) const;

    // After draw: primitives of points or lines left out, and what else the
    // file holds that is not read ("skins, animations"), empty for nothing.
    long long pointsAndLines = 0;
    std::size_t otherScenes = 0;  // scenes not drawn
    std::string notRead() const;

private:
    void diffuse_for_base(const tinygltf::Value& ext, const std::string& what, GltfMaterial& material,
                          tinygltf::TextureInfo& base) const;
    int image_of(const tinygltf::Texture& texture, const std::string& what) const;

    std::string path_;
    std::unique_ptr<tinygltf::Model> model_;
    std::uint64_t inputBytes_ = 0;  // the file's and the files it names
    bool morphTargets_ = false;
};
