// "render": the groups drawn into a PNG image by a z-buffer rasteriser of
// our own, orthographic, one light from the viewer's upper left.
//
// Every polygon is first turned into screen triangles with fixed-point
// corners and a lit colour per corner (a textured one with its texel
// positions, modulating colours and light factors per corner instead); the
// picture is then drawn in bands of rows, each band on its own from the same
// triangles in the same order, so that the pixels do not depend on how many
// threads draw them, and the bands go to the PNG encoder as they are
// finished.
#include "png_writer.h"
#include "raster.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// --colour group: hues far apart, in an order that keeps neighbours apart.
const Rgb PALETTE[] = {{230, 25, 75},   {0, 130, 200},  {60, 180, 75},   {245, 130, 48},
                       {145, 30, 180},  {70, 210, 210}, {240, 50, 230},  {170, 200, 40},
                       {128, 80, 30},   {0, 100, 100},  {250, 160, 190}, {255, 215, 0}};
constexpr float AMBIENT = 0.3f, DIFFUSE = 0.7f;
constexpr float BEHIND = 0.5f;  // a face seen from behind shows this much of its colour
// Light from the viewer's upper left, in view axes (right, up, towards the viewer).
const Vec3 LIGHT = normalised({-1, 1, 2});

// The side the model is seen from, in these formats' axes (Y down, Z away
// from the viewer): the directions that run right and down in the picture.
struct View {
    double right[3], down[3];
};

View view_named(const std::string& name) {
    const double a = 1 / std::sqrt(2.0), b = 1 / std::sqrt(6.0);
    if (name == "front") return {{1, 0, 0}, {0, 1, 0}};
    if (name == "back") return {{-1, 0, 0}, {0, 1, 0}};
    if (name == "left") return {{0, 0, -1}, {0, 1, 0}};
    if (name == "right") return {{0, 0, 1}, {0, 1, 0}};
    if (name == "top") return {{1, 0, 0}, {0, 0, -1}};
    if (name == "bottom") return {{1, 0, 0}, {0, 0, 1}};
    // iso: seen from (+1, -1, -1); "down" is +Y without its part along that direction.
    return {{a, 0, a}, {b, 2 * b, -b}};
}

double along(const double axis[3], const VectorData& v) { return axis[0] * v.x + axis[1] * v.y + axis[2] * v.z; }

// Picture coordinates of model points: the bounds of everything drawn, in
// the view's axes, scaled to fill the picture but for a margin.
struct Frame {
    View view;
    double away[3];  // right x down: away from the viewer
    double min[3] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::infinity()};
    double max[3] = {-min[0], -min[0], -min[0]};
    double scale = 1, offset[2] = {0, 0}, depthScale = 0;
    int size = 0;

    void project(const VectorData& v, double out[3]) const {
        out[0] = along(view.right, v);
        out[1] = along(view.down, v);
        out[2] = along(away, v);
    }
    void include(const VectorData& v) {
        double p[3];
        project(v, p);
        for (int i = 0; i < 3; ++i) min[i] = std::min(min[i], p[i]), max[i] = std::max(max[i], p[i]);
    }
    void fit(int pixels) {
        size = pixels;
        if (!(min[0] <= max[0])) return;  // nothing to draw
        const double margin = pixels / 16, room = pixels - 2 * margin;
        const double extent = std::max(max[0] - min[0], max[1] - min[1]);
        scale = extent > 0 ? room / extent : 1;
        for (int i = 0; i < 2; ++i) offset[i] = margin + (room - (max[i] - min[i]) * scale) / 2;
        depthScale = max[2] > min[2] ? 1 / (max[2] - min[2]) : 0;
    }
};

Corner screen_corner(const Frame& frame, const VectorData& v) {
    double p[3];
    frame.project(v, p);
    auto fixed = [&](int i) {
        double at = (frame.offset[i] + (p[i] - frame.min[i]) * frame.scale) * SUBPIXEL;
        return static_cast<std::int32_t>(std::clamp(std::nearbyint(at), 0.0, double(frame.size) * SUBPIXEL));
    };
    return {fixed(0), fixed(1), static_cast<float>((p[2] - frame.min[2]) * frame.depthScale)};
}

// A triangle of a semi-transparent polygon, and the depth of the polygon's
// centre, by which such triangles are drawn farthest first.
struct Blended {
    std::size_t triangle;
    float depth;
    std::uint32_t entry = 0;  // its entry in Drawing::inBand
};

// A stretch of a group's polygons, the unit of work when preparing them.
struct Piece {
    const Group* group;
    std::size_t groupIndex, begin, end;
    std::size_t triangle, polygon;  // the Drawing places of polygon `begin` and its first triangle
};


class Painter {
public:
    Painter(const Scene& scene, const RenderOptions& options, const Frame& frame, const View& view)
        : scene_(scene), options_(options), frame_(frame) {
        // The view's axes in glTF's terms, for normals: right, up, towards the viewer.
        for (const double* axis : {view.right, view.down, frame.away}) {
            const double sign = axis == view.right ? 1 : -1;
            axes_.push_back({float(sign * axis[0]), float(-sign * axis[1]), float(-sign * axis[2])});
        }
    }

    // Fills the Drawing's places of the piece's polygons, and gives the
    // textured triangles and the semi-transparent ones among them in order.
    void prepare(const Piece& piece, Drawing& out, std::vector<TexturedTriangle>& textured,
                 std::vector<Blended>& blended) const {
        const Group& group = *piece.group;
        const PlyData& ply = group.model->ply;
        std::size_t slot = piece.triangle;
        for (std::size_t i = piece.begin; i < piece.end; ++i) {
            const int p = group.polygons[i];
            const PolygonData& polygon = ply.polygon[static_cast<std::size_t>(p)];
            const Triangles triangles = triangles_of(polygon);
            for (int t = 0; t < triangles.count; ++t) out.firstRow[slot + std::size_t(t)] = 1, out.lastRow[slot + std::size_t(t)] = 0;
            if (!is_drawable(polygon, ply.vertex)) {
                slot += std::size_t(triangles.count);
                continue;
            }
            const MaterialData* material = material_of(scene_, group, p);
            const TimImage* image = options_.colourByGroup ? nullptr : texture_of(scene_, group, material);
            // Each corner's place, colour, texel, and how squarely it faces
            // the light from the polygon's front.
            Shaded corners[4];
            const Vec3 face = face_normal(polygon, ply.vertex);
            const bool lit = !is_unlit(material);
            for (int k = 0; k < corner_count(polygon); ++k) {
                corners[k].at = screen_corner(frame_, ply.vertex[static_cast<std::size_t>(polygon.vtx[k])]);
                if (image) {
                    corners[k].base = modulation(*material, k);
                    corners[k].u = float(material->u[k]), corners[k].v = float(material->v[k]);
                } else {
                    corners[k].base = options_.colourByGroup ? PALETTE[piece.groupIndex % std::size(PALETTE)]
                                                             : corner_colour(material, k);
                }
                if (lit) {
                    const Vec3 n = corner_normal(polygon, material, k, ply, face);
                    corners[k].towardsLight = dot({dot(n, axes_[0]), dot(n, axes_[1]), dot(n, axes_[2])}, LIGHT);
                }
            }
            const bool blend = is_semi_transparent(material);
            double centre = 0;
            for (int k = 0; k < corner_count(polygon); ++k) centre += corners[k].at.z;
            centre /= corner_count(polygon);
            for (int t = 0; t < triangles.count; ++t, ++slot) {
                out.triangles[slot].blend = blend;
                prepare_triangle(material, lit, image, corners, triangles.corners[static_cast<std::size_t>(t)], slot, out,
                                 textured);
                if (blend && out.firstRow[slot] <= out.lastRow[slot]) blended.push_back({slot, float(centre)});
            }
            if (options_.wire) {
                const std::size_t at = piece.polygon + (i - piece.begin);
                const std::array<int, 4> rim = rim_of(polygon);
                for (int k = 0; k < corner_count(polygon); ++k) out.rims[at][std::size_t(k)] = corners[rim[std::size_t(k)]].at;
                out.rimCorners[at] = static_cast<unsigned char>(corner_count(polygon));
            }
        }
    }

private:
    struct Shaded {
        Corner at;
        Rgb base;  // textured: the colour that modulates the texels
        float towardsLight = 0;
        float u = 0, v = 0;
    };

    void prepare_triangle(const MaterialData* material, bool lit, const TimImage* image, const Shaded* corners,
                          const std::array<int, 3>& which, std::size_t slot, Drawing& out,
                          std::vector<TexturedTriangle>& textured) const {
        Triangle& triangle = out.triangles[slot];
        int k[3] = {which[0], which[1], which[2]};
        std::int64_t area = cross(corners[k[0]].at, corners[k[1]].at, corners[k[2]].at);
        if (area == 0) return;
        // triangles_of runs counter-clockwise from the front with Y up; on the
        // screen, Y runs down, so the front shows where the area is negative.
        const bool front = area < 0;
        if (front) std::swap(k[1], k[2]);
        const bool darker = !front && !is_double_sided(material);
        TexturedTriangle texture;  // filled only for a textured one
        for (int c = 0; c < 3; ++c) {
            const Shaded& corner = corners[k[c]];
            triangle.corner[c] = corner.at;
            float light = lit ? AMBIENT + DIFFUSE * std::max(0.0f, front ? corner.towardsLight : -corner.towardsLight) : 1;
            if (darker) light *= BEHIND;
            if (image) {
                // The texels are modulated per pixel, and only then lit.
                texture.u[c] = corner.u, texture.v[c] = corner.v, texture.light[c] = light;
                texture.colour[c] = corner.base;
                continue;
            }
            auto scaled = [&](unsigned char v) { return channel(static_cast<int>(v * light + 0.5f)); };
            triangle.colour[c] = {scaled(corner.base.r), scaled(corner.base.g), scaled(corner.base.b)};
        }
        triangle.plain = !image && triangle.colour[0] == triangle.colour[1] && triangle.colour[0] == triangle.colour[2];
        // The rows whose pixel centres the triangle may cover.
        const Corner* v = triangle.corner;
        const std::int32_t top = std::min({v[0].y, v[1].y, v[2].y}), bottom = std::max({v[0].y, v[1].y, v[2].y});
        int first = (top - SUBPIXEL / 2 + SUBPIXEL - 1) / SUBPIXEL;
        int last = std::min(frame_.size - 1, (bottom - SUBPIXEL / 2) / SUBPIXEL);
        if (bottom < SUBPIXEL / 2 || first > last) return;
        out.firstRow[slot] = static_cast<std::uint16_t>(first);
        out.lastRow[slot] = static_cast<std::uint16_t>(last);
        if (!image) return;
        texture.triangle = static_cast<std::uint32_t>(slot), texture.image = image;
        textured.push_back(texture);
    }

    const Scene& scene_;
    const RenderOptions& options_;
    const Frame& frame_;
    std::vector<Vec3> axes_;
};

}  // namespace

std::string make_png(const Scene& scene, const RenderOptions& options, long long& leftOut) {
    const View view = view_named(options.view);
    Frame frame;
    frame.view = view;
    frame.away[0] = view.right[1] * view.down[2] - view.right[2] * view.down[1];
    frame.away[1] = view.right[2] * view.down[0] - view.right[0] * view.down[2];
    frame.away[2] = view.right[0] * view.down[1] - view.right[1] * view.down[0];

    // The work: every group's polygons in stretches.
    constexpr std::size_t STRETCH = 1 << 15;
    std::vector<Piece> pieces;
    std::size_t triangles = 0, polygons = 0;
    for (std::size_t g = 0; g < scene.groups.size(); ++g) {
        const Group& group = scene.groups[g];
        const PlyData& ply = group.model->ply;
        for (std::size_t begin = 0; begin < group.polygons.size(); begin += STRETCH) {
            const std::size_t end = std::min(group.polygons.size(), begin + STRETCH);
            pieces.push_back({&group, g, begin, end, triangles, polygons});
            for (std::size_t i = begin; i < end; ++i)
                triangles += std::size_t(triangles_of(ply.polygon[std::size_t(group.polygons[i])]).count);
            polygons += end - begin;
        }
    }
    if (triangles >= TEXTURED) throw std::bad_alloc();

    // The bounds of every polygon that can be drawn.
    std::vector<Frame> bounds(pieces.size(), frame);
    std::vector<long long> skipped(pieces.size(), 0);
    run_pieces(spare_threads(), pieces.size(), [&](std::size_t k) {
        const Piece& piece = pieces[k];
        const PlyData& ply = piece.group->model->ply;
        for (std::size_t i = piece.begin; i < piece.end; ++i) {
            const PolygonData& polygon = ply.polygon[static_cast<std::size_t>(piece.group->polygons[i])];
            if (!is_drawable(polygon, ply.vertex)) {
                ++skipped[k];
                continue;
            }
            for (int c = 0; c < corner_count(polygon); ++c) bounds[k].include(ply.vertex[static_cast<std::size_t>(polygon.vtx[c])]);
        }
    });
    leftOut = 0;
    for (long long n : skipped) leftOut += n;
    for (const Frame& b : bounds)
        for (int i = 0; i < 3; ++i) frame.min[i] = std::min(frame.min[i], b.min[i]), frame.max[i] = std::max(frame.max[i], b.max[i]);
    frame.fit(options.size);

    Drawing drawing;
    drawing.triangles = std::make_unique_for_overwrite<Triangle[]>(triangles);
    drawing.firstRow.resize(triangles);
    drawing.lastRow.resize(triangles);
    if (options.wire) {
        drawing.rims.resize(polygons);
        drawing.rimCorners.assign(polygons, 0);
    }
    const Painter painter(scene, options, frame, view);
    std::vector<std::vector<TexturedTriangle>> textured(pieces.size());
    std::vector<std::vector<Blended>> blendedOf(pieces.size());
    run_pieces(spare_threads(), pieces.size(),
               [&](std::size_t k) { painter.prepare(pieces[k], drawing, textured[k], blendedOf[k]); });
    std::vector<Blended> blended;
    for (const std::vector<Blended>& some : blendedOf) blended.insert(blended.end(), some.begin(), some.end());
    // Each piece's textured triangles are freed once copied; the room
    // reserved takes memory only as it is filled, so none is held twice.
    std::size_t texturedCount = 0;
    for (const std::vector<TexturedTriangle>& some : textured) texturedCount += some.size();
    drawing.textured.reserve(texturedCount);
    for (std::vector<TexturedTriangle>& some : textured) {
        drawing.textured.insert(drawing.textured.end(), some.begin(), some.end());
        std::vector<TexturedTriangle>().swap(some);
    }

    // Each band's triangles, in drawing order: the opaque ones as they come,
    // then the semi-transparent ones, farthest first (in the model's order
    // at equal depth).
    const int bands = (options.size + BAND - 1) / BAND;
    drawing.bandStart.assign(std::size_t(bands) + 1, 0);
    for (std::size_t i = 0; i < triangles; ++i)
        for (int b = drawing.firstRow[i] / BAND; b <= drawing.lastRow[i] / BAND && drawing.firstRow[i] <= drawing.lastRow[i]; ++b)
            ++drawing.bandStart[std::size_t(b) + 1];
    for (int b = 0; b < bands; ++b) drawing.bandStart[std::size_t(b) + 1] += drawing.bandStart[std::size_t(b)];
    drawing.inBand.resize(drawing.bandStart[std::size_t(bands)]);
    std::vector<std::uint32_t> place(drawing.bandStart.begin(), drawing.bandStart.end() - 1);
    std::uint32_t nextTextured = 0;  // the textured and blended triangles come in the same order
    std::size_t nextBlended = 0;
    auto add = [&](std::size_t i, std::uint32_t entry) {
        for (int b = drawing.firstRow[i] / BAND; b <= drawing.lastRow[i] / BAND; ++b) drawing.inBand[place[std::size_t(b)]++] = entry;
    };
    for (std::size_t i = 0; i < triangles; ++i) {
        if (drawing.firstRow[i] > drawing.lastRow[i]) continue;
        std::uint32_t entry = static_cast<std::uint32_t>(i);
        if (nextTextured < drawing.textured.size() && drawing.textured[nextTextured].triangle == i)
            entry = TEXTURED | nextTextured++;
        if (nextBlended < blended.size() && blended[nextBlended].triangle == i) blended[nextBlended++].entry = entry;
        else add(i, entry);
    }
    std::stable_sort(blended.begin(), blended.end(), [](const Blended& a, const Blended& b) { return a.depth > b.depth; });
    for (const Blended& b : blended) add(b.triangle, b.entry);

    // Bands are drawn on every core, each into one of a few buffers, and
    // handed to the encoder in order as they are finished.
    PngWriter png(options.size, options.size);
    std::vector<Band> buffers(std::size_t(std::min(16, bands)));
    for (Band& band : buffers) band.clear(0, std::min(BAND, options.size), options.size);  // room for any band
    auto draw_one = [&](int k) {
        Band& band = buffers[std::size_t(k) % buffers.size()];
        band.clear(k * BAND, std::min(BAND, options.size - k * BAND), options.size);
        draw_band(drawing, band);
    };
    std::mutex lock;
    std::condition_variable changed;
    int next = 0, encoded = 0;
    bool stop = false;
    std::vector<char> done(std::size_t(bands), 0);
    auto worker = [&] {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            changed.wait(hold, [&] { return stop || next >= bands || next < encoded + int(buffers.size()); });
            if (stop || next >= bands) return;
            const int k = next++;
            hold.unlock();
            draw_one(k);
            hold.lock();
            done[std::size_t(k)] = 1;
            changed.notify_all();
        }
    };
    std::vector<std::thread> drawers;
    struct Stop {
        std::mutex& lock;
        std::condition_variable& changed;
        bool& stop;
        std::vector<std::thread>& drawers;
        ~Stop() {
            {
                std::lock_guard<std::mutex> hold(lock);
                stop = true;
            }
            changed.notify_all();
            for (std::thread& drawer : drawers) drawer.join();
        }
    } stopAtEnd{lock, changed, stop, drawers};
    try {
        while (drawers.size() < spare_threads()) drawers.emplace_back(worker);
    } catch (const std::system_error&) {
    }
    for (int k = 0; k < bands; ++k) {
        if (drawers.empty()) {
            draw_one(k);
        } else {
            std::unique_lock<std::mutex> hold(lock);
            changed.wait(hold, [&] { return done[std::size_t(k)] != 0; });
        }
        const Band& band = buffers[std::size_t(k) % buffers.size()];
        png.write_rows(band.rgb.data(), band.rows);
        std::lock_guard<std::mutex> hold(lock);
        encoded = k + 1;
        changed.notify_all();
    }
    return png.finish();
}
