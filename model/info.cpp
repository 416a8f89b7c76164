// "info": what each group holds, and what looks wrong in it.
#include "geometry.h"
#include "json.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace {

constexpr const char* TYPES[] = {"C", "G", "T", "D", "H", "other"};

struct Bounds {
    bool empty = true;
    Vec3 min{}, max{};
    void add(Vec3 v) {
        if (empty) {
            min = max = v;
            empty = false;
        }
        min = {std::min(min.x, v.x), std::min(min.y, v.y), std::min(min.z, v.z)};
        max = {std::max(max.x, v.x), std::max(max.y, v.y), std::max(max.z, v.z)};
    }
    void add(const Bounds& other) {
        if (!other.empty) add(other.min), add(other.max);
    }
};

struct Counts {
    long long vertices = 0, normals = 0, triangles = 0, quadrangles = 0;
    long long materials[6] = {};
    std::set<std::string> textures;
    Bounds bounds;
    long long withoutMaterial = 0, severalMaterials = 0, unusedVertices = 0;
    long long outsideImage = 0;  // textured materials with a corner's coordinates outside their image

    void add(const Counts& other) {
        vertices += other.vertices;
        normals += other.normals;
        triangles += other.triangles;
        quadrangles += other.quadrangles;
        for (int t = 0; t < 6; ++t) materials[t] += other.materials[t];
        textures.insert(other.textures.begin(), other.textures.end());
        bounds.add(other.bounds);
        withoutMaterial += other.withoutMaterial;
        severalMaterials += other.severalMaterials;
        unusedVertices += other.unusedVertices;
        outsideImage += other.outsideImage;
    }
};

int type_column(char type) {
    const char* found = std::char_traits<char>::find("CGTDH", 5, type);
    return found ? static_cast<int>(found - "CGTDH") : 5;
}

// What one model's polygons and materials say of all its groups: how many
// material records name each polygon, and which vertices some polygon uses.
struct ModelUse {
    std::vector<unsigned char> namings;
    std::vector<bool> vertexUsed;
    std::vector<std::size_t> normalSeen;  // the last group (plus one) that used each normal
};

ModelUse model_use(const RsdData& rsd) {
    ModelUse use;
    use.namings.assign(rsd.ply.polygon.size(), 0);
    for (const MaterialData& m : rsd.mat.material) {
        unsigned char& n = use.namings[static_cast<std::size_t>(m.polygon)];
        n = static_cast<unsigned char>(std::min(n + 1, 2));
    }
    use.vertexUsed.assign(rsd.ply.vertex.size(), false);
    for (const PolygonData& polygon : rsd.ply.polygon)
        for (int k = 0; k < corner_count(polygon); ++k) use.vertexUsed[static_cast<std::size_t>(polygon.vtx[k])] = true;
    use.normalSeen.assign(rsd.ply.normal.size(), 0);
    return use;
}

// Whether a corner the material's polygon has (a triangle's fourth is
// none) has coordinates outside the image.
bool outside(const MaterialData& material, const PolygonData& polygon, const TimImage& image) {
    for (int k = 0; k < corner_count(polygon); ++k)
        if (material.u[k] < 0 || material.u[k] >= image.width || material.v[k] < 0 || material.v[k] >= image.height)
            return true;
    return false;
}

Counts count_group(const Scene& scene, const Group& group, std::size_t groupNumber, ModelUse& use) {
    const RsdData& rsd = *group.model;
    Counts c;
    c.vertices = group.vertexCount;
    for (long long v = group.firstVertex; v < group.firstVertex + group.vertexCount; ++v) {
        const VectorData& vertex = rsd.ply.vertex[static_cast<std::size_t>(v)];
        c.bounds.add(Vec3{vertex.x, vertex.y, vertex.z});
        if (!use.vertexUsed[static_cast<std::size_t>(v)]) ++c.unusedVertices;
    }
    c.normals = group.split ? 0 : rsd.ply.nnormal;
    for (int p : group.polygons) {
        const PolygonData& polygon = rsd.ply.polygon[static_cast<std::size_t>(p)];
        ++(polygon.flag == 0 ? c.triangles : c.quadrangles);
        unsigned char namings = use.namings[static_cast<std::size_t>(p)];
        c.withoutMaterial += namings == 0;
        c.severalMaterials += namings > 1;
        if (!group.split || rsd.ply.nnormal == 0) continue;
        for (int k = 0; k < corner_count(polygon); ++k) {
            if (!has_normal(rsd.ply, polygon.nrm[k])) continue;
            std::size_t& seen = use.normalSeen[static_cast<std::size_t>(polygon.nrm[k])];
            if (seen != groupNumber + 1) ++c.normals;
            seen = groupNumber + 1;
        }
    }
    for (int m : group.materials) {
        const MaterialData& material = rsd.mat.material[static_cast<std::size_t>(m)];
        ++c.materials[type_column(material.type)];
        if (!is_textured(material.type)) continue;
        c.textures.insert(rsd.tex[static_cast<std::size_t>(material.tim)].name);
        const TimImage* image = texture_of(scene, group, &material);
        if (image && outside(material, rsd.ply.polygon[static_cast<std::size_t>(material.polygon)], *image))
            ++c.outsideImage;
    }
    return c;
}

std::string number(float value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string bounds_text(const Bounds& b) {
    if (b.empty) return "-";
    return number(b.min.x) + " " + number(b.min.y) + " " + number(b.min.z) + " .. " + number(b.max.x) + " " +
           number(b.max.y) + " " + number(b.max.z);
}

std::vector<std::string> row(const std::string& name, const std::string& vertices, const Counts& c) {
    std::vector<std::string> cells{name, vertices, std::to_string(c.normals), std::to_string(c.triangles),
                                   std::to_string(c.quadrangles)};
    for (long long n : c.materials) cells.push_back(std::to_string(n));
    cells.push_back(std::to_string(c.textures.size()));
    cells.push_back(bounds_text(c.bounds));
    return cells;
}

// Rows in aligned columns: those marked as text (names, words, bounds)
// read from the left, numbers from the right.
void print_columns(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& text, std::FILE* out) {
    std::vector<std::size_t> width(rows[0].size(), 0);
    for (const auto& r : rows)
        for (std::size_t k = 0; k < r.size(); ++k) width[k] = std::max(width[k], r[k].size());
    for (const auto& r : rows) {
        std::string line;
        for (std::size_t k = 0; k < r.size(); ++k) {
            std::string pad(width[k] - r[k].size(), ' ');
            line += text[k] ? r[k] + (k + 1 == r.size() ? "" : pad) : pad + r[k];
            if (k + 1 < r.size()) line += "  ";
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
}

// The texture files in merged-number order: found or not, and what their
// image is where it could be read.
void print_textures(const Scene& scene, std::FILE* out) {
    if (scene.textures.empty()) return;
    std::vector<std::vector<std::string>> rows{{"texture", "found", "bits", "size", "tables"}};
    for (const Texture& t : scene.textures) {
        if (!t.read()) {
            rows.push_back({t.name, t.found ? "yes" : "no", "-", "-", "-"});
            continue;
        }
        const TimImage& image = t.image;
        std::string size = std::to_string(image.width) + "x" + std::to_string(image.height);
        rows.push_back({t.name, "yes", std::to_string(image.bits), size, std::to_string(image.tables)});
    }
    print_columns(rows, {true, true, false, false, false}, out);
}

void print_table(const Scene& scene, const std::vector<Counts>& counts, const Counts& total, std::FILE* out) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"group", "vertices", "normals", "triangles", "quadrangles", "C", "G", "T", "D", "H", "other",
                    "textures", "bounds (min .. max)"});
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const Group& g = scene.groups[i];
        std::string vertices = std::to_string(g.vertexCount);
        if (g.split) vertices = std::to_string(g.firstVertex) + "-" + std::to_string(g.firstVertex + g.vertexCount - 1);
        rows.push_back(row(g.name, vertices, counts[i]));
    }
    rows.push_back(row("total", std::to_string(total.vertices), total));
    std::vector<bool> text(rows[0].size(), false);
    text.front() = text.back() = true;
    print_columns(rows, text, out);
    print_textures(scene, out);
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const std::string& name = scene.groups[i].name;
        const Counts& c = counts[i];
        if (c.withoutMaterial) std::fprintf(out, "%s: polygons without material: %lld\n", name.c_str(), c.withoutMaterial);
        if (c.severalMaterials)
            std::fprintf(out, "%s: polygons named by several materials: %lld\n", name.c_str(), c.severalMaterials);
        if (c.unusedVertices) std::fprintf(out, "%s: vertices no polygon uses: %lld\n", name.c_str(), c.unusedVertices);
        if (c.outsideImage)
            std::fprintf(out, "%s: materials with texture coordinates outside their image: %lld\n", name.c_str(),
                         c.outsideImage);
    }
    for (const Texture& t : scene.textures) {
        if (!t.found) std::fprintf(out, "%s: texture file not found\n", t.name.c_str());
        else if (t.failure)
            std::fprintf(out, "%s: texture file not read: %s\n", t.name.c_str(), t.failure->message.c_str());
    }
}

Json counts_json(const Counts& c, bool total) {
    Json j;
    j["vertices"] = c.vertices;
    j["normals"] = c.normals;
    j["triangles"] = c.triangles;
    j["quadrangles"] = c.quadrangles;
    Json materials;
    for (int t = 0; t < 6; ++t) materials[TYPES[t]] = c.materials[t];
    j["materials"] = materials;
    if (total) j["textures"] = c.textures.size();
    else j["textures"] = c.textures;
    if (c.bounds.empty) j["bounds"] = nullptr;
    else j["bounds"] = {{"min", {c.bounds.min.x, c.bounds.min.y, c.bounds.min.z}},
                        {"max", {c.bounds.max.x, c.bounds.max.y, c.bounds.max.z}}};
    j["polygonsWithoutMaterial"] = c.withoutMaterial;
    j["polygonsWithSeveralMaterials"] = c.severalMaterials;
    j["unusedVertices"] = c.unusedVertices;
    j["materialsWithCoordinatesOutsideImage"] = c.outsideImage;
    return j;
}

Json textures_json(const Scene& scene) {
    Json list = Json::array();
    for (const Texture& t : scene.textures) {
        Json j{{"name", t.name}, {"found", t.found}, {"bits", nullptr}, {"width", nullptr}, {"height", nullptr},
               {"tables", nullptr}};
        if (t.read()) {
            j["bits"] = t.image.bits;
            j["width"] = t.image.width;
            j["height"] = t.image.height;
            j["tables"] = t.image.tables;
        }
        list.push_back(std::move(j));
    }
    return list;
}

}  // namespace

void print_info(const Scene& scene, bool json, std::FILE* out) {
    std::vector<Counts> counts;
    Counts total;
    std::vector<ModelUse> uses;
    for (const RsdData& rsd : malrsd) uses.push_back(model_use(rsd));
    for (std::size_t i = 0; i < scene.groups.size(); ++i) {
        const Group& g = scene.groups[i];
        counts.push_back(count_group(scene, g, i, uses[g.modelIndex]));
        total.add(counts.back());
    }
    if (!json) return print_table(scene, counts, total, out);
    Json groups = Json::array();
    for (std::size_t i = 0; i < counts.size(); ++i) {
        Json g;
        g["name"] = scene.groups[i].name;
        g.update(counts_json(counts[i], false));
        groups.push_back(std::move(g));
    }
    Json all;
    all["groups"] = std::move(groups);
    all["total"] = counts_json(total, true);
    all["textures"] = textures_json(scene);
    std::fprintf(out, "%s\n", json_text(all).c_str());
}
