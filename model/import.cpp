// "import": the triangles a glTF file's scene draws, as an input model of
// these formats. Triangles become polygons (two that share an edge one
// quadrangle), their looks material lines, the images they show TIM files;
// an RSD file names them all. The mapping is the inverse of "export".
#include "geometry.h"
#include "gltf_read.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <optional>

namespace {

// Room for the longest line: a material line with a range of polygons
// ("first-") before it, or a vertex or polygon line.
constexpr std::size_t TEXT_LINE_MAX = std::max({INT_TEXT_MAX + MATERIAL_LINE_MAX, VECTOR_LINE_MAX, POLYGON_LINE_MAX});

// Finds or adds a vector: equal vectors share one number (0 and -0 are
// equal; a not-a-number only shares with the same bits). Open addressing
// over the numbers plus one (0: free), grown at half full. The vectors are
// kept in blocks, so that the table grows without being copied: a copy
// would hold it twice at once.
class VectorTable {
public:
    int find_or_add(VectorData v) {
        v = {v.x + 0.0f, v.y + 0.0f, v.z + 0.0f};
        return find_or_add(v, hash(v));
    }

    // Numbers each vector that `order` names by its index and `numberOf`
    // does not number yet (-1), in the order of first naming, as
    // find_or_add would one by one; the slots of the next few are fetched
    // from memory while one is looked up, which is most of the time.
    template <class Value>
    void number_all(const std::vector<std::uint32_t>& order, Value value, std::vector<int>& numberOf) {
        constexpr std::size_t AHEAD = 16;
        struct Pending {
            std::uint32_t index;
            VectorData v;
            std::uint64_t h;
        };
        std::array<Pending, AHEAD> ring;
        std::size_t first = 0, count = 0;
        auto finish_one = [&] {
            const Pending& p = ring[first];
            numberOf[p.index] = find_or_add(p.v, p.h);
            first = (first + 1) % AHEAD, --count;
        };
        for (std::uint32_t i : order) {
            if (numberOf[i] != -1) continue;
            numberOf[i] = -2;  // on its way
            if (count == AHEAD) finish_one();
            VectorData v = value(i);
            v = {v.x + 0.0f, v.y + 0.0f, v.z + 0.0f};
            const std::uint64_t h = hash(v);
            if (!slots_.empty()) __builtin_prefetch(&slots_[h & (slots_.size() - 1)]);
            ring[(first + count++) % AHEAD] = {i, v, h};
            // Halfway, its slot has come: the vector it holds is fetched too.
            if (count > AHEAD / 2 && !slots_.empty()) {
                const std::uint32_t held = slots_[ring[(first + count - 1 - AHEAD / 2) % AHEAD].h & (slots_.size() - 1)];
                if (held != 0) __builtin_prefetch(&values[held - 1]);
            }
        }
        while (count > 0) finish_one();
    }
    std::deque<VectorData> values;

private:
    int find_or_add(const VectorData& v, std::uint64_t h) {
        if (2 * (values.size() + 1) > slots_.size()) grow();
        for (std::size_t i = h & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i] == 0) {
                if (values.size() >= INT32_MAX) file_error("The model is too large for a PLY file!", "");
                values.push_back(v);
                slots_[i] = static_cast<std::uint32_t>(values.size());
                return static_cast<int>(values.size() - 1);
            }
            if (std::memcmp(&values[slots_[i] - 1], &v, sizeof v) == 0) return static_cast<int>(slots_[i] - 1);
        }
    }
    // Every bit of the three floats reaches the low bits, which pick the
    // slot: coordinates often differ only in their high bits.
    static std::uint64_t hash(const VectorData& v) {
        std::uint32_t w[3];
        std::memcpy(w, &v, sizeof w);
        std::uint64_t h = (std::uint64_t(w[0]) << 32 | w[1]) ^ std::uint64_t(w[2]) * 0x9E3779B97F4A7C15u;
        h = (h ^ h >> 33) * 0xFF51AFD7ED558CCDu;
        h = (h ^ h >> 33) * 0xC4CEB9FE1A85EC53u;
        return h ^ h >> 33;
    }
    void grow() {
        std::vector<std::uint32_t> slots(std::max<std::size_t>(1024, 2 * slots_.size()), 0);
        for (std::size_t k = 0; k < values.size(); ++k) {
            std::size_t i = hash(values[k]) & (slots.size() - 1);
            while (slots[i] != 0) i = (i + 1) & (slots.size() - 1);
            slots[i] = static_cast<std::uint32_t>(k + 1);
        }
        slots_ = std::move(slots);
    }
    std::vector<std::uint32_t> slots_;
};

// A polygon corner as the files give it; corners equal in all of this may
// be one corner of a quadrangle.
struct Corner {
    int vertex = 0, normal = -1;
    std::array<int, 3> colour{};
    int u = 0, v = 0;
    bool outside = false;  // its texture coordinates lay outside 0..1
    bool operator==(const Corner&) const = default;
};

// One run of polygons with the same material: one material line.
struct MaterialRun {
    int first, last;
    MaterialData material;
};

// The numbers of a material line, as many as its type has.
std::array<int, 21> numbers_of(const MaterialData& m) {
    std::array<int, 21> numbers{};
    std::size_t n = 0;
    visit_material_numbers(m, [&](int number) { numbers[n++] = number; });
    return numbers;
}

bool same_material(const MaterialData& a, const MaterialData& b) {
    return a.flag == b.flag && a.shade == b.shade && a.type == b.type && numbers_of(a) == numbers_of(b);
}

// A texture: the TIM line its image was given, and the image's size.
struct TimLine {
    int line, width, height;
};

// Polygon and material lines are written as they are made, to scratch
// files, and copied into the PLY and MAT files after their counts and the
// vertices: only the vertex and normal tables are held.
class Importer {
public:
    Importer(GltfFile& file, const std::string& stem, const ImportOptions& options, OutputSet& out)
        : file_(file), stem_(stem), ply_(stem + ".ply"), mat_(stem + ".mat"), options_(options), out_(out),
          polygonScratch_(out.scratch(ply_)), materialScratch_(out.scratch(mat_)),
          polygonFile_(ply_, polygonScratch_), materialFile_(mat_, materialScratch_) {}

    void add(const DrawnPrimitive& p);
    void write(const std::string& rsd);
    bool empty() const { return polygons_ == 0; }
    long long outside = 0;  // corners whose texture coordinates were clamped
    std::vector<std::string> notes;  // on images whose size or mode changed

private:
    const TimLine& texture(int image);
    Corner corner(const DrawnPrimitive& p, std::uint32_t i, const GltfMaterial* m, const TimLine* t);
    void add_polygon(PolygonData polygon, const Corner* corners, bool faceNormal, const GltfMaterial* m,
                     const TimLine* t, char shade);
    void end_run();
    std::string tim_name(int line) const { return stem_ + "-" + std::to_string(line) + ".tim"; }

    GltfFile& file_;
    const std::string stem_, ply_, mat_;
    const ImportOptions& options_;
    OutputSet& out_;
    const std::string polygonScratch_, materialScratch_;
    OutFile polygonFile_, materialFile_;
    VectorTable vertices_, normals_;
    long long polygons_ = 0, runs_ = 0;
    std::optional<MaterialRun> run_;   // the material line being extended
    std::map<int, TimLine> textures_;  // by glTF image
    // The numbers of the vertices and normals that primitives sharing
    // theirs have used so far, -1 where none yet.
    std::array<int, 3> sharing_{-1, -1, -1};
    std::vector<int> vertexOf_, normalOf_;
    std::vector<std::uint32_t> numbered_;  // the entries set since `sharing_` changed
    std::vector<VectorData> faceCorners_ = std::vector<VectorData>(4);  // a polygon's corners, for its face normal
};

// The image's TIM file, written (under its temporary name) at its first use.
const TimLine& Importer::texture(int image) {
    const auto known = textures_.find(image);
    if (known != textures_.end()) return known->second;
    const int line = static_cast<int>(textures_.size());
    const std::string name = tim_name(line);
    name_error(name);
    RgbaImage pixels = file_.image(image);
    const int width = pixels.width, height = pixels.height;
    // Its mode as it is, where it may change.
    const int bits = options_.texture.bits || options_.texture.fit ? smallest_tim_bits(pixels.rgba, width, height) : 0;
    const TimTexture made = make_tim(pixels, options_.texture, name);
    if (bits && (bits != made.bits || width != pixels.width || height != pixels.height))
        notes.push_back("image " + std::to_string(image) + " (" + std::to_string(width) + " x " + std::to_string(height) +
                        ", " + std::to_string(bits) + "-bit) written as " + name + " (" +
                        std::to_string(pixels.width) + " x " + std::to_string(pixels.height) + ", " +
                        std::to_string(made.bits) + "-bit)");
    OutFile tim(name, out_.create(name));
    tim.put(made.bytes);
    tim.close();
    return textures_.emplace(image, TimLine{line, pixels.width, pixels.height}).first->second;
}

// glTF vertex i as a corner: its numbers in the vertex and normal tables
// (given already), its colour as the material type wants it and its texel.
Corner Importer::corner(const DrawnPrimitive& p, std::uint32_t i, const GltfMaterial* m, const TimLine* t) {
    Corner c;
    c.vertex = vertexOf_[i];
    if (p.normal) c.normal = normalOf_[i];
    if (!m) {
        c.colour = {LIGHT_GREY.r, LIGHT_GREY.g, LIGHT_GREY.b};
        return c;
    }
    for (std::size_t k = 0; k < 3; ++k) {
        const double value = m->factor[k] * (p.colour ? double(p.colour[std::size_t(p.colourSize) * i + k]) : 1.0);
        // Textured: the inverse of modulation with 128 as neutral.
        const double scaled = std::round((t ? 128.0 : 255.0) * value);
        c.colour[k] = scaled > 255 ? 255 : scaled > 0 ? int(scaled) : 0;
    }
    if (t) {
        const float s = p.texcoord[2 * i], r = p.texcoord[2 * i + 1];
        c.outside = !(s >= 0 && s <= 1 && r >= 0 && r <= 1);
        auto texel = [](float coordinate, int size) {
            const double at = std::round(double(coordinate) * size);
            return at >= size - 1 ? size - 1 : at > 0 ? int(at) : 0;
        };
        c.u = texel(s, t->width);
        c.v = texel(r, t->height);
    }
    return c;
}

void Importer::add_polygon(PolygonData polygon, const Corner* corners, bool faceNormal, const GltfMaterial* m,
                           const TimLine* t, char shade) {
    const int count = corner_count(polygon);
    if (faceNormal) {
        std::vector<VectorData>& corners = faceCorners_;
        PolygonData own = polygon;
        for (int k = 0; k < count; ++k) corners[std::size_t(k)] = vertices_.values[std::size_t(polygon.vtx[k])], own.vtx[k] = k;
        const Vec3 glTF = face_normal(own, corners);
        const Direction n = from_gltf({glTF.x, glTF.y, glTF.z});
        const int number = normals_.find_or_add({float(n.x), float(n.y), float(n.z)});
        for (int& k : polygon.nrm) k = number;
    }
    if (polygons_ >= INT32_MAX) file_error("The model is too large for a PLY file!", ply_);
    const int number = static_cast<int>(polygons_++);
    char line[TEXT_LINE_MAX];
    polygonFile_.put(std::string_view(line, static_cast<std::size_t>(writePLY2(line, polygon) - line)));

    MaterialData material{};
    material.flag = m ? int(m->unlit) | int(m->doubleSided) << 1 | int(m->blend) << 2 : 0;
    material.shade = shade;
    bool allEqual = true, allWhite = true;
    for (int k = 0; k < count; ++k) {
        const Corner& c = corners[k];
        material.r[k] = c.colour[0], material.g[k] = c.colour[1], material.b[k] = c.colour[2];
        allEqual = allEqual && c.colour == corners[0].colour;
        allWhite = allWhite && c.colour == std::array<int, 3>{128, 128, 128};
        if (t) material.u[k] = c.u, material.v[k] = c.v, outside += c.outside;
    }
    if (t) {
        material.tim = t->line;
        material.type = allWhite ? 'T' : allEqual ? 'D' : 'H';
    } else {
        material.type = allEqual ? 'C' : 'G';
    }
    if (run_ && run_->last + 1 == number && same_material(run_->material, material)) {
        run_->last = number;
        return;
    }
    end_run();
    run_ = MaterialRun{number, number, material};
}

// The material line of the run made so far: "first-last" or "first", then
// its fields.
void Importer::end_run() {
    if (!run_) return;
    char line[TEXT_LINE_MAX];
    char* p = line;
    if (run_->first != run_->last) {
        p = format_int(p, run_->first);
        *p++ = '-';
    }
    run_->material.polygon = run_->last;
    materialFile_.put(std::string_view(line, static_cast<std::size_t>(writeMAT2(p, run_->material) - line)));
    ++runs_;
    run_.reset();
}

// Triangles in these formats' terms: glTF's (a, b, c) is the polygon
// (a, c, b), clockwise seen from the front. Two consecutive triangles that
// share an edge, run in opposite directions, with equal corners there, make
// the quadrangle that is drawn as exactly those two.
void Importer::add(const DrawnPrimitive& p) {
    const GltfMaterial* m = p.material >= 0 ? &file_.materials[std::size_t(p.material)] : nullptr;
    const TimLine* t = m && m->image >= 0 && p.texcoord ? &texture(m->image) : nullptr;
    const bool faceNormal = !p.normal;
    const char shade = faceNormal ? 'F' : 'G';
    if (p.sharing != sharing_) {
        sharing_ = p.sharing;
        // Only what was numbered is undone, not the whole accessor's worth:
        // node after node may draw a few vertices of a large accessor.
        for (std::uint32_t i : numbered_) vertexOf_[i] = -1;
        for (std::uint32_t i : numbered_)
            if (i < normalOf_.size()) normalOf_[i] = -1;
        numbered_.clear();
        if (vertexOf_.size() < p.vertices) vertexOf_.resize(p.vertices, -1);
        if (!faceNormal && normalOf_.size() < p.vertices) normalOf_.resize(p.vertices, -1);
    }
    numbered_.insert(numbered_.end(), p.triangles.begin(), p.triangles.end());
    vertices_.number_all(p.triangles, [&](std::uint32_t i) { return p.vertex(i); }, vertexOf_);
    if (!faceNormal) normals_.number_all(p.triangles, [&](std::uint32_t i) { return p.normal_at(i); }, normalOf_);

    const std::size_t count = p.triangles.size() / 3;
    auto triangle = [&](std::size_t k, std::array<Corner, 3>& c) {
        for (std::size_t j = 0; j < 3; ++j) c[j] = corner(p, p.triangles[3 * k + j], m, t);
    };
    // Without normals of their own, a pair makes a quadrangle only where it
    // is flat: the quadrangle shows one face normal.
    auto front = [&](const std::array<Corner, 3>& c) {
        auto at = [&](int k) {
            const VectorData& v = vertices_.values[std::size_t(c[std::size_t(k)].vertex)];
            return Direction{v.x, v.y, v.z};
        };
        return normalised(cross(at(1) - at(0), at(2) - at(0)));
    };
    std::array<Corner, 3> first, second;
    bool known = false;  // `first` is triangle k already
    for (std::size_t k = 0; k < count;) {
        if (!known) triangle(k, first);
        known = false;
        bool paired = false;
        if (!options_.triangles && k + 1 < count) {
            triangle(k + 1, second);
            // first = (p, s, r) from corner j on, second = (r, s, q) from corner i on.
            for (int j = 0; j < 3 && !paired; ++j) {
                const Corner &a = first[std::size_t(j)], &s = first[std::size_t((j + 1) % 3)], &r = first[std::size_t((j + 2) % 3)];
                for (int i = 0; i < 3 && !paired; ++i) {
                    if (!(second[std::size_t(i)] == r && second[std::size_t((i + 1) % 3)] == s)) continue;
                    if (faceNormal) {
                        const Vec3 n1 = front(first), n2 = front(second);
                        const double along = double(n1.x) * n2.x + double(n1.y) * n2.y + double(n1.z) * n2.z;
                        if (!(along >= 1 - 1e-9)) continue;
                    }
                    const Corner& q = second[std::size_t((i + 2) % 3)];
                    const Corner quad[4] = {a, r, s, q};
                    PolygonData polygon{1, {a.vertex, r.vertex, s.vertex, q.vertex}, {a.normal, r.normal, s.normal, q.normal}};
                    add_polygon(polygon, quad, faceNormal, m, t, shade);
                    paired = true;
                }
            }
        }
        if (paired) {
            k += 2;
            continue;
        }
        const Corner tri[3] = {first[0], first[2], first[1]};
        PolygonData polygon{0, {tri[0].vertex, tri[1].vertex, tri[2].vertex, 0}, {tri[0].normal, tri[1].normal, tri[2].normal, 0}};
        add_polygon(polygon, tri, faceNormal, m, t, shade);
        ++k;
        if (k < count && !options_.triangles) first = second, known = true;
    }
}

// "x y z" lines in the fewest digits, formatted in pieces on several threads.
void put_vectors(OutFile& out, const std::deque<VectorData>& vectors) {
    const std::size_t pieces = (vectors.size() + PIECE_RECORDS - 1) / PIECE_RECORDS;
    write_in_order(out, pieces, PIECE_RECORDS * TEXT_LINE_MAX, [&](std::size_t k, char* p) {
        const std::size_t end = std::min(vectors.size(), (k + 1) * PIECE_RECORDS);
        for (std::size_t i = k * PIECE_RECORDS; i < end; ++i) {
            p = format_shortest(p, vectors[i].x);
            *p++ = ' ';
            p = format_shortest(p, vectors[i].y);
            *p++ = ' ';
            p = format_shortest(p, vectors[i].z);
            *p++ = '\n';
        }
        return p;
    });
}

// Appends the scratch file `from` (closed) to `out`, a megabyte at a time.
void append_scratch(OutFile& out, const std::string& from, const std::string& name) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(from.c_str(), "rb"), std::fclose);
    if (!in) write_error(name);
    std::vector<char> piece(1 << 20);
    for (std::size_t n; (n = std::fread(piece.data(), 1, piece.size(), in.get())) > 0;) out.put({piece.data(), n});
    if (std::ferror(in.get())) write_error(name);
}

void Importer::write(const std::string& rsd) {
    end_run();
    polygonFile_.close();
    materialFile_.close();
    {
        OutFile out(ply_, out_.create(ply_));
        out.put("@PLY940102\n# vertices normals polygons\n");
        out.putInt(static_cast<long long>(vertices_.values.size()));
        out.put(' ');
        out.putInt(static_cast<long long>(normals_.values.size()));
        out.put(' ');
        out.putInt(polygons_);
        out.put("\n# vertices\n");
        put_vectors(out, vertices_.values);
        out.put("# normals\n");
        put_vectors(out, normals_.values);
        out.put("# polygons: flag (0 triangle, 1 quadrangle), four vertices, four normals\n");
        append_scratch(out, polygonScratch_, ply_);
        out.close();
    }
    {
        OutFile out(mat_, out_.create(mat_));
        out.put("@MAT940801\n# material lines\n");
        out.putInt(runs_);
        out.put("\n# polygons flag shade type numbers\n");
        append_scratch(out, materialScratch_, mat_);
        out.close();
    }
    OutFile out(rsd, out_.create(rsd));
    out.put("@RSD940102\nPLY=" + ply_ + "\nMAT=" + mat_ + "\n");
    out.put("NTEX=" + std::to_string(textures_.size()) + "\n");
    for (std::size_t k = 0; k < textures_.size(); ++k) out.put("TEX[" + std::to_string(k) + "]=" + tim_name(int(k)) + "\n");
    out.close();
}

}  // namespace

void import_gltf(const std::string& path, const std::string& stemGiven, const ImportOptions& options) {
    // Named as zorvel names its outputs: the stem up to the first '.' of its
    // last path component, and an extension.
    const std::string stem = stemGiven.substr(0, stem_length(stemGiven));
    name_error(stemGiven);
    if (stem.size() > STEM_MAX_LEN) file_error("File name is too long!", stemGiven);
    GltfFile file(path);
    OutputSet out;
    Importer importer(file, stem, options, out);
    file.draw(options.scale, [&](const DrawnPrimitive& p) { importer.add(p); });
    if (importer.empty()) file_error("no triangle to import", path);
    importer.write(stem + ".rsd");
    out.commit();
    if (file.pointsAndLines)
        std::fprintf(stderr, "zorvel-model: note: %lld primitives of points or lines left out\n", file.pointsAndLines);
    if (const std::string kinds = file.notRead(); !kinds.empty())
        std::fprintf(stderr, "zorvel-model: note: %s left out\n", kinds.c_str());
    for (const std::string& note : importer.notes) std::fprintf(stderr, "zorvel-model: note: %s\n", note.c_str());
    if (importer.outside)
        std::fprintf(stderr, "zorvel-model: note: %lld corners' texture coordinates outside 0 to 1 clamped to the image\n",
                     importer.outside);
}
