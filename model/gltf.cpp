// "export": the groups as one glTF 2.0 binary file (.glb): a node and a mesh
// per group, a triangle primitive per kind of material in it.
#include "geometry.h"
#include "json.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <map>
#include <tuple>

namespace {

// A glTF vertex as stored: position, normal, colour (RGBA bytes), interleaved.
struct GltfVertex {
    float position[3];
    float normal[3];
    unsigned char colour[4];
};
static_assert(sizeof(GltfVertex) == 28);

constexpr int FLOAT = 5126, UNSIGNED_BYTE = 5121, UNSIGNED_INT = 5125;
constexpr int ARRAY_BUFFER = 34962, ELEMENT_ARRAY_BUFFER = 34963;
const Vec3 FALLBACK_NORMAL{0, 0, 1};  // for a polygon without area and without a normal of its own

// What the glTF material of a polygon depends on.
struct Look {
    bool unlit = false, doubleSided = false, semiTransparent = false;
    std::string texture;
    auto operator<=>(const Look&) const = default;
};

Look look_of(const MaterialData* m, const RsdData& rsd) {
    Look look{is_unlit(m), is_double_sided(m), is_semi_transparent(m), {}};
    if (m && is_textured(m->type)) look.texture = rsd.tex[static_cast<std::size_t>(m->tim)].name;
    return look;
}

Json material_json(const Look& look) {
    std::string name = look.unlit ? "unlit" : "lit";
    if (look.doubleSided) name += " double-sided";
    if (look.semiTransparent) name += " semi-transparent";
    if (!look.texture.empty()) name += " texture " + look.texture;
    Json m;
    m["name"] = name;
    m["pbrMetallicRoughness"] = {{"baseColorFactor", {1.0f, 1.0f, 1.0f, look.semiTransparent ? 0.5f : 1.0f}},
                                 {"metallicFactor", 0.0f},
                                 {"roughnessFactor", 1.0f}};
    if (look.semiTransparent) m["alphaMode"] = "BLEND";
    if (look.doubleSided) m["doubleSided"] = true;
    if (look.unlit) m["extensions"] = {{"KHR_materials_unlit", Json::object()}};
    if (!look.texture.empty()) m["extras"] = {{"texture", look.texture}};
    return m;
}

// The glTF file being built: its JSON and its binary chunk.
struct Builder {
    Json accessors = Json::array(), bufferViews = Json::array();
    std::string bin;
    std::map<Look, int> materials;  // by look, numbered in order of first use

    int material(const Look& look) {
        return materials.try_emplace(look, static_cast<int>(materials.size())).first->second;
    }
    // Appends bytes as a new buffer view, starting on a four-byte boundary.
    int view(const void* data, std::size_t size, int target, int stride = 0) {
        bin.resize((bin.size() + 3) & ~std::size_t{3}, '\0');
        Json v{{"buffer", 0}, {"byteOffset", bin.size()}, {"byteLength", size}};
        if (stride) v["byteStride"] = stride;
        v["target"] = target;
        bin.append(static_cast<const char*>(data), size);
        bufferViews.push_back(std::move(v));
        return static_cast<int>(bufferViews.size() - 1);
    }
    int accessor(Json a) {
        accessors.push_back(std::move(a));
        return static_cast<int>(accessors.size() - 1);
    }
};

// Finds or adds a vertex: corners with the same position, normal and colour
// share one. Open addressing over the vertex numbers, plus one (0: free).
class VertexTable {
public:
    explicit VertexTable(std::size_t corners) {
        std::size_t size = 16;
        while (size < 2 * corners) size *= 2;
        slots_.assign(size, 0);
    }
    std::uint32_t find_or_add(const GltfVertex& v) {
        std::uint64_t word[4] = {};
        std::memcpy(word, &v, sizeof v);
        std::uint64_t h = word[0] * 0x9E3779B97F4A7C15u ^ word[1] * 0xC2B2AE3D27D4EB4Fu ^
                          word[2] * 0x165667B19E3779F9u ^ word[3] * 0xD6E8FEB86659FD93u;
        h ^= h >> 31;
        for (std::size_t i = h & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i] == 0) {
                vertices.push_back(v);
                slots_[i] = static_cast<std::uint32_t>(vertices.size());
                return slots_[i] - 1;
            }
            if (std::memcmp(&vertices[slots_[i] - 1], &v, sizeof v) == 0) return slots_[i] - 1;
        }
    }
    std::vector<GltfVertex> vertices;

private:
    std::vector<std::uint32_t> slots_;
};

// One group's triangles, built on their own so that groups can be built at
// the same time: the shared vertices, and a list of indices for each look,
// in order of first use.
struct Mesh {
    std::vector<GltfVertex> vertices;
    std::vector<std::pair<Look, std::vector<std::uint32_t>>> primitives;
    long long leftOut = 0;  // polygons with a corner that is no finite point
};

Mesh build_mesh(const Scene& scene, const Group& group) {
    const RsdData& rsd = *group.model;
    const PlyData& ply = rsd.ply;
    Mesh mesh;
    std::size_t corners = 0;
    for (int p : group.polygons) corners += static_cast<std::size_t>(corner_count(ply.polygon[static_cast<std::size_t>(p)]));
    VertexTable table(corners);
    // Within one model, a look is known by the flag bits and the texture
    // line: the primitive of each, found without comparing names.
    std::map<std::pair<int, int>, std::size_t> primitiveOf;
    for (int p : group.polygons) {
        const PolygonData& polygon = ply.polygon[static_cast<std::size_t>(p)];
        if (!is_drawable(polygon, ply.vertex)) {
            ++mesh.leftOut;
            continue;
        }
        const MaterialData* material = material_of(scene, group, p);
        std::pair<int, int> key{material ? material->flag & 7 : 0,
                                material && is_textured(material->type) ? material->tim : -1};
        auto [at, added] = primitiveOf.try_emplace(key, mesh.primitives.size());
        if (added) {
            // Two texture lines may name the same file.
            Look look = look_of(material, rsd);
            auto same = std::find_if(mesh.primitives.begin(), mesh.primitives.end(),
                                     [&](const auto& primitive) { return primitive.first == look; });
            at->second = static_cast<std::size_t>(same - mesh.primitives.begin());
            if (same == mesh.primitives.end()) mesh.primitives.emplace_back(std::move(look), std::vector<std::uint32_t>());
        }
        Vec3 face = face_normal(polygon, ply.vertex);
        if (face.x == 0 && face.y == 0 && face.z == 0) face = FALLBACK_NORMAL;
        std::uint32_t index[4];
        for (int k = 0; k < corner_count(polygon); ++k) {
            const VectorData& vertex = ply.vertex[static_cast<std::size_t>(polygon.vtx[k])];
            Vec3 position = to_gltf(vertex), normal = corner_normal(polygon, material, k, ply, face);
            Rgb colour = corner_colour(material, k);
            GltfVertex v{{position.x, position.y, position.z}, {normal.x, normal.y, normal.z},
                         {colour.r, colour.g, colour.b, 255}};
            index[k] = table.find_or_add(v);
        }
        Triangles triangles = triangles_of(polygon);
        std::vector<std::uint32_t>& indices = mesh.primitives[at->second].second;
        for (int t = 0; t < triangles.count; ++t)
            for (int k : triangles.corners[static_cast<std::size_t>(t)]) indices.push_back(index[k]);
    }
    mesh.vertices = std::move(table.vertices);
    return mesh;
}

// The group's mesh as glTF, its bytes appended to the binary chunk; null
// when it has no polygon to show (glTF has no empty mesh).
Json mesh_json(const Group& group, const Mesh& mesh, Builder& out) {
    if (mesh.primitives.empty()) return nullptr;
    const std::vector<GltfVertex>& vertices = mesh.vertices;
    Vec3 min = {vertices[0].position[0], vertices[0].position[1], vertices[0].position[2]}, max = min;
    for (const GltfVertex& v : vertices) {
        min = {std::min(min.x, v.position[0]), std::min(min.y, v.position[1]), std::min(min.z, v.position[2])};
        max = {std::max(max.x, v.position[0]), std::max(max.y, v.position[1]), std::max(max.z, v.position[2])};
    }
    int view = out.view(vertices.data(), vertices.size() * sizeof(GltfVertex), ARRAY_BUFFER, sizeof(GltfVertex));
    auto attribute = [&](std::size_t offset, int type, const char* shape) {
        return Json{{"bufferView", view}, {"byteOffset", offset}, {"componentType", type},
                    {"count", vertices.size()}, {"type", shape}};
    };
    Json position = attribute(offsetof(GltfVertex, position), FLOAT, "VEC3");
    position["min"] = {min.x, min.y, min.z};
    position["max"] = {max.x, max.y, max.z};
    Json colour = attribute(offsetof(GltfVertex, colour), UNSIGNED_BYTE, "VEC4");
    colour["normalized"] = true;
    Json attributes{{"POSITION", out.accessor(std::move(position))},
                    {"NORMAL", out.accessor(attribute(offsetof(GltfVertex, normal), FLOAT, "VEC3"))},
                    {"COLOR_0", out.accessor(std::move(colour))}};

    Json list = Json::array();
    for (const auto& [look, indices] : mesh.primitives) {
        int indexView = out.view(indices.data(), indices.size() * sizeof(std::uint32_t), ELEMENT_ARRAY_BUFFER);
        int accessor = out.accessor({{"bufferView", indexView}, {"componentType", UNSIGNED_INT},
                                     {"count", indices.size()}, {"type", "SCALAR"}});
        list.push_back({{"attributes", attributes}, {"indices", accessor}, {"material", out.material(look)}, {"mode", 4}});
    }
    return {{"name", group.name}, {"primitives", std::move(list)}};
}

void put_u32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xff));
}

}  // namespace

std::vector<std::string> make_glb(const Scene& scene, long long& leftOut) {
    // The groups' triangles on several threads; the file is then put
    // together in group order, so its bytes do not depend on the threads.
    const std::size_t groups = scene.groups.size();
    std::vector<Mesh> built(groups);
    std::vector<std::exception_ptr> failures(groups);
    run_pieces(spare_threads(), groups, [&](std::size_t k) {
        try {
            built[k] = build_mesh(scene, scene.groups[k]);
        } catch (...) {
            failures[k] = std::current_exception();
        }
    });
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);

    leftOut = 0;
    Builder out;
    Json nodes = Json::array(), meshes = Json::array();
    for (std::size_t k = 0; k < groups; ++k) {
        const Group& group = scene.groups[k];
        Json node{{"name", group.name}};
        leftOut += built[k].leftOut;
        Json mesh = mesh_json(group, built[k], out);
        built[k] = Mesh();
        if (!mesh.is_null()) {
            node["mesh"] = meshes.size();
            meshes.push_back(std::move(mesh));
        }
        nodes.push_back(std::move(node));
    }
    Json roots = Json::array();
    for (std::size_t i = 0; i < nodes.size(); ++i) roots.push_back(i);

    Json gltf;
    gltf["asset"] = {{"version", "2.0"}, {"generator", "zorvel-model"}};
    std::vector<Look> looks(out.materials.size());
    bool unlit = false;
    for (const auto& [look, number] : out.materials) {
        looks[static_cast<std::size_t>(number)] = look;
        unlit |= look.unlit;
    }
    if (unlit) gltf["extensionsUsed"] = {"KHR_materials_unlit"};
    gltf["scene"] = 0;
    gltf["scenes"] = Json::array({{{"nodes", roots}}});
    gltf["nodes"] = std::move(nodes);
    if (!meshes.empty()) {
        gltf["meshes"] = std::move(meshes);
        Json materials = Json::array();
        for (const Look& look : looks) materials.push_back(material_json(look));
        gltf["materials"] = std::move(materials);
        gltf["accessors"] = std::move(out.accessors);
        gltf["bufferViews"] = std::move(out.bufferViews);
        out.bin.resize((out.bin.size() + 3) & ~std::size_t{3}, '\0');
        gltf["buffers"] = Json::array({{{"byteLength", out.bin.size()}}});
    }
    std::string json = json_text(gltf);
    json.resize((json.size() + 3) & ~std::size_t{3}, ' ');

    const std::uint64_t total = 12 + 8 + json.size() + (out.bin.empty() ? 0 : 8 + out.bin.size());
    if (total > UINT32_MAX) file_error("The model is too large for a glTF binary file!", "");
    std::string head;
    put_u32(head, 0x46546C67);  // "glTF"
    put_u32(head, 2);
    put_u32(head, static_cast<std::uint32_t>(total));
    put_u32(head, static_cast<std::uint32_t>(json.size()));
    put_u32(head, 0x4E4F534A);  // "JSON"
    head += json;
    if (out.bin.empty()) return {std::move(head)};
    put_u32(head, static_cast<std::uint32_t>(out.bin.size()));
    put_u32(head, 0x004E4942);  // "BIN"
    return {std::move(head), std::move(out.bin)};
}
