// "import": the triangles a glTF file's scene draws, as an input model of
// these formats. Triangles become polygons (two that share an edge one
// quadrangle), their looks material lines, the images they show TIM files;
// an RSD file names them all. The mapping is the inverse of "export".
#include "colour.h"
#include "geometry.h"
#include "gltf_read.h"
#include "texture_convert.h"

#include <algorithm>
#include <cfloat>
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
    double s = 0, t = 0;  // texture coordinates, transformed as the material says
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

// The most texels a TIM image that import writes has across or down.
constexpr int TIM_SIDE_MAX = 4096;

// One direction of a texture's TIM image: the glTF image's `size` texels
// repeated `repeats` times (every other one mirrored for Wrap::mirrored),
// or for Wrap::clamp the image with `before` and `after` copies of its edge
// texels on either side; grown as polygons need, up to TIM_SIDE_MAX.
struct Axis {
    int size = 1;
    Wrap wrap = Wrap::repeat;
    int repeats = 1, before = 0, after = 0;
    int length() const { return before + repeats * size + after; }
};

// A texture: the TIM line its image was given, its glTF image and how the
// TIM image lays that out across (u) and down (v).
struct TimLine {
    int line, image;
    Axis u, v;
};

// The texel positions on `axis` of a polygon's `count` coordinates `at`,
// into `out`, growing the axis as they need: first moved by whole repeats
// (pairs of them when mirrored, so as not to flip the image) so that the
// least lies in the first. Returns the corners that lay beyond what the
// axis may grow to, clamped to it. The far edge of the last repeat (or
// edge texel) that the polygon reaches stands for the texel before it, so
// that coordinates 0 to 1 name the image's texels alone.
int place(Axis& axis, const double* at, int count, int* out) {
    double texel[4];
    for (int k = 0; k < count; ++k) texel[k] = std::round(at[k] * axis.size);
    const double low = *std::min_element(texel, texel + count), high = *std::max_element(texel, texel + count);
    double shift = -axis.before, end = 0;  // positions are shifted by shift, then clamped to 0..end
    if (axis.wrap == Wrap::clamp) {
        const int room = std::max(0, TIM_SIDE_MAX - axis.size - axis.before);
        const int after = int(std::clamp(high - axis.size, 0.0, double(room)));
        axis.after = std::max(axis.after, after);
        end = double(axis.before + axis.size + after);
    } else {
        const double period = axis.wrap == Wrap::mirrored ? 2.0 * axis.size : axis.size;
        shift = std::floor(low / period) * period;
        const int most = std::max(1, TIM_SIDE_MAX / axis.size);
        // Not a number where coordinates too large for a double met.
        const double need = std::ceil((high - shift) / axis.size);
        const int repeats = need >= most ? most : need > 1 ? int(need) : 1;
        axis.repeats = std::max(axis.repeats, repeats);
        end = double(repeats) * axis.size;
    }
    int clamped = 0;
    for (int k = 0; k < count; ++k) {
        const double at = texel[k] - shift;
        clamped += !(at >= 0 && at <= end);
        out[k] = at >= end ? int(end) - 1 : at > 0 ? int(at) : 0;
    }
    return clamped;
}

// The RGBA pixels of a texture's TIM image: the glTF image laid out as the
// axes say.
RgbaImage laid_out(const RgbaImage& image, const Axis& across, const Axis& down) {
    auto source = [](const Axis& axis, int at) {
        const int in = at - axis.before;
        if (axis.wrap == Wrap::clamp) return std::clamp(in, 0, axis.size - 1);
        const int copy = in / axis.size, texel = in % axis.size;
        return axis.wrap == Wrap::mirrored && copy % 2 == 1 ? axis.size - 1 - texel : texel;
    };
    RgbaImage out{across.length(), down.length(), {}};
    out.rgba.resize(std::size_t(out.width) * std::size_t(out.height) * 4);
    std::uint8_t* to = out.rgba.data();
    for (int y = 0; y < out.height; ++y) {
        const std::uint8_t* row = &image.rgba[std::size_t(source(down, y)) * std::size_t(image.width) * 4];
        for (int x = 0; x < out.width; ++x, to += 4) std::memcpy(to, row + std::size_t(source(across, x)) * 4, 4);
    }
    return out;
}

// Polygon and material lines are written as they are made, to scratch
// files, and copied into the PLY and MAT files after their counts and the
// vertices: only the vertex and normal tables are held.
class Importer {
public:
    Importer(GltfFile& file, const std::string& stem, const ImportOptions& options, OutputSet& out)
        : file_(file), stem_(stem), ply_(stem + ".ply"), mat_(stem + ".mat"), options_(options), out_(out),
          polygonScratch_(out.scratch(ply_)), materialScratch_(out.scratch(mat_)),
          polygonFile_(ply_, polygonScratch_), materialFile_(mat_, materialScratch_) {}

    // Before `add`, where a texture clamps to its edge: the least texture
    // coordinates of its corners, which say how far its image extends
    // before its first texel.
    void measure(const DrawnPrimitive& p);
    void add(const DrawnPrimitive& p);
    void write(const std::string& rsd);
    bool empty() const { return polygons_ == 0; }
    long long clamped = 0;    // corners whose texels lay beyond the largest TIM image
    long long nonFinite = 0;  // triangles left out for a value that is not finite
    std::vector<std::string> notes;  // on images whose size or mode changed

private:
    TimLine& texture(const GltfMaterial& m);
    Corner corner(const DrawnPrimitive& p, std::uint32_t i, const GltfMaterial* m, bool textured);
    const std::vector<std::uint32_t>& finite_triangles(const DrawnPrimitive& p, const GltfMaterial* m,
                                                       std::vector<std::uint32_t>& kept);
    void add_polygon(PolygonData polygon, const Corner* corners, bool faceNormal, const GltfMaterial* m,
                     TimLine* t, char shade);
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
    std::deque<TimLine> textures_;            // by TIM line
    std::map<std::array<int, 3>, int> lineOf_;  // by glTF image and wrap modes
    std::map<std::array<int, 3>, std::array<double, 2>> lowest_;  // what `measure` found
    // The numbers of the vertices and normals that primitives sharing
    // theirs have used so far, -1 where none yet.
    std::array<int, 3> sharing_{-1, -1, -1};
    std::vector<int> vertexOf_, normalOf_;
    std::vector<std::uint32_t> numbered_;  // the entries set since `sharing_` changed
    std::vector<VectorData> faceCorners_ = std::vector<VectorData>(4);  // a polygon's corners, for its face normal
};

// A TIM image stands for a glTF image as a sampler wraps it.
std::array<int, 3> texture_key(const GltfMaterial& m) { return {m.image, int(m.wrapS), int(m.wrapT)}; }

// Vertex i's texture coordinates as the material transforms them.
std::array<double, 2> texture_coordinates(const DrawnPrimitive& p, const GltfMaterial& m, std::uint32_t i) {
    const double s = p.texcoord[2 * i], t = p.texcoord[2 * i + 1];
    return {m.uv[0] * s + m.uv[1] * t + m.uv[2], m.uv[3] * s + m.uv[4] * t + m.uv[5]};
}

bool finite(const VectorData& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// The triangles of p whose corners' positions (transformed and scaled),
// normals and texture coordinates (transformed) are all finite numbers:
// p's own when they all are, else those copied into `kept`; the others are
// counted.
const std::vector<std::uint32_t>& Importer::finite_triangles(const DrawnPrimitive& p, const GltfMaterial* m,
                                                             std::vector<std::uint32_t>& kept) {
    const bool textured = m && m->image >= 0 && p.texcoord;
    // Positions no coordinate of which is larger than `safe` stay well
    // within a float through the transform and scale; only others are
    // transformed here to be sure.
    double safe = INFINITY;
    for (std::size_t r = 0; r < 3; ++r) {
        const std::array<double, 16>& w = p.world;
        const double turned = std::fabs(w[r]) + std::fabs(w[4 + r]) + std::fabs(w[8 + r]);
        safe = std::min(safe, (FLT_MAX / 2 / p.scale - std::fabs(w[12 + r])) / turned);
    }
    auto corner_finite = [&](std::uint32_t i) {
        const float* x = &p.position[3 * i];
        const bool small = std::fabs(x[0]) <= safe && std::fabs(x[1]) <= safe && std::fabs(x[2]) <= safe;
        if (!small && !finite(p.vertex(i))) return false;
        if (p.normal && !finite({p.normal[3 * i], p.normal[3 * i + 1], p.normal[3 * i + 2]})) return false;
        if (!textured) return true;
        const auto [s, t] = texture_coordinates(p, *m, i);
        return std::isfinite(s) && std::isfinite(t);
    };
    auto triangle_finite = [&](std::size_t k) {
        return corner_finite(p.triangles[k]) && corner_finite(p.triangles[k + 1]) && corner_finite(p.triangles[k + 2]);
    };
    std::size_t k = 0;
    while (k < p.triangles.size() && triangle_finite(k)) k += 3;
    if (k == p.triangles.size()) return p.triangles;
    kept.assign(p.triangles.begin(), p.triangles.begin() + std::ptrdiff_t(k));
    for (; k < p.triangles.size(); k += 3)
        if (triangle_finite(k)) kept.insert(kept.end(), &p.triangles[k], &p.triangles[k] + 3);
        else ++nonFinite;
    return kept;
}

void Importer::measure(const DrawnPrimitive& p) {
    if (p.material < 0 || !p.texcoord) return;
    const GltfMaterial& m = file_.materials[std::size_t(p.material)];
    if (m.image < 0 || (m.wrapS != Wrap::clamp && m.wrapT != Wrap::clamp)) return;
    auto& lowest = lowest_.try_emplace(texture_key(m), std::array<double, 2>{0, 0}).first->second;
    const long long before = nonFinite;
    std::vector<std::uint32_t> kept;
    for (std::uint32_t i : finite_triangles(p, &m, kept)) {
        const auto st = texture_coordinates(p, m, i);
        lowest = {std::min(lowest[0], st[0]), std::min(lowest[1], st[1])};
    }
    nonFinite = before;  // counted when added
}

// The texture of the material's image and sampler: its TIM line, given at
// its first use. Its image is decoded then, to learn its size (as scaled to
// fit, where asked), and again when the TIM file is written, once the
// polygons have said how far it repeats.
TimLine& Importer::texture(const GltfMaterial& m) {
    const std::array<int, 3> key = texture_key(m);
    const auto known = lineOf_.find(key);
    if (known != lineOf_.end()) return textures_[std::size_t(known->second)];
    const int line = static_cast<int>(textures_.size());
    name_error(tim_name(line));
    const RgbaImage pixels = file_.image(m.image);
    const auto [width, height] = fitted_size(pixels.width, pixels.height, options_.texture.fit);
    TimLine t{line, m.image, {width, m.wrapS}, {height, m.wrapT}};
    if (const auto lowest = lowest_.find(key); lowest != lowest_.end()) {
        // Edge texels before the first, as far as the least coordinate reaches.
        for (auto [axis, at] : {std::pair{&t.u, lowest->second[0]}, std::pair{&t.v, lowest->second[1]}})
            if (axis->wrap == Wrap::clamp)
                axis->before = int(std::clamp(-std::round(at * axis->size), 0.0, double(std::max(0, TIM_SIDE_MAX - axis->size))));
    }
    lineOf_.emplace(key, line);
    return textures_.emplace_back(t);
}

// glTF vertex i as a corner: its numbers in the vertex and normal tables
// (given already), its colour as the material type wants it and its
// texture coordinates.
Corner Importer::corner(const DrawnPrimitive& p, std::uint32_t i, const GltfMaterial* m, bool textured) {
    Corner c;
    c.vertex = vertexOf_[i];
    if (p.normal) c.normal = normalOf_[i];
    if (!m) {
        c.colour = {LIGHT_GREY.r, LIGHT_GREY.g, LIGHT_GREY.b};
        return c;
    }
    for (std::size_t k = 0; k < 3; ++k) {
        const double linear = m->factor[k] * (p.colour ? double(p.colour[std::size_t(p.colourSize) * i + k]) : 1.0);
        const int display = display_byte(linear);
        c.colour[k] = textured ? modulation_of_display(display) : display;
    }
    if (textured) {
        const auto st = texture_coordinates(p, *m, i);
        c.s = st[0], c.t = st[1];
    }
    return c;
}

void Importer::add_polygon(PolygonData polygon, const Corner* corners, bool faceNormal, const GltfMaterial* m,
                           TimLine* t, char shade) {
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
    }
    if (t) {
        double s[4], r[4];
        for (int k = 0; k < count; ++k) s[k] = corners[k].s, r[k] = corners[k].t;
        clamped += place(t->u, s, count, material.u) + place(t->v, r, count, material.v);
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
    std::vector<std::uint32_t> kept;
    const std::vector<std::uint32_t>& triangles = finite_triangles(p, m, kept);
    if (triangles.empty()) return;
    TimLine* t = m && m->image >= 0 && p.texcoord ? &texture(*m) : nullptr;
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
    numbered_.insert(numbered_.end(), triangles.begin(), triangles.end());
    vertices_.number_all(triangles, [&](std::uint32_t i) { return p.vertex(i); }, vertexOf_);
    if (!faceNormal) normals_.number_all(triangles, [&](std::uint32_t i) { return p.normal_at(i); }, normalOf_);

    const std::size_t count = triangles.size() / 3;
    auto triangle = [&](std::size_t k, std::array<Corner, 3>& c) {
        for (std::size_t j = 0; j < 3; ++j) c[j] = corner(p, triangles[3 * k + j], m, t != nullptr);
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
    for (const TimLine& t : textures_) {
        const std::string name = tim_name(t.line);
        RgbaImage image = file_.image(t.image);
        const int width = image.width, height = image.height;
        // Its mode as it is, where it may change.
        const int bits = options_.texture.bits || options_.texture.fit ? smallest_tim_bits(image.rgba, width, height) : 0;
        // Scaled before its repeats are laid out, so that each repeat is
        // the size the polygons' texel positions were worked out for.
        if (options_.texture.fit) scale_to_fit(image, options_.texture.fit, name);
        TextureOptions made_as = options_.texture;
        made_as.fit = 0;
        RgbaImage laid = laid_out(image, t.u, t.v);
        const TimTexture made = make_tim(laid, made_as, name);
        if (bits && (bits != made.bits || width != laid.width || height != laid.height))
            notes.push_back("image " + std::to_string(t.image) + " (" + std::to_string(width) + " x " + std::to_string(height) +
                            ", " + std::to_string(bits) + "-bit) written as " + name + " (" + std::to_string(laid.width) +
                            " x " + std::to_string(laid.height) + ", " + std::to_string(made.bits) + "-bit)");
        OutFile tim(name, out_.create(name));
        tim.put(made.bytes);
        tim.close();
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
    const bool clamps = std::any_of(file.materials.begin(), file.materials.end(), [](const GltfMaterial& m) {
        return m.image >= 0 && (m.wrapS == Wrap::clamp || m.wrapT == Wrap::clamp);
    });
    if (clamps) file.draw(options.scale, options.scene, [&](const DrawnPrimitive& p) { importer.measure(p); });
    file.draw(options.scale, options.scene, [&](const DrawnPrimitive& p) { importer.add(p); });
    const std::string nonFinite = std::to_string(importer.nonFinite) +
                                  " triangles with a position, normal or texture coordinate that is not a finite number left out";
    if (importer.empty()) {
        std::string leftOut;
        if (file.pointsAndLines)
            leftOut = std::to_string(file.pointsAndLines) + " point or line primitive" + (file.pointsAndLines == 1 ? "" : "s") + " left out";
        if (importer.nonFinite) leftOut += (leftOut.empty() ? "" : "; ") + nonFinite;
        file_error("no triangle to import" + (leftOut.empty() ? std::string() : ": " + leftOut), path);
    }
    importer.write(stem + ".rsd");
    out.commit();
    for (const std::string& note : file.notes) std::fprintf(stderr, "zorvel-model: note: %s\n", note.c_str());
    if (file.pointsAndLines)
        std::fprintf(stderr, "zorvel-model: note: %lld primitives of points or lines left out\n", file.pointsAndLines);
    if (const std::string kinds = file.notRead(); !kinds.empty())
        std::fprintf(stderr, "zorvel-model: note: %s left out\n", kinds.c_str());
    if (file.otherScenes)
        std::fprintf(stderr, "zorvel-model: note: %zu other scene%s left out\n", file.otherScenes, file.otherScenes == 1 ? "" : "s");
    if (importer.nonFinite) std::fprintf(stderr, "zorvel-model: note: %s\n", nonFinite.c_str());
    if (importer.clamped)
        std::fprintf(stderr, "zorvel-model: note: %lld corners' texture coordinates clamped to a TIM image of at most %d texels across and down\n",
                     importer.clamped, TIM_SIDE_MAX);
    for (const std::string& note : importer.notes) std::fprintf(stderr, "zorvel-model: note: %s\n", note.c_str());
}
