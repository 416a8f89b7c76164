// What a polygon looks like, for every command that shows one: its corners
// in glTF's terms (Y up, Z towards the viewer, fronts counter-clockwise),
// its normals and its colours.
#pragma once

#include "model.h"

#include <algorithm>
#include <array>
#include <cmath>

struct Vec3 {
    float x, y, z;
};
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Directions are worked out in double: the square of a float as large as
// 3e38 or as small as 1e-30 is out of a float's range, but not a double's.
struct Direction {
    double x, y, z;
};
inline Direction operator-(Direction a, Direction b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Direction cross(Direction a, Direction b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// The unit vector along v, or zero for a zero (or not finite) vector. The
// largest component is scaled to 1 first, so that no length is out of range.
// Each component is tested: a NaN after the first is never taken as the largest.
inline Vec3 normalised(Direction v) {
    const bool finite = std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
    const double largest = std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
    if (!finite || !(largest > 0)) return {0, 0, 0};
    v = {v.x / largest, v.y / largest, v.z / largest};
    const double length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return {float(v.x / length), float(v.y / length), float(v.z / length)};
}

// These formats have Y pointing down and Z away from the viewer.
inline Vec3 to_gltf(const VectorData& v) { return {v.x, -v.y, -v.z}; }
// And back, for import: the same turn undoes itself.
inline Direction from_gltf(Direction v) { return {v.x, -v.y, -v.z}; }

// A polygon's triangles as corner numbers, counter-clockwise seen from its
// front in glTF's axes. Corners are clockwise from the front in these
// formats' axes, and a quadrangle's are in "Z" order (its rim runs 0 1 3 2).
struct Triangles {
    int count;
    std::array<std::array<int, 3>, 2> corners;
};
inline Triangles triangles_of(const PolygonData& polygon) {
    if (polygon.flag == 0) return {1, {{{0, 2, 1}, {0, 0, 0}}}};
    return {2, {{{0, 2, 1}, {1, 2, 3}}}};
}
inline int corner_count(const PolygonData& polygon) { return polygon.flag == 0 ? 3 : 4; }
// The corners in order around the polygon's rim, the first corner_count of them.
inline std::array<int, 4> rim_of(const PolygonData& polygon) {
    if (polygon.flag == 0) return {0, 1, 2, 0};
    return {0, 1, 3, 2};
}

// The polygon's face normal in glTF's axes: zero when it has no area.
inline Vec3 face_normal(const PolygonData& polygon, const std::vector<VectorData>& vertices) {
    auto at = [&](int k) {
        Vec3 v = to_gltf(vertices[static_cast<std::size_t>(polygon.vtx[k])]);
        return Direction{v.x, v.y, v.z};
    };
    Direction n = cross(at(2) - at(0), at(1) - at(0));
    if (polygon.flag == 1) {
        Direction second = cross(at(2) - at(1), at(3) - at(1));
        n = {n.x + second.x, n.y + second.y, n.z + second.z};
    }
    return normalised(n);
}

// Whether normal number n names a normal of the model. In a merged model,
// the polygons of an input without normals keep the numbers they were read
// with, which need not.
inline bool has_normal(const PlyData& ply, int n) {
    return n >= 0 && static_cast<std::size_t>(n) < ply.normal.size();
}

// Corner k's normal as the model gives it (flat shading: the first
// corner's for all), or the face normal where it has none or it is zero.
inline Vec3 corner_normal(const PolygonData& polygon, const MaterialData* material, int k,
                          const PlyData& ply, Vec3 face) {
    if (material && material->shade == 'F') k = 0;
    if (!has_normal(ply, polygon.nrm[k])) return face;
    Vec3 given = to_gltf(ply.normal[static_cast<std::size_t>(polygon.nrm[k])]);
    Vec3 n = normalised(Direction{given.x, given.y, given.z});
    return n.x == 0 && n.y == 0 && n.z == 0 ? face : n;
}

struct Rgb {
    unsigned char r, g, b;
    bool operator==(const Rgb&) const = default;
};
constexpr Rgb LIGHT_GREY{200, 200, 200};

inline unsigned char channel(int value) {
    return static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value);
}
// Corner k's colour: 'G' and 'H' give one per corner, 'C' and 'D' one for
// all; a 'T' material, another type or no material shows light grey.
inline Rgb corner_colour(const MaterialData* material, int k) {
    if (!material) return LIGHT_GREY;
    switch (material->type) {
        case 'G': case 'H': break;
        case 'C': case 'D': k = 0; break;
        default: return LIGHT_GREY;
    }
    return {channel(material->r[k]), channel(material->g[k]), channel(material->b[k])};
}

// A textured material's colour at corner k modulates its texels, with 128
// as neutral: 'D' gives one for all corners, 'H' one per corner, 'T' none.
inline Rgb modulation(const MaterialData& material, int k) {
    if (material.type == 'T') return {128, 128, 128};
    if (material.type == 'D') k = 0;
    return {channel(material.r[k]), channel(material.g[k]), channel(material.b[k])};
}
// A texel channel as a colour channel shows it: texel x colour / 128, at most 255.
inline float modulated(unsigned char texel, float colour) { return std::min(255.0f, float(texel) * colour / 128.0f); }

// A polygon can be shown only where every corner is a finite point;
// coordinates may be infinite or not a number.
inline bool is_drawable(const PolygonData& polygon, const std::vector<VectorData>& vertices) {
    for (int k = 0; k < corner_count(polygon); ++k) {
        const VectorData& v = vertices[static_cast<std::size_t>(polygon.vtx[k])];
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) return false;
    }
    return true;
}

// The material flag's bits.
inline bool is_unlit(const MaterialData* m) { return m && (m->flag & 1); }
inline bool is_double_sided(const MaterialData* m) { return m && (m->flag & 2); }
inline bool is_semi_transparent(const MaterialData* m) { return m && (m->flag & 4); }

// The texture image a material shows, or null: untextured, or its file not read.
inline const TimImage* texture_of(const Scene& scene, const Group& group, const MaterialData* material) {
    if (!material || !is_textured(material->type)) return nullptr;
    const int t = scene.textureOf[group.modelIndex][static_cast<std::size_t>(material->tim)];
    const Texture* texture = t < 0 ? nullptr : &scene.textures[static_cast<std::size_t>(t)];
    return texture && texture->read() ? &texture->image : nullptr;
}

// The material that gives polygon p of a group's model its look, or null.
inline const MaterialData* material_of(const Scene& scene, const Group& group, int polygon) {
    int m = scene.materialOf[group.modelIndex][static_cast<std::size_t>(polygon)];
    return m < 0 ? nullptr : &group.model->mat.material[static_cast<std::size_t>(m)];
}
