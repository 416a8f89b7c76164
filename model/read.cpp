// Reading the models and cutting merged ones into the inputs they came from.
#include "model.h"

#include <algorithm>
#include <filesystem>

namespace {

bool exists(const std::string& name) {
    std::error_code ec;
    return !name.empty() && std::filesystem::exists(name, ec);
}

// The groups that a merged model's COD file, or the OGP file it names,
// records, checked to cover the model's vertices in order, each once. Empty
// when a file they need is missing.
std::vector<VertexGroup> recorded_groups(const RsdData& rsd) {
    if (!rsd.merged || !exists(rsd.codName)) return {};
    std::string ogpFile;
    std::vector<VertexGroup> groups = readCOD(rsd.codName, ogpFile);
    if (!ogpFile.empty()) ogpFile = found_beside(ogpFile, rsd.codName);
    const std::string& source = ogpFile.empty() ? rsd.codName : ogpFile;
    if (!ogpFile.empty()) {
        if (!exists(ogpFile)) return {};
        groups = readOGP(ogpFile);
    }
    long long next = 0;
    for (const VertexGroup& group : groups) {
        if (group.first != next) file_error("Vertex's index is incorrect!", source);
        next += group.count;
    }
    if (next != rsd.ply.nvertex) file_error("Vertex's index is incorrect!", source);
    return groups;
}

void add_groups(const RsdData& rsd, std::size_t modelIndex, Scene& scene) {
    std::vector<VertexGroup> recorded = recorded_groups(rsd);
    const bool split = !recorded.empty();
    if (!split) recorded.push_back({rsd.rsdName.substr(0, stem_length(rsd.rsdName)), rsd.ply.nvertex, 0});
    const std::size_t base = scene.groups.size();
    for (VertexGroup& vertices : recorded) {
        Group& group = scene.groups.emplace_back();
        group.name = std::move(vertices.name);
        group.model = &rsd;
        group.modelIndex = modelIndex;
        group.firstVertex = vertices.first;
        group.vertexCount = vertices.count;
        group.split = split;
    }
    // A polygon belongs to the group of its first corner's vertex.
    auto group_of = [&](int vertex) {
        auto after = std::upper_bound(scene.groups.begin() + static_cast<long>(base), scene.groups.end(), vertex,
                                      [](int v, const Group& g) { return v < g.firstVertex; });
        return after - 1;
    };
    const std::vector<PolygonData>& polygons = rsd.ply.polygon;
    std::vector<int>& materialOf = scene.materialOf[modelIndex];
    materialOf.assign(polygons.size(), -1);
    for (std::size_t p = 0; p < polygons.size(); ++p)
        group_of(polygons[p].vtx[0])->polygons.push_back(static_cast<int>(p));
    const std::vector<MaterialData>& materials = rsd.mat.material;
    for (std::size_t m = 0; m < materials.size(); ++m) {
        int polygon = materials[m].polygon;
        materialOf[static_cast<std::size_t>(polygon)] = static_cast<int>(m);
        group_of(polygons[static_cast<std::size_t>(polygon)].vtx[0])->materials.push_back(static_cast<int>(m));
    }
}

}  // namespace

std::string found_beside(const std::string& name, const std::string& naming) {
    const std::size_t slash = naming.rfind('/');
    if (exists(name) || slash == std::string::npos || name.empty() || name[0] == '/') return name;
    std::string beside = naming.substr(0, slash + 1) + name;
    return exists(beside) ? beside : name;
}

void read_scene(int count, char** names, Scene& scene) {
    MERGED = 1;
    NumRsd = count;
    readRSD(names);
    for (RsdData& rsd : malrsd)
        for (std::string* name : {&rsd.plyName, &rsd.matName, &rsd.codName}) *name = found_beside(*name, rsd.rsdName);
    if (PLY) readPLY();
    if (MAT) readMAT();
    scene.materialOf.resize(malrsd.size());
    for (std::size_t i = 0; i < malrsd.size(); ++i) add_groups(malrsd[i], i, scene);
    read_textures(scene);
}
