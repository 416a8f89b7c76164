// "render": the groups drawn into a PNG image by a z-buffer rasteriser of
// our own, orthographic, one light from the viewer's upper left.
//
// Every polygon is first turned into screen triangles with fixed-point
// corners and a lit colour per corner; the picture is then drawn in bands of
// rows, each band on its own from the same triangles in the same order, so
// that the pixels do not depend on how many threads draw them, and the bands
// go to the PNG encoder as they are finished.
#include "geometry.h"
#include "png_writer.h"

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

constexpr int SUBPIXEL = 256;  // screen coordinates are kept in 1/256 pixel
constexpr int BAND = 64;       // rows drawn together
constexpr int BLOCK = 8;       // side of the squares whose farthest depth is kept
static_assert(BAND % BLOCK == 0);

const Rgb BACKGROUND{255, 255, 255};
const Rgb EDGE_COLOUR{20, 20, 20};
// --colour group: hues far apart, in an order that keeps neighbours apart.
const Rgb PALETTE[] = {{230, 25, 75},   {0, 130, 200},  {60, 180, 75},   {245, 130, 48},
                       {145, 30, 180},  {70, 210, 210}, {240, 50, 230},  {170, 200, 40},
                       {128, 80, 30},   {0, 100, 100},  {250, 160, 190}, {255, 215, 0}};
constexpr float AMBIENT = 0.3f, DIFFUSE = 0.7f;
constexpr float BEHIND = 0.5f;  // a face seen from behind shows this much of its colour
// Light from the viewer's upper left, in view axes (right, up, towards the viewer).
const Vec3 LIGHT = normalised({-1, 1, 2});
// How far behind the surface drawn an edge may lie and still show.
constexpr float EDGE_DEPTH_SLACK = 1e-3f;

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

// A triangle on the screen: corners in 1/SUBPIXEL pixels (y down) with their
// depth from 0 (nearest) to 1, and their colours.
struct Corner {
    std::int32_t x, y;
    float z;
};
struct Triangle {
    Corner corner[3];  // in the order whose edge functions are positive inside
    Rgb colour[3];
    bool plain;  // one colour for the whole triangle
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

std::int64_t cross(const Corner& o, const Corner& a, const Corner& b) {
    return std::int64_t(a.x - o.x) * (b.y - o.y) - std::int64_t(a.y - o.y) * (b.x - o.x);
}

// Everything needed to draw: the triangles of every polygon in order, the
// rows each may touch, and for --wire every polygon's rim.
struct Drawing {
    std::unique_ptr<Triangle[]> triangles;  // left as they are where firstRow > lastRow
    std::vector<std::uint16_t> firstRow, lastRow;  // firstRow > lastRow: nothing to draw
    std::vector<std::array<Corner, 4>> rims;
    std::vector<unsigned char> rimCorners;  // 0: not drawn
    std::vector<std::uint32_t> bandStart, inBand;  // the triangles of each band of rows, in order
};

// A stretch of a group's polygons, the unit of work when preparing them.
struct Piece {
    const Group* group;
    std::size_t groupIndex, begin, end;
    std::size_t triangle, polygon;  // the Drawing places of polygon `begin` and its first triangle
};

// As many threads as the machine has cores, up to eight.
unsigned draw_threads() { return std::max(1u, std::min(std::thread::hardware_concurrency(), 8u)); }

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

    void prepare(const Piece& piece, Drawing& out) const {
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
            // Each corner's place, colour, and how squarely it faces the light
            // from the polygon's front.
            Shaded corners[4];
            const Vec3 face = face_normal(polygon, ply.vertex);
            const bool lit = !is_unlit(material);
            for (int k = 0; k < corner_count(polygon); ++k) {
                corners[k].at = screen_corner(frame_, ply.vertex[static_cast<std::size_t>(polygon.vtx[k])]);
                corners[k].base = options_.colourByGroup ? PALETTE[piece.groupIndex % std::size(PALETTE)] : corner_colour(material, k);
                if (lit) {
                    const Vec3 n = corner_normal(polygon, material, k, ply, face);
                    corners[k].towardsLight = dot({dot(n, axes_[0]), dot(n, axes_[1]), dot(n, axes_[2])}, LIGHT);
                }
            }
            for (int t = 0; t < triangles.count; ++t, ++slot)
                prepare_triangle(material, lit, corners, triangles.corners[static_cast<std::size_t>(t)], slot, out);
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
        Rgb base;
        float towardsLight = 0;
    };

    void prepare_triangle(const MaterialData* material, bool lit, const Shaded* corners,
                          const std::array<int, 3>& which, std::size_t slot, Drawing& out) const {
        Triangle& triangle = out.triangles[slot];
        int k[3] = {which[0], which[1], which[2]};
        std::int64_t area = cross(corners[k[0]].at, corners[k[1]].at, corners[k[2]].at);
        if (area == 0) return;
        // triangles_of runs counter-clockwise from the front with Y up; on the
        // screen, Y runs down, so the front shows where the area is negative.
        const bool front = area < 0;
        if (front) std::swap(k[1], k[2]);
        const bool darker = !front && !is_double_sided(material);
        for (int c = 0; c < 3; ++c) {
            const Shaded& corner = corners[k[c]];
            triangle.corner[c] = corner.at;
            float light = lit ? AMBIENT + DIFFUSE * std::max(0.0f, front ? corner.towardsLight : -corner.towardsLight) : 1;
            if (darker) light *= BEHIND;
            auto scaled = [&](unsigned char v) { return channel(static_cast<int>(v * light + 0.5f)); };
            triangle.colour[c] = {scaled(corner.base.r), scaled(corner.base.g), scaled(corner.base.b)};
        }
        triangle.plain = triangle.colour[0] == triangle.colour[1] && triangle.colour[0] == triangle.colour[2];
        // The rows whose pixel centres the triangle may cover.
        const Corner* v = triangle.corner;
        const std::int32_t top = std::min({v[0].y, v[1].y, v[2].y}), bottom = std::max({v[0].y, v[1].y, v[2].y});
        int first = (top - SUBPIXEL / 2 + SUBPIXEL - 1) / SUBPIXEL;
        int last = std::min(frame_.size - 1, (bottom - SUBPIXEL / 2) / SUBPIXEL);
        if (bottom < SUBPIXEL / 2 || first > last) return;
        out.firstRow[slot] = static_cast<std::uint16_t>(first);
        out.lastRow[slot] = static_cast<std::uint16_t>(last);
    }

    const Scene& scene_;
    const RenderOptions& options_;
    const Frame& frame_;
    std::vector<Vec3> axes_;
};

// One band of rows being drawn: colours, depths, and the farthest depth in
// each BLOCK x BLOCK square and in each run of RUN squares across, so that a
// triangle behind them skips them whole.
constexpr int RUN = 8;
struct Band {
    int top = 0, rows = 0, width = 0, blocksAcross = 0, runsAcross = 0;
    std::vector<unsigned char> rgb;
    std::vector<float> depth, farthest, farthestInRun;
    std::vector<float> farthestDown;  // for each run across: the farthest in all the band's rows

    void clear(int firstRow, int rowCount, int size) {
        top = firstRow, rows = rowCount, width = size;
        blocksAcross = (width + BLOCK - 1) / BLOCK, runsAcross = (blocksAcross + RUN - 1) / RUN;
        const std::size_t pixels = std::size_t(rows) * std::size_t(width);
        rgb.resize(3 * pixels);
        for (std::size_t i = 0; i < pixels; ++i)
            rgb[3 * i] = BACKGROUND.r, rgb[3 * i + 1] = BACKGROUND.g, rgb[3 * i + 2] = BACKGROUND.b;
        const float none = std::numeric_limits<float>::infinity();
        depth.assign(pixels, none);
        farthest.assign(std::size_t(BAND / BLOCK) * std::size_t(blocksAcross), none);
        farthestInRun.assign(std::size_t(BAND / BLOCK) * std::size_t(runsAcross), none);
        farthestDown.assign(std::size_t(runsAcross), none);
    }
    void put(std::size_t at, Rgb c) { rgb[3 * at] = c.r, rgb[3 * at + 1] = c.g, rgb[3 * at + 2] = c.b; }
    void refresh_farthest(int blockRow, int blockColumn) {
        float most = 0;
        const int x0 = blockColumn * BLOCK, x1 = std::min(width, x0 + BLOCK);
        for (int y = blockRow * BLOCK; y < std::min(rows, (blockRow + 1) * BLOCK); ++y)
            for (int x = x0; x < x1; ++x) most = std::max(most, depth[std::size_t(y) * std::size_t(width) + std::size_t(x)]);
        float* row = &farthest[std::size_t(blockRow) * std::size_t(blocksAcross)];
        row[blockColumn] = most;
        const int run = blockColumn / RUN;
        for (int b = run * RUN; b < std::min(blocksAcross, (run + 1) * RUN); ++b) most = std::max(most, row[b]);
        farthestInRun[std::size_t(blockRow) * std::size_t(runsAcross) + std::size_t(run)] = most;
        for (int r = 0; r < BAND / BLOCK; ++r) most = std::max(most, farthestInRun[std::size_t(r) * std::size_t(runsAcross) + std::size_t(run)]);
        farthestDown[std::size_t(run)] = most;
    }
};

// An edge function e(x, y) = a x + b y + c over pixel numbers, evaluated at
// pixel centres: positive inside the triangle, or zero on a top or left edge.
struct Edge {
    std::int64_t a, b, c;
    std::int64_t at(int x, int y) const { return a * x + b * y + c; }
};

Edge edge(const Corner& p, const Corner& q) {
    const std::int64_t dx = q.x - p.x, dy = q.y - p.y;
    const bool topOrLeft = dy < 0 || (dy == 0 && dx > 0);
    const std::int64_t a = -dy, b = dx;
    return {a * SUBPIXEL, b * SUBPIXEL, a * (SUBPIXEL / 2 - p.x) + b * (SUBPIXEL / 2 - p.y) + (topOrLeft ? 1 : 0)};
}

void draw_triangle(const Triangle& t, int firstRow, int lastRow, Band& band) {
    const Corner* v = t.corner;
    std::int32_t left = std::min({v[0].x, v[1].x, v[2].x}), right = std::max({v[0].x, v[1].x, v[2].x});
    const int firstColumn = std::max(0, (left - SUBPIXEL / 2 + SUBPIXEL - 1) / SUBPIXEL);
    const int lastColumn = std::min(band.width - 1, (right - SUBPIXEL / 2) / SUBPIXEL);
    if (right < SUBPIXEL / 2 || firstColumn > lastColumn) return;
    const Edge e[3] = {edge(v[0], v[1]), edge(v[1], v[2]), edge(v[2], v[0])};
    // Depth as a plane over pixel numbers: z = zc + zx x + zy y, for the
    // tests of whole squares; each pixel's from its distance to a corner, in
    // double, as a thin triangle's plane is steep.
    const double x0 = v[0].x / double(SUBPIXEL), y0 = v[0].y / double(SUBPIXEL);
    const double x1 = v[1].x / double(SUBPIXEL) - x0, y1 = v[1].y / double(SUBPIXEL) - y0;
    const double x2 = v[2].x / double(SUBPIXEL) - x0, y2 = v[2].y / double(SUBPIXEL) - y0;
    const double z1 = double(v[1].z) - v[0].z, z2 = double(v[2].z) - v[0].z;
    const double area = x1 * y2 - x2 * y1;
    const double zxd = (z1 * y2 - z2 * y1) / area, zyd = (z2 * x1 - z1 * x2) / area;
    const float zx = float(zxd), zy = float(zyd), zc = float(v[0].z + zxd * (0.5 - x0) + zyd * (0.5 - y0));
    const float slack = 1e-6f * (std::fabs(zc) + (std::fabs(zx) + std::fabs(zy)) * float(band.width)) + 1e-7f;
    // Nothing to do behind everything drawn where the triangle lies: no
    // point of it is nearer than its nearest corner.
    float farthestThere = 0;
    for (int run = firstColumn / (BLOCK * RUN); run <= lastColumn / (BLOCK * RUN); ++run)
        farthestThere = std::max(farthestThere, band.farthestDown[std::size_t(run)]);
    if (std::min({v[0].z, v[1].z, v[2].z}) - slack >= farthestThere) return;
    // Each edge's x as a function of y, for the span of each row of squares.
    double slope[3];
    for (int i = 0; i < 3; ++i) {
        const Corner &p = v[i], &q = v[(i + 1) % 3];
        slope[i] = p.y == q.y ? 0 : double(q.x - p.x) / (q.y - p.y);
    }

    for (int blockRow = (firstRow - band.top) / BLOCK; blockRow <= (lastRow - band.top) / BLOCK; ++blockRow) {
        const int by0 = std::max(firstRow, band.top + blockRow * BLOCK);
        const int by1 = std::min(lastRow, band.top + blockRow * BLOCK + BLOCK - 1);
        // Where the triangle crosses these rows, give or take a pixel: a thin
        // slanting triangle touches few of the squares of its bounding box.
        double from = std::numeric_limits<double>::infinity(), to = -from;
        for (int i = 0; i < 3; ++i) {
            const Corner &p = v[i], &q = v[(i + 1) % 3];
            const double ya = (by0 + 0.5) * SUBPIXEL, yb = (by1 + 0.5) * SUBPIXEL;
            if (std::max(p.y, q.y) < ya || std::min(p.y, q.y) > yb) continue;
            if (p.y == q.y) {
                from = std::min<double>(from, std::min(p.x, q.x)), to = std::max<double>(to, std::max(p.x, q.x));
                continue;
            }
            for (double y : {std::clamp<double>(p.y, ya, yb), std::clamp<double>(q.y, ya, yb)}) {
                const double x = p.x + (y - p.y) * slope[i];
                from = std::min(from, x), to = std::max(to, x);
            }
        }
        if (!(from <= to)) continue;
        const int spanFirst = std::max(firstColumn, int(std::floor(from / SUBPIXEL)) - 1);
        const int spanLast = std::min(lastColumn, int(std::floor(to / SUBPIXEL)) + 1);
        // The nearest the plane comes within columns x0 to x1 of these rows.
        const float rowNearest = zc + std::min(zy * float(by0), zy * float(by1)) - slack;
        auto nearest = [&](int x0, int x1) { return rowNearest + std::min(zx * float(x0), zx * float(x1)); };
        const float* farthestInRun = &band.farthestInRun[std::size_t(blockRow) * std::size_t(band.runsAcross)];
        float* farthest = &band.farthest[std::size_t(blockRow) * std::size_t(band.blocksAcross)];
        for (int run = spanFirst / (BLOCK * RUN); run <= spanLast / (BLOCK * RUN); ++run) {
            if (nearest(std::max(spanFirst, run * BLOCK * RUN), std::min(spanLast, (run + 1) * BLOCK * RUN - 1)) >=
                farthestInRun[run])
                continue;
        for (int blockColumn = std::max(spanFirst / BLOCK, run * RUN);
             blockColumn <= std::min(spanLast / BLOCK, run * RUN + RUN - 1); ++blockColumn) {
            const int bx0 = std::max(spanFirst, blockColumn * BLOCK);
            const int bx1 = std::min(spanLast, blockColumn * BLOCK + BLOCK - 1);
            if (nearest(bx0, bx1) >= farthest[blockColumn]) continue;
            bool outside = false;
            for (const Edge& f : e) outside |= f.at(f.a > 0 ? bx1 : bx0, f.b > 0 ? by1 : by0) <= 0;
            if (outside) continue;
            bool drawn = false;
            for (int y = by0; y <= by1; ++y) {
                std::int64_t w0 = e[0].at(bx0, y), w1 = e[1].at(bx0, y), w2 = e[2].at(bx0, y);
                const double zRow = v[0].z + zyd * (y + 0.5 - y0);
                std::size_t at = std::size_t(y - band.top) * std::size_t(band.width) + std::size_t(bx0);
                for (int x = bx0; x <= bx1; ++x, ++at, w0 += e[0].a, w1 += e[1].a, w2 += e[2].a) {
                    // Inside: every edge function at least 1; one test, as few pixels pass.
                    const bool inside = ((w0 - 1) | (w1 - 1) | (w2 - 1)) >= 0;
                    const float z = float(zRow + zxd * (x + 0.5 - x0));
                    if (!(inside & (z < band.depth[at]))) continue;
                    band.depth[at] = z;
                    drawn = true;
                    if (t.plain) {
                        band.put(at, t.colour[0]);
                        continue;
                    }
                    // Corner k weighs as the edge opposite it.
                    const float sum = float(w0 + w1 + w2);
                    const float b0 = float(w1) / sum, b1 = float(w2) / sum, b2 = float(w0) / sum;
                    auto mix = [&](unsigned char Rgb::*c) {
                        return channel(static_cast<int>(b0 * (t.colour[0].*c) + b1 * (t.colour[1].*c) + b2 * (t.colour[2].*c) + 0.5f));
                    };
                    band.put(at, {mix(&Rgb::r), mix(&Rgb::g), mix(&Rgb::b)});
                }
            }
            if (drawn) band.refresh_farthest(blockRow, blockColumn);
        }
        }
    }
}

// An edge of a rim, stepped one pixel at a time along its longer side; its
// pixels show unless a surface lies in front of them.
void draw_edge(const Corner& p, const Corner& q, Band& band) {
    const double px = p.x / double(SUBPIXEL), py = p.y / double(SUBPIXEL);
    const double dx = q.x / double(SUBPIXEL) - px, dy = q.y / double(SUBPIXEL) - py;
    const bool steep = std::fabs(dy) > std::fabs(dx);
    const double start = steep ? py : px, length = steep ? dy : dx;
    if (length == 0) return;
    int from = int(std::ceil(std::min(start, start + length) - 0.5));
    int to = int(std::floor(std::max(start, start + length) - 0.5));
    if (steep) {
        from = std::max(from, band.top), to = std::min(to, band.top + band.rows - 1);
    } else {
        from = std::max(from, 0), to = std::min(to, band.width - 1);
        // Only the columns where the edge is within the band's rows, give or take one.
        if (dy != 0) {
            const double s0 = (band.top - py) / dy, s1 = (band.top + band.rows - py) / dy;
            const double c0 = start + s0 * length - 0.5, c1 = start + s1 * length - 0.5;
            from = std::max<double>(from, std::floor(std::min(c0, c1)) - 1);
            to = std::min<double>(to, std::ceil(std::max(c0, c1)) + 1);
        }
    }
    for (int i = from; i <= to; ++i) {
        const double s = (i + 0.5 - start) / length;
        const int x = steep ? int(std::floor(px + s * dx)) : i;
        const int y = steep ? i : int(std::floor(py + s * dy));
        if (x < 0 || x >= band.width || y < band.top || y >= band.top + band.rows) continue;
        const float z = float(p.z + s * (double(q.z) - p.z));
        const std::size_t at = std::size_t(y - band.top) * std::size_t(band.width) + std::size_t(x);
        if (z <= band.depth[at] + EDGE_DEPTH_SLACK) band.put(at, EDGE_COLOUR);
    }
}

void draw_band(const Drawing& drawing, Band& band) {
    const int first = band.top, last = band.top + band.rows - 1;
    const std::size_t number = std::size_t(band.top / BAND);
    for (std::size_t j = drawing.bandStart[number]; j < drawing.bandStart[number + 1]; ++j) {
        const std::uint32_t i = drawing.inBand[j];
        draw_triangle(drawing.triangles[i], std::max<int>(first, drawing.firstRow[i]),
                      std::min<int>(last, drawing.lastRow[i]), band);
    }
    for (std::size_t i = 0; i < drawing.rimCorners.size(); ++i) {
        const int n = drawing.rimCorners[i];
        const auto& rim = drawing.rims[i];
        for (int k = 0; k < n; ++k) {
            const Corner &p = rim[std::size_t(k)], &q = rim[std::size_t((k + 1) % n)];
            if (std::max(p.y, q.y) < first * SUBPIXEL || std::min(p.y, q.y) > (last + 1) * SUBPIXEL) continue;
            draw_edge(p, q, band);
        }
    }
}

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
    if (triangles > UINT32_MAX) throw std::bad_alloc();

    // The bounds of every polygon that can be drawn.
    std::vector<Frame> bounds(pieces.size(), frame);
    std::vector<long long> skipped(pieces.size(), 0);
    run_pieces(draw_threads(), pieces.size(), [&](std::size_t k) {
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
    run_pieces(draw_threads(), pieces.size(), [&](std::size_t k) { painter.prepare(pieces[k], drawing); });

    // Each band's triangles, in drawing order.
    const int bands = (options.size + BAND - 1) / BAND;
    drawing.bandStart.assign(std::size_t(bands) + 1, 0);
    for (std::size_t i = 0; i < triangles; ++i)
        for (int b = drawing.firstRow[i] / BAND; b <= drawing.lastRow[i] / BAND && drawing.firstRow[i] <= drawing.lastRow[i]; ++b)
            ++drawing.bandStart[std::size_t(b) + 1];
    for (int b = 0; b < bands; ++b) drawing.bandStart[std::size_t(b) + 1] += drawing.bandStart[std::size_t(b)];
    drawing.inBand.resize(drawing.bandStart[std::size_t(bands)]);
    std::vector<std::uint32_t> place(drawing.bandStart.begin(), drawing.bandStart.end() - 1);
    for (std::size_t i = 0; i < triangles; ++i)
        for (int b = drawing.firstRow[i] / BAND; b <= drawing.lastRow[i] / BAND && drawing.firstRow[i] <= drawing.lastRow[i]; ++b)
            drawing.inBand[place[std::size_t(b)]++] = static_cast<std::uint32_t>(i);

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
        const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
        while (drawers.size() < cores) drawers.emplace_back(worker);
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
