// "export": the groups as glTF 2.0, a binary file (.glb) or JSON (.gltf)
// with its buffer and images in files beside it: a node and a mesh per
// group, a triangle primitive per kind of material in it, and each texture
// file read as a PNG image.
#include "colour.h"
#include "geometry.h"
#include "json.h"
#include "png_writer.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <tuple>
#include <type_traits>

namespace {

// A glTF vertex as stored: position, normal, colour (linear RGBA, normalised
// 16-bit), interleaved.
struct GltfVertex {
    float position[3];
    float normal[3];
    std::uint16_t colour[4];
};
static_assert(sizeof(GltfVertex) == 32);
// Textured primitives have vertices of their own, with texture coordinates:
// a mesh's other primitives need not carry them.
struct TexturedVertex {
    float position[3];
    float normal[3];
    std::uint16_t colour[4];
    float texcoord[2];
};
static_assert(sizeof(TexturedVertex) == 40);

constexpr int FLOAT = 5126, UNSIGNED_SHORT = 5123, UNSIGNED_INT = 5125;
constexpr int ARRAY_BUFFER = 34962, ELEMENT_ARRAY_BUFFER = 34963;
constexpr int NEAREST = 9728, CLAMP_TO_EDGE = 33071;
constexpr std::uint16_t OPAQUE = 65535;  // alpha 1 as a normalised 16-bit number
const Vec3 FALLBACK_NORMAL{0, 0, 1};  // for a polygon without area and without a normal of its own

// What the glTF material of a polygon depends on.
struct Look {
    bool unlit = false, doubleSided = false, semiTransparent = false;
    std::string texture;
    int image = -1;  // the texture's place in Scene::textures when its file was read
    auto operator<=>(const Look&) const = default;
};

Look look_of(const Scene& scene, const Group& group, const MaterialData* m) {
    Look look{is_unlit(m), is_double_sided(m), is_semi_transparent(m), {}, -1};
    if (!m || !is_textured(m->type)) return look;
    const auto line = static_cast<std::size_t>(m->tim);
    look.texture = group.model->tex[line].name;
    if (texture_of(scene, group, m)) look.image = scene.textureOf[group.modelIndex][line];
    return look;
}

// A material whose texture file was read shows glTF texture `texture` of
// `image`; one whose file is missing looks as if it had none.
Json material_json(const Look& look, int texture, const TimImage* image) {
    std::string name = look.unlit ? "unlit" : "lit";
    if (look.doubleSided) name += " double-sided";
    if (look.semiTransparent) name += " semi-transparent";
    if (!look.texture.empty()) name += " texture " + look.texture;
    Json m;
    m["name"] = name;
    m["pbrMetallicRoughness"] = {{"baseColorFactor", {1.0f, 1.0f, 1.0f, look.semiTransparent ? 0.5f : 1.0f}},
                                 {"metallicFactor", 0.0f},
                                 {"roughnessFactor", 1.0f}};
    if (image) m["pbrMetallicRoughness"]["baseColorTexture"] = {{"index", texture}};
    if (look.semiTransparent) {
        m["alphaMode"] = "BLEND";
    } else if (image && image->transparent) {
        m["alphaMode"] = "MASK";
        m["alphaCutoff"] = 0.5f;
    }
    if (look.doubleSided) m["doubleSided"] = true;
    if (look.unlit) m["extensions"] = {{"KHR_materials_unlit", Json::object()}};
    if (!look.texture.empty()) m["extras"] = {{"texture", look.texture}};
    return m;
}

// The glTF file being built: its JSON, and its binary chunk as views of
// the meshes' own tables and of the images kept here, so that the bulk of
// a large model goes to the file without a copy.
struct Builder {
    Json accessors = Json::array(), bufferViews = Json::array();
    std::vector<std::string_view> bin;
    std::size_t binSize = 0;
    std::deque<std::string> images;  // a deque, so that a view stays where its image is
    std::map<Look, int> materials;   // by look, numbered in order of first use

    int material(const Look& look) {
        return materials.try_emplace(look, static_cast<int>(materials.size())).first->second;
    }
    // Zero bytes up to the next four-byte boundary.
    void align() {
        static constexpr char ZEROS[3] = {};
        if (binSize % 4) bin.emplace_back(ZEROS, 4 - binSize % 4);
        binSize = (binSize + 3) & ~std::size_t{3};
    }
    // Adds bytes that outlive the builder as a new buffer view, starting on
    // a four-byte boundary; an image's view has no target.
    int view(const void* data, std::size_t size, int target, int stride = 0) {
        align();
        Json v{{"buffer", 0}, {"byteOffset", binSize}, {"byteLength", size}};
        if (stride) v["byteStride"] = stride;
        if (target) v["target"] = target;
        bin.emplace_back(static_cast<const char*>(data), size);
        binSize += size;
        bufferViews.push_back(std::move(v));
        return static_cast<int>(bufferViews.size() - 1);
    }
    int accessor(Json a) {
        accessors.push_back(std::move(a));
        return static_cast<int>(accessors.size() - 1);
    }
};

// Finds or adds a vertex: corners with the same position, normal, colour
// (and texture coordinates) share one. Open addressing over the vertex
// numbers, plus one (0: free), kept at most half full: sized for `corners`,
// or made room in as vertices come where their count is not known.
template <class Vertex>
class VertexTable {
public:
    explicit VertexTable(std::size_t corners) {
        std::size_t size = 16;
        while (size < 2 * corners) size *= 2;
        slots_.assign(size, 0);
        // At most one vertex a corner; room untouched costs no memory.
        vertices.reserve(corners);
    }
    // Starts fetching the slot where `v` is looked for first: a polygon's
    // corners are fetched at once rather than one after another.
    void prefetch(const Vertex& v) const { __builtin_prefetch(&slots_[hash(v) & (slots_.size() - 1)]); }
    std::uint32_t find_or_add(const Vertex& v) {
        for (std::size_t i = hash(v) & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i] == 0) {
                vertices.push_back(v);
                slots_[i] = static_cast<std::uint32_t>(vertices.size());
                return slots_[i] - 1;
            }
            if (std::memcmp(&vertices[slots_[i] - 1], &v, sizeof v) == 0) return slots_[i] - 1;
        }
    }
    // Room for one more vertex.
    void make_room() {
        if (2 * (vertices.size() + 1) <= slots_.size()) return;
        slots_.assign(2 * slots_.size(), 0);
        for (std::size_t n = 0; n < vertices.size(); ++n) {
            std::size_t i = hash(vertices[n]) & (slots_.size() - 1);
            while (slots_[i] != 0) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = static_cast<std::uint32_t>(n + 1);
        }
    }
    std::vector<Vertex> vertices;

private:
    static std::uint64_t hash(const Vertex& v) {
        static constexpr std::uint64_t MIX[] = {0x9E3779B97F4A7C15u, 0xC2B2AE3D27D4EB4Fu, 0x165667B19E3779F9u,
                                                0xD6E8FEB86659FD93u, 0xFF51AFD7ED558CCDu};
        constexpr std::size_t WORDS = (sizeof v + 7) / 8;
        static_assert(WORDS <= std::size(MIX));
        std::uint64_t word[WORDS] = {};
        std::memcpy(word, &v, sizeof v);
        std::uint64_t h = 0;
        for (std::size_t i = 0; i < WORDS; ++i) h ^= word[i] * MIX[i];
        return h ^ h >> 31;
    }
    std::vector<std::uint32_t> slots_;
};

// One group's triangles, built on their own so that groups can be built at
// the same time: the shared vertices (those of textured primitives apart),
// and a list of indices for each look, in order of first use.
struct Mesh {
    std::vector<GltfVertex> vertices;
    std::vector<TexturedVertex> texturedVertices;
    std::vector<std::pair<Look, std::vector<std::uint32_t>>> primitives;
    long long leftOut = 0;  // polygons with a corner that is no finite point
};

// Corner k of a polygon whose material shows `image`.
TexturedVertex textured_vertex(Vec3 position, Vec3 normal, const MaterialData& material, int k, const TimImage& image) {
    Rgb c = modulation(material, k);
    auto linear = [](unsigned char value) { return linear_u16(modulation_display(value)); };
    return {{position.x, position.y, position.z},
            {normal.x, normal.y, normal.z},
            {linear(c.r), linear(c.g), linear(c.b), OPAQUE},
            {static_cast<float>(double(material.u[k]) / image.width),
             static_cast<float>(double(material.v[k]) / image.height)}};
}

Mesh build_mesh(const Scene& scene, const Group& group) {
    const RsdData& rsd = *group.model;
    const PlyData& ply = rsd.ply;
    Mesh mesh;
    std::size_t corners = 0;
    for (int p : group.polygons) corners += static_cast<std::size_t>(corner_count(ply.polygon[static_cast<std::size_t>(p)]));
    VertexTable<GltfVertex> table(corners);
    VertexTable<TexturedVertex> texturedTable(0);
    // Within one model, a look is known by the flag bits and the texture
    // line: the primitive of each and the image it shows, found without
    // comparing names.
    struct Kind {
        std::size_t primitive;
        const TimImage* image;
    };
    std::map<std::pair<int, int>, Kind> primitiveOf;
    for (int p : group.polygons) {
        const PolygonData& polygon = ply.polygon[static_cast<std::size_t>(p)];
        if (!is_drawable(polygon, ply.vertex)) {
            ++mesh.leftOut;
            continue;
        }
        const MaterialData* material = material_of(scene, group, p);
        std::pair<int, int> key{material ? material->flag & 7 : 0,
                                material && is_textured(material->type) ? material->tim : -1};
        auto [at, added] = primitiveOf.try_emplace(key, Kind{mesh.primitives.size(), nullptr});
        if (added) {
            // Two texture lines may name the same file.
            Look look = look_of(scene, group, material);
            at->second.image = texture_of(scene, group, material);
            auto same = std::find_if(mesh.primitives.begin(), mesh.primitives.end(),
                                     [&](const auto& primitive) { return primitive.first == look; });
            at->second.primitive = static_cast<std::size_t>(same - mesh.primitives.begin());
            if (same == mesh.primitives.end()) mesh.primitives.emplace_back(std::move(look), std::vector<std::uint32_t>());
        }
        const TimImage* image = at->second.image;
        Vec3 face = face_normal(polygon, ply.vertex);
        if (face.x == 0 && face.y == 0 && face.z == 0) face = FALLBACK_NORMAL;
        std::uint32_t index[4];
        GltfVertex corner[4];
        const int corners = corner_count(polygon);
        for (int k = 0; k < corners; ++k) {
            const VectorData& vertex = ply.vertex[static_cast<std::size_t>(polygon.vtx[k])];
            Vec3 position = to_gltf(vertex), normal = corner_normal(polygon, material, k, ply, face);
            if (image) [[unlikely]] {
                texturedTable.make_room();
                index[k] = texturedTable.find_or_add(textured_vertex(position, normal, *material, k, *image));
                continue;
            }
            Rgb colour = corner_colour(material, k);
            corner[k] = {{position.x, position.y, position.z}, {normal.x, normal.y, normal.z},
                         {linear_u16(colour.r), linear_u16(colour.g), linear_u16(colour.b), OPAQUE}};
            table.prefetch(corner[k]);
        }
        if (!image)
            for (int k = 0; k < corners; ++k) index[k] = table.find_or_add(corner[k]);
        Triangles triangles = triangles_of(polygon);
        std::vector<std::uint32_t>& indices = mesh.primitives[at->second.primitive].second;
        for (int t = 0; t < triangles.count; ++t)
            for (int k : triangles.corners[static_cast<std::size_t>(t)]) indices.push_back(index[k]);
    }
    mesh.vertices = std::move(table.vertices);
    mesh.texturedVertices = std::move(texturedTable.vertices);
    return mesh;
}

// The attributes of a mesh's vertices, their bytes added to the binary
// chunk; null when there are none.
template <class Vertex>
Json attributes_json(const std::vector<Vertex>& vertices, Builder& out) {
    if (vertices.empty()) return nullptr;
    Vec3 min = {vertices[0].position[0], vertices[0].position[1], vertices[0].position[2]}, max = min;
    for (const Vertex& v : vertices) {
        min = {std::min(min.x, v.position[0]), std::min(min.y, v.position[1]), std::min(min.z, v.position[2])};
        max = {std::max(max.x, v.position[0]), std::max(max.y, v.position[1]), std::max(max.z, v.position[2])};
    }
    int view = out.view(vertices.data(), vertices.size() * sizeof(Vertex), ARRAY_BUFFER, sizeof(Vertex));
    auto attribute = [&](std::size_t offset, int type, const char* shape) {
        return Json{{"bufferView", view}, {"byteOffset", offset}, {"componentType", type},
                    {"count", vertices.size()}, {"type", shape}};
    };
    Json position = attribute(offsetof(Vertex, position), FLOAT, "VEC3");
    position["min"] = {min.x, min.y, min.z};
    position["max"] = {max.x, max.y, max.z};
    Json colour = attribute(offsetof(Vertex, colour), UNSIGNED_SHORT, "VEC4");
    colour["normalized"] = true;
    Json attributes{{"POSITION", out.accessor(std::move(position))},
                    {"NORMAL", out.accessor(attribute(offsetof(Vertex, normal), FLOAT, "VEC3"))},
                    {"COLOR_0", out.accessor(std::move(colour))}};
    if constexpr (std::is_same_v<Vertex, TexturedVertex>)
        attributes["TEXCOORD_0"] = out.accessor(attribute(offsetof(Vertex, texcoord), FLOAT, "VEC2"));
    return attributes;
}

// The group's mesh as glTF, its bytes added to the binary chunk; null
// when it has no polygon to show (glTF has no empty mesh).
Json mesh_json(const Group& group, const Mesh& mesh, Builder& out) {
    if (mesh.primitives.empty()) return nullptr;
    const Json attributes = attributes_json(mesh.vertices, out);
    const Json texturedAttributes = attributes_json(mesh.texturedVertices, out);
    Json list = Json::array();
    for (const auto& [look, indices] : mesh.primitives) {
        int indexView = out.view(indices.data(), indices.size() * sizeof(std::uint32_t), ELEMENT_ARRAY_BUFFER);
        int accessor = out.accessor({{"bufferView", indexView}, {"componentType", UNSIGNED_INT},
                                     {"count", indices.size()}, {"type", "SCALAR"}});
        list.push_back({{"attributes", look.image < 0 ? attributes : texturedAttributes},
                        {"indices", accessor},
                        {"material", out.material(look)},
                        {"mode", 4}});
    }
    return {{"name", group.name}, {"primitives", std::move(list)}};
}

// Where an export puts its binary buffer and its images: in the binary
// chunk of a .glb file, or in files of their own beside a .gltf file, named
// in its JSON by their bare names.
struct Layout {
    bool apart = false;
    std::string binName, imageStem;  // bare names, when apart
};

// A URI that names a file beside the glTF file: its name with every byte
// but letters, digits and "-._~" percent-encoded.
std::string uri_of(const std::string& name) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string uri;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::strchr("-._~", c)) {
            uri += c;
        } else {
            uri += '%';
            uri += HEX[byte >> 4];
            uri += HEX[byte & 15];
        }
    }
    return uri;
}

// A texture file's image as PNG: in the binary chunk, or kept to be written
// as image file `number` of its own.
Json image_json(const Texture& texture, int number, const Layout& layout, Builder& out) {
    const TimImage& image = texture.image;
    PngWriter png(image.width, image.height, true);
    png.write_rows(image.rgba.data(), image.height);
    const std::string& bytes = out.images.emplace_back(png.finish());
    if (layout.apart)
        return {{"name", texture.name}, {"uri", uri_of(layout.imageStem + "-" + std::to_string(number) + ".png")},
                {"mimeType", "image/png"}};
    return {{"name", texture.name}, {"bufferView", out.view(bytes.data(), bytes.size(), 0)}, {"mimeType", "image/png"}};
}

void put_u32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xff));
}

// What the pieces of the files are views of.
struct ExportBytes {
    std::vector<Mesh> meshes;
    std::deque<std::string> images;
    std::string head;  // .glb: the header and the JSON chunk; .gltf: the JSON
};

// The scene as glTF JSON; the bytes it names are views in `out.bin` (and
// for a .glb, the images too) of what `kept` holds.
Json export_json(const Scene& scene, const Layout& layout, ExportBytes& kept, Builder& out, long long& leftOut) {
    // The groups' triangles on several threads; the file is then put
    // together in group order, so its bytes do not depend on the threads.
    const std::size_t groups = scene.groups.size();
    std::vector<Mesh>& built = kept.meshes;
    built.resize(groups);
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
    Json nodes = Json::array(), meshes = Json::array();
    for (std::size_t k = 0; k < groups; ++k) {
        const Group& group = scene.groups[k];
        Json node{{"name", group.name}};
        leftOut += built[k].leftOut;
        Json mesh = mesh_json(group, built[k], out);
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
        // Each image that a material shows, once, in order of first use,
        // with a texture of its own; all share the one sampler.
        Json materials = Json::array(), textures = Json::array(), images = Json::array();
        std::map<int, int> textureNumber;  // the glTF texture of each image shown
        for (const Look& look : looks) {
            if (look.image < 0) {
                materials.push_back(material_json(look, -1, nullptr));
                continue;
            }
            const Texture& texture = scene.textures[static_cast<std::size_t>(look.image)];
            auto [at, added] = textureNumber.try_emplace(look.image, static_cast<int>(textures.size()));
            if (added) {
                textures.push_back({{"sampler", 0}, {"source", at->second}});
                images.push_back(image_json(texture, at->second, layout, out));
            }
            materials.push_back(material_json(look, at->second, &texture.image));
        }
        gltf["materials"] = std::move(materials);
        if (!textures.empty()) {
            gltf["textures"] = std::move(textures);
            gltf["images"] = std::move(images);
            gltf["samplers"] = Json::array({{{"magFilter", NEAREST}, {"minFilter", NEAREST},
                                             {"wrapS", CLAMP_TO_EDGE}, {"wrapT", CLAMP_TO_EDGE}}});
        }
        gltf["accessors"] = std::move(out.accessors);
        gltf["bufferViews"] = std::move(out.bufferViews);
        out.align();
        Json buffer{{"byteLength", out.binSize}};
        if (layout.apart) buffer["uri"] = uri_of(layout.binName);
        gltf["buffers"] = Json::array({std::move(buffer)});
    }
    kept.images = std::move(out.images);
    return gltf;
}

}  // namespace

FileBytes make_glb(const Scene& scene, long long& leftOut) {
    auto kept = std::make_shared<ExportBytes>();
    Builder out;
    std::string json = json_text(export_json(scene, Layout{}, *kept, out, leftOut));
    json.resize((json.size() + 3) & ~std::size_t{3}, ' ');

    const std::uint64_t total = 12 + 8 + json.size() + (out.bin.empty() ? 0 : 8 + out.binSize);
    if (total > UINT32_MAX) file_error("The model is too large for a glTF binary file!", "");
    std::string& head = kept->head;
    put_u32(head, GLB_MAGIC);
    put_u32(head, 2);
    put_u32(head, static_cast<std::uint32_t>(total));
    put_u32(head, static_cast<std::uint32_t>(json.size()));
    put_u32(head, GLB_JSON);
    head += json;
    if (!out.bin.empty()) {
        put_u32(head, static_cast<std::uint32_t>(out.binSize));
        put_u32(head, GLB_BIN);
    }
    FileBytes file{kept, {head}};
    file.pieces.insert(file.pieces.end(), out.bin.begin(), out.bin.end());
    return file;
}

ExportFiles make_gltf(const Scene& scene, const std::string& path, long long& leftOut) {
    // NAME.gltf beside NAME.bin and NAME-K.png.
    const std::string stem = path.substr(0, path.size() - 5);
    const std::size_t slash = stem.rfind('/');
    const std::string bare = slash == std::string::npos ? stem : stem.substr(slash + 1);
    const Layout layout{true, bare + ".bin", bare};
    auto kept = std::make_shared<ExportBytes>();
    Builder out;
    kept->head = json_text(export_json(scene, layout, *kept, out, leftOut));
    // The JSON last: a set cut short while renamed leaves no file that names missing ones.
    ExportFiles files{kept, {}};
    if (!out.bin.empty()) files.files.push_back({stem + ".bin", out.bin});
    int number = 0;
    for (const std::string& image : kept->images)
        files.files.push_back({stem + "-" + std::to_string(number++) + ".png", {image}});
    files.files.push_back({path, {kept->head}});
    return files;
}
