// Drawing one band of rows: triangles filled by edge functions over pixel
// centres (top-left rule, depth per pixel), rims stepped pixel by pixel.
#include "raster.h"

#include <algorithm>
#include <cmath>

namespace {

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

// A pixel of a textured triangle whose edge functions are w0, w1, w2; false
// where its texel is see-through, which leaves the pixel and its depth to
// whatever lies behind.
bool draw_texel(const TexturedTriangle& t, bool blend, std::int64_t w0, std::int64_t w1, std::int64_t w2, Band& band,
                std::size_t at) {
    // Corner k weighs as the edge opposite it; written from corner 0, so
    // that what is the same at every corner stays exactly that.
    const float sum = float(w0 + w1 + w2);
    const float b1 = float(w2) / sum, b2 = float(w0) / sum;
    auto mix = [&](float k0, float k1, float k2) { return k0 + b1 * (k1 - k0) + b2 * (k2 - k0); };
    const std::uint8_t* texel = t.image->texel(mix(t.u[0], t.u[1], t.u[2]), mix(t.v[0], t.v[1], t.v[2]));
    if (texel[3] == 0) return false;
    const float light = mix(t.light[0], t.light[1], t.light[2]);
    auto shown = [&](int i, unsigned char Rgb::*c) {
        const float colour = mix(t.colour[0].*c, t.colour[1].*c, t.colour[2].*c);
        return channel(static_cast<int>(modulated(texel[i], colour) * light + 0.5f));
    };
    const Rgb c{shown(0, &Rgb::r), shown(1, &Rgb::g), shown(2, &Rgb::b)};
    if (blend) band.blend(at, c);
    else band.put(at, c);
    return true;
}

// The colour of an untextured triangle with corners of different colours
// at the pixel whose edge functions are w0, w1, w2.
Rgb smooth(const Triangle& t, std::int64_t w0, std::int64_t w1, std::int64_t w2) {
    // Corner k weighs as the edge opposite it.
    const float sum = float(w0 + w1 + w2);
    const float b0 = float(w1) / sum, b1 = float(w2) / sum, b2 = float(w0) / sum;
    auto mix = [&](unsigned char Rgb::*c) {
        return channel(static_cast<int>(b0 * (t.colour[0].*c) + b1 * (t.colour[1].*c) + b2 * (t.colour[2].*c) + 0.5f));
    };
    return {mix(&Rgb::r), mix(&Rgb::g), mix(&Rgb::b)};
}

// `Textured` is fixed per triangle, so that the pixels of untextured ones
// pay nothing for textures.
template <bool Textured>
void draw_triangle(const Triangle& t, const TexturedTriangle* texture, int firstRow, int lastRow, Band& band) {
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
    if (std::min({v[0].z, v[1].z, v[2].z}) - slack > farthestThere) return;
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
            if (nearest(bx0, bx1) > farthest[blockColumn]) continue;
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
                    // At equal depth the later polygon shows, as in viewers.
                    if (!(inside & (z <= band.depth[at]))) continue;
                    if constexpr (Textured) {
                        if (draw_texel(*texture, t.blend, w0, w1, w2, band, at) && !t.blend) band.depth[at] = z, drawn = true;
                        continue;
                    }
                    if (t.blend) {
                        band.blend(at, t.plain ? t.colour[0] : smooth(t, w0, w1, w2));
                        continue;
                    }
                    band.depth[at] = z;
                    drawn = true;
                    if (t.plain) {
                        band.put(at, t.colour[0]);
                        continue;
                    }
                    band.put(at, smooth(t, w0, w1, w2));
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

}  // namespace

void draw_band(const Drawing& drawing, Band& band) {
    const int first = band.top, last = band.top + band.rows - 1;
    const std::size_t number = std::size_t(band.top / BAND);
    for (std::size_t j = drawing.bandStart[number]; j < drawing.bandStart[number + 1]; ++j) {
        const std::uint32_t entry = drawing.inBand[j];
        const TexturedTriangle* texture = entry & TEXTURED ? &drawing.textured[entry & ~TEXTURED] : nullptr;
        const std::uint32_t i = texture ? texture->triangle : entry;
        const int from = std::max<int>(first, drawing.firstRow[i]), to = std::min<int>(last, drawing.lastRow[i]);
        if (texture) draw_triangle<true>(drawing.triangles[i], texture, from, to, band);
        else draw_triangle<false>(drawing.triangles[i], nullptr, from, to, band);
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

