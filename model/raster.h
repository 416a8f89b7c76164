// The rasteriser of "render": screen triangles and polygon rims drawn into
// a band of rows with a z-buffer. Bands are drawn independently of one
// another from the same triangles in the same order.
#pragma once

#include "geometry.h"

#include <cstdint>
#include <limits>
#include <memory>

constexpr int SUBPIXEL = 256;  // screen coordinates are kept in 1/256 pixel
constexpr int BAND = 64;       // rows drawn together
constexpr int BLOCK = 8;       // side of the squares whose farthest depth is kept
static_assert(BAND % BLOCK == 0);

const Rgb BACKGROUND{255, 255, 255};
const Rgb EDGE_COLOUR{20, 20, 20};
// How far behind the surface drawn an edge may lie and still show.
constexpr float EDGE_DEPTH_SLACK = 1e-3f;

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
    bool blend;  // semi-transparent: drawn half over what is behind, depth left as it is
};

// What a textured triangle needs besides its Triangle record, kept aside so
// that the records of the many untextured ones stay small. Per corner, in
// the record's corner order: the texel position, the colour that modulates
// the texels (128 neutral), and the light's factor.
struct TexturedTriangle {
    std::uint32_t triangle;  // its place among the Drawing's triangles
    Rgb colour[3];
    const TimImage* image;
    float u[3], v[3], light[3];
};

inline std::int64_t cross(const Corner& o, const Corner& a, const Corner& b) {
    return std::int64_t(a.x - o.x) * (b.y - o.y) - std::int64_t(a.y - o.y) * (b.x - o.x);
}

// Marks an entry of Drawing::inBand as the number of a textured triangle.
constexpr std::uint32_t TEXTURED = std::uint32_t(1) << 31;

// Everything needed to draw: the triangles of every polygon, the rows each
// may touch, and for --wire every polygon's rim. In each band the opaque
// triangles come first, in the model's order, and then the semi-transparent
// ones from the farthest to the nearest.
struct Drawing {
    std::unique_ptr<Triangle[]> triangles;  // left as they are where firstRow > lastRow
    std::vector<std::uint16_t> firstRow, lastRow;  // firstRow > lastRow: nothing to draw
    std::vector<TexturedTriangle> textured;  // of the triangles to draw, in their order
    std::vector<std::array<Corner, 4>> rims;
    std::vector<unsigned char> rimCorners;  // 0: not drawn
    // The triangles of each band of rows, in order: a triangle's number, or
    // for a textured one TEXTURED | its number in `textured`.
    std::vector<std::uint32_t> bandStart, inBand;
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
    // Half the colour over half of what is there, halves rounded up.
    void blend(std::size_t at, Rgb c) {
        unsigned char* p = &rgb[3 * at];
        p[0] = static_cast<unsigned char>((p[0] + c.r + 1) / 2);
        p[1] = static_cast<unsigned char>((p[1] + c.g + 1) / 2);
        p[2] = static_cast<unsigned char>((p[2] + c.b + 1) / 2);
    }
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

// Draws the triangles and rims of the band's rows.
void draw_band(const Drawing& drawing, Band& band);
