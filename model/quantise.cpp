// The colour quantiser: Wu's greedy orthogonal bipartition of the colour
// cube (Xiaolin Wu, "Efficient Statistical Computations for Optimal Color
// Quantization", Graphics Gems II, 1991), refined by k-means (Lloyd's
// algorithm) with the centres held to the lattice. Wu's histogram is of
// 32 levels a channel, which is exactly the table's 5-5-5 lattice: each cell
// holds the count of its pixels and the sums of their 8-bit values and of
// their squares, so that both steps measure the error against the 8-bit
// colours, not against the cells.
#include "quantise.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int SIDE = 33;  // 32 levels and a zero plane below them, for the sums
constexpr std::size_t CELLS = std::size_t(SIDE) * SIDE * SIDE;

std::size_t at(int r, int g, int b) { return (std::size_t(r) * SIDE + std::size_t(g)) * SIDE + std::size_t(b); }

// Pixel count, sums of the channels, sum of the squared channels.
struct Moments {
    std::vector<double> w = std::vector<double>(CELLS), r = w, g = w, b = w, m2 = w;
};

// A box of cells: r0 < r <= r1 and likewise.
struct Box {
    int r0 = 0, r1 = 32, g0 = 0, g1 = 32, b0 = 0, b1 = 32;
};

// The sum of a cumulative table over a box.
double volume(const Box& c, const std::vector<double>& m) {
    return m[at(c.r1, c.g1, c.b1)] - m[at(c.r1, c.g1, c.b0)] - m[at(c.r1, c.g0, c.b1)] + m[at(c.r1, c.g0, c.b0)] -
           m[at(c.r0, c.g1, c.b1)] + m[at(c.r0, c.g1, c.b0)] + m[at(c.r0, c.g0, c.b1)] - m[at(c.r0, c.g0, c.b0)];
}

// The sum over the part of the box whose coordinate `axis` is at most `cut`.
double below(const Box& c, int axis, int cut, const std::vector<double>& m) {
    Box part = c;
    (axis == 0 ? part.r1 : axis == 1 ? part.g1 : part.b1) = cut;
    return volume(part, m);
}

struct Sums {
    double w, r, g, b;
};
Sums sums(const Box& c, const Moments& m) {
    return {volume(c, m.w), volume(c, m.r), volume(c, m.g), volume(c, m.b)};
}

// The squared error of the box's pixels about their mean.
double variance(const Box& c, const Moments& m) {
    const Sums s = sums(c, m);
    return s.w > 0 ? volume(c, m.m2) - (s.r * s.r + s.g * s.g + s.b * s.b) / s.w : 0;
}

// The cut along `axis` that leaves the two halves' squared sums over
// counts largest (the least error), and that figure; -1 where none splits.
std::pair<int, double> best_cut(const Box& c, int axis, const Moments& m) {
    const Sums whole = sums(c, m);
    const int first = axis == 0 ? c.r0 : axis == 1 ? c.g0 : c.b0, last = axis == 0 ? c.r1 : axis == 1 ? c.g1 : c.b1;
    std::pair<int, double> best{-1, 0.0};
    for (int i = first + 1; i < last; ++i) {
        const Sums half{below(c, axis, i, m.w), below(c, axis, i, m.r), below(c, axis, i, m.g), below(c, axis, i, m.b)};
        const Sums rest{whole.w - half.w, whole.r - half.r, whole.g - half.g, whole.b - half.b};
        if (half.w <= 0 || rest.w <= 0) continue;
        const double value = (half.r * half.r + half.g * half.g + half.b * half.b) / half.w +
                             (rest.r * rest.r + rest.g * rest.g + rest.b * rest.b) / rest.w;
        if (value > best.second) best = {i, value};
    }
    return best;
}

// Splits `box` in two along its best cut; false where it cannot be split.
bool split(Box& box, Box& other, const Moments& m) {
    int axis = 0;
    std::pair<int, double> best{-1, 0.0};
    for (int a = 0; a < 3; ++a) {
        const auto cut = best_cut(box, a, m);
        if (cut.first >= 0 && cut.second > best.second) best = cut, axis = a;
    }
    if (best.first < 0) return false;
    other = box;
    if (axis == 0) box.r1 = other.r0 = best.first;
    else if (axis == 1) box.g1 = other.g0 = best.first;
    else box.b1 = other.b0 = best.first;
    return true;
}

Colour555 lattice(double r, double g, double b) {
    auto five = [](double c) { return std::clamp(int(std::lround(c * 31 / 255)), 0, 31); };
    return Colour555(five(r) | five(g) << 5 | five(b) << 10);
}

struct Cell {
    double w, r, g, b;  // count and sums
    Colour555 colour;   // the lattice colour of its pixels
};

// Lloyd's iterations over the occupied cells: each goes to its nearest
// entry, each entry moves to the lattice colour nearest the mean of its
// pixels, until no entry moves.
void refine(std::vector<Colour555>& table, const std::vector<Cell>& cells) {
    for (int round = 0; round < 12; ++round) {
        const NearestColour nearest(table);
        std::vector<Cell> sum(table.size(), Cell{0, 0, 0, 0, 0});
        for (const Cell& c : cells) {
            Cell& s = sum[std::size_t(nearest(c.r / c.w, c.g / c.w, c.b / c.w))];
            s.w += c.w, s.r += c.r, s.g += c.g, s.b += c.b;
        }
        bool moved = false;
        for (std::size_t k = 0; k < table.size(); ++k) {
            if (sum[k].w <= 0) continue;
            const Colour555 c = lattice(sum[k].r / sum[k].w, sum[k].g / sum[k].w, sum[k].b / sum[k].w);
            moved |= c != table[k];
            table[k] = c;
        }
        if (!moved) break;
    }
    // Two entries that came to the same colour are one.
    std::sort(table.begin(), table.end());
    table.erase(std::unique(table.begin(), table.end()), table.end());
}

}  // namespace

ColourTable quantise(const std::vector<std::uint8_t>& rgba, int colours) {
    Moments m;
    for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
        const std::uint8_t* p = &rgba[i];
        if (p[3] < 128) continue;
        const std::size_t k = at(to_five(p[0]) + 1, to_five(p[1]) + 1, to_five(p[2]) + 1);
        m.w[k] += 1, m.r[k] += p[0], m.g[k] += p[1], m.b[k] += p[2];
        m.m2[k] += double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2];
    }
    std::vector<Cell> cells;
    for (int r = 1; r < SIDE; ++r)
        for (int g = 1; g < SIDE; ++g)
            for (int b = 1; b < SIDE; ++b)
                if (const std::size_t k = at(r, g, b); m.w[k] > 0)
                    cells.push_back({m.w[k], m.r[k], m.g[k], m.b[k], Colour555((r - 1) | (g - 1) << 5 | (b - 1) << 10)});
    ColourTable out;
    if (cells.size() <= std::size_t(colours)) {
        for (const Cell& c : cells) out.entryOf[c.colour] = int(out.colours.size()), out.colours.push_back(c.colour);
        return out;
    }

    // The tables summed over every box from the origin, so that a box's sum
    // is eight look-ups.
    for (std::vector<double>* t : {&m.w, &m.r, &m.g, &m.b, &m.m2})
        for (int r = 1; r < SIDE; ++r)
            for (int g = 1; g < SIDE; ++g)
                for (int b = 1; b < SIDE; ++b) {
                    std::vector<double>& v = *t;
                    v[at(r, g, b)] += v[at(r - 1, g, b)] + v[at(r, g - 1, b)] + v[at(r, g, b - 1)] -
                                      v[at(r - 1, g - 1, b)] - v[at(r - 1, g, b - 1)] - v[at(r, g - 1, b - 1)] +
                                      v[at(r - 1, g - 1, b - 1)];
                }
    // The box of most error is split next.
    std::vector<Box> boxes(1);
    std::vector<double> error{variance(boxes[0], m)};
    while (boxes.size() < std::size_t(colours)) {
        const std::size_t next = std::size_t(std::max_element(error.begin(), error.end()) - error.begin());
        if (error[next] <= 0) break;
        Box other;
        if (!split(boxes[next], other, m)) {
            error[next] = 0;
            continue;
        }
        boxes.push_back(other);
        error[next] = variance(boxes[next], m);
        error.push_back(variance(other, m));
    }
    for (const Box& box : boxes) {
        const Sums s = sums(box, m);
        if (s.w > 0) out.colours.push_back(lattice(s.r / s.w, s.g / s.w, s.b / s.w));
    }
    refine(out.colours, cells);
    const NearestColour nearest(out.colours);
    for (std::size_t k = 0; k < out.colours.size(); ++k) out.entryOf[out.colours[k]] = int(k);
    for (const Cell& c : cells)
        if (out.entryOf[c.colour] < 0) out.entryOf[c.colour] = nearest(c.r / c.w, c.g / c.w, c.b / c.w);
    return out;
}

NearestColour::NearestColour(const std::vector<Colour555>& table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        const int c = table[i];
        byGreen_.push_back({double(to_eight(c & 31)), double(to_eight(c >> 5 & 31)), double(to_eight(c >> 10 & 31)), int(i)});
    }
    std::stable_sort(byGreen_.begin(), byGreen_.end(), [](const Entry& a, const Entry& b) { return a.g < b.g; });
}

// Outward from the entries of the nearest green, both ways, until the
// green alone is farther than the best so far.
int NearestColour::operator()(double r, double g, double b) const {
    const auto start = std::lower_bound(byGreen_.begin(), byGreen_.end(), g,
                                        [](const Entry& e, double value) { return e.g < value; });
    double best = INFINITY;
    int index = -1;
    auto consider = [&](const Entry& e) {
        const double d = (e.r - r) * (e.r - r) + (e.g - g) * (e.g - g) + (e.b - b) * (e.b - b);
        if (d < best || (d == best && e.index < index)) best = d, index = e.index;
    };
    auto up = start, down = start;
    bool upOpen = true, downOpen = true;
    while (upOpen || downOpen) {
        upOpen = up != byGreen_.end() && (up->g - g) * (up->g - g) <= best;
        if (upOpen) consider(*up++);
        downOpen = down != byGreen_.begin() && (g - (down - 1)->g) * (g - (down - 1)->g) <= best;
        if (downOpen) consider(*--down);
    }
    return index;
}
