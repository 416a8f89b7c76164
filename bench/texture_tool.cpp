// The texture benchmark's helper: makes its test pictures, and measures a
// picture against the original.
//
//   texture_tool make DIR          writes the test pictures (PNG) into DIR
//   texture_tool psnr ORIG TEST [--555]
//
// psnr prints the PSNR in dB of TEST against ORIG over the pixels opaque in
// ORIG (alpha 128 or more), of the red, green and blue 8-bit values, 99 for
// equal pictures; with --555 each of TEST's values is first rounded to 5
// bits and widened again, as a TIM colour table would hold it.
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Pixel = std::array<double, 4>;  // 0..255 each

std::uint32_t hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}
double lattice(int x, int y, std::uint32_t seed) { return (hash(std::uint32_t(x), std::uint32_t(y), seed) & 0xffff) / 65535.0; }

// Smooth value noise over a few octaves, about 0..1.
double noise(double x, double y, std::uint32_t seed, int octaves) {
    double sum = 0, amplitude = 0.5, total = 0;
    for (int o = 0; o < octaves; ++o, x *= 2, y *= 2, amplitude /= 2) {
        const int xi = int(std::floor(x)), yi = int(std::floor(y));
        const double fx = x - xi, fy = y - yi, sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
        const double a = lattice(xi, yi, seed + o), b = lattice(xi + 1, yi, seed + o), c = lattice(xi, yi + 1, seed + o),
                     d = lattice(xi + 1, yi + 1, seed + o);
        sum += amplitude * ((a + (b - a) * sx) * (1 - sy) + (c + (d - c) * sx) * sy);
        total += amplitude;
    }
    return sum / total;
}

double clamp255(double v) { return std::clamp(v, 0.0, 255.0); }

void write(const std::string& path, int w, int h, const std::function<Pixel(double, double, int, int)>& at) {
    std::vector<std::uint8_t> rgba(std::size_t(w) * std::size_t(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Pixel p = at((x + 0.5) / w, (y + 0.5) / h, x, y);
            for (int k = 0; k < 4; ++k) rgba[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 4 + std::size_t(k)] = std::uint8_t(std::lround(clamp255(p[std::size_t(k)])));
        }
    if (!stbi_write_png(path.c_str(), w, h, 4, rgba.data(), w * 4)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

// A hard-edged pictogram: discs and bars in `colours` flat colours.
Pixel pictogram(double u, double v, int colours, std::uint32_t seed, bool clear) {
    static const double palette[][3] = {{230, 57, 70}, {241, 250, 238}, {168, 218, 220}, {69, 123, 157}, {29, 53, 87},
                                        {255, 183, 3}, {251, 133, 0}, {2, 48, 71}, {142, 202, 230}, {33, 158, 188},
                                        {106, 76, 147}, {25, 130, 196}, {138, 201, 38}, {255, 202, 58}, {255, 89, 94},
                                        {40, 40, 40}, {250, 250, 250}, {120, 94, 62}, {200, 170, 120}, {90, 170, 90}};
    int colour = 0;
    bool inside = false;
    for (int k = 0; k < 12; ++k) {
        const double cx = lattice(k, 1, seed), cy = lattice(k, 2, seed), r = 0.05 + 0.2 * lattice(k, 3, seed);
        const bool bar = k % 3 == 2;
        const bool in = bar ? std::abs(u - cx) < r && std::abs(v - cy) < r / 3
                            : (u - cx) * (u - cx) + (v - cy) * (v - cy) < r * r;
        if (in) colour = 1 + k % (colours - 1), inside = true;
    }
    // On the 5-5-5 lattice, so that a table holds them exactly.
    auto lattice555 = [](double c) { const int five = int(std::lround(c * 31 / 255)); return double(five << 3 | five >> 2); };
    const double* c = palette[colour];
    return {lattice555(c[0]), lattice555(c[1]), lattice555(c[2]), clear && !inside ? 0.0 : 255.0};
}

// Photo-like: smooth shapes of colour, shading and a grain of noise.
Pixel photo(double u, double v, int x, int y, std::uint32_t seed, double scale) {
    const double n1 = noise(u * scale, v * scale, seed, 6), n2 = noise(u * scale + 7, v * scale, seed + 9, 6),
                 n3 = noise(u * scale, v * scale + 5, seed + 17, 5);
    const double grain = (lattice(x, y, seed + 99) - 0.5) * 14;
    return {clamp255(40 + 200 * n1 + 50 * (n3 - 0.5) + grain), clamp255(30 + 180 * n2 * n1 + 40 * n3 + grain),
            clamp255(20 + 150 * n3 + 60 * (1 - n1) + grain), 255};
}

int make(const std::string& dir) {
    auto path = [&](const char* name) { return dir + "/" + name + ".png"; };
    write(path("gradient-64"), 64, 64, [](double u, double v, int, int) { return Pixel{255 * u, 255 * v, 128, 255}; });
    write(path("gradient-512"), 512, 512, [](double u, double v, int, int) {
        return Pixel{255 * u, 255 * (1 - v), 255 * (u + v) / 2, 255};
    });
    write(path("gradient-radial-2048"), 2048, 2048, [](double u, double v, int, int) {
        const double r = std::sqrt((u - 0.4) * (u - 0.4) + (v - 0.6) * (v - 0.6));
        return Pixel{255 * (1 - r), 120 + 100 * std::sin(6 * r), 255 * r, 255};
    });
    write(path("sky-1024"), 1024, 1024, [](double u, double v, int, int) {
        const double sun = std::exp(-((u - 0.7) * (u - 0.7) + (v - 0.75) * (v - 0.75)) * 40);
        return Pixel{60 + 190 * v + 60 * sun, 110 + 90 * v * v + 80 * sun, 230 - 160 * v + 20 * sun, 255};
    });
    write(path("pictogram-64"), 64, 64, [](double u, double v, int, int) { return pictogram(u, v, 6, 1, false); });
    write(path("pictogram-256"), 256, 256, [](double u, double v, int, int) { return pictogram(u, v, 9, 2, false); });
    write(path("pictogram-1024"), 1024, 1024, [](double u, double v, int, int) { return pictogram(u, v, 13, 3, false); });
    write(path("photo-128"), 128, 128, [](double u, double v, int x, int y) { return photo(u, v, x, y, 4, 3); });
    write(path("photo-512"), 512, 512, [](double u, double v, int x, int y) { return photo(u, v, x, y, 5, 6); });
    write(path("photo-2048"), 2048, 2048, [](double u, double v, int x, int y) { return photo(u, v, x, y, 6, 10); });
    write(path("clear-pictogram-256"), 256, 256, [](double u, double v, int, int) { return pictogram(u, v, 7, 7, true); });
    write(path("clear-photo-512"), 512, 512, [](double u, double v, int x, int y) {
        Pixel p = photo(u, v, x, y, 8, 5);
        const double r = std::sqrt((u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5));
        p[3] = clamp255((0.45 - r) * 255 * 20);  // a disc with a soft rim
        return p;
    });
    write(path("clear-gradient-1024x512"), 1024, 512, [](double u, double v, int, int) {
        const bool border = u < 0.1 || u > 0.9 || v < 0.1 || v > 0.9;
        return Pixel{255 * u * v, 200 * (1 - u), 80 + 150 * v, border ? 0.0 : 255.0};
    });
    return 0;
}

int psnr(const char* original, const char* test, bool lattice555) {
    int w1, h1, w2, h2, n;
    std::uint8_t* a = stbi_load(original, &w1, &h1, &n, 4);
    std::uint8_t* b = stbi_load(test, &w2, &h2, &n, 4);
    // A TIM image of 4 or 8 bits may be padded on the right: its first w1 columns are compared.
    if (!a || !b || w2 < w1 || h2 != h1) {
        std::fprintf(stderr, "cannot compare %s with %s\n", original, test);
        return 1;
    }
    double sum = 0;
    std::size_t count = 0;
    for (int y = 0; y < h1; ++y)
        for (int x = 0; x < w1; ++x) {
            const std::uint8_t* p = a + (std::size_t(y) * std::size_t(w1) + std::size_t(x)) * 4;
            const std::uint8_t* q = b + (std::size_t(y) * std::size_t(w2) + std::size_t(x)) * 4;
            if (p[3] < 128) continue;
            for (int k = 0; k < 3; ++k) {
                int t = q[k];
                if (lattice555) {
                    const int five = (t * 31 + 127) / 255;
                    t = five << 3 | five >> 2;
                }
                sum += double(p[k] - t) * double(p[k] - t);
            }
            ++count;
        }
    const double mse = sum / double(3 * std::max<std::size_t>(count, 1));
    std::printf("%.2f\n", mse > 0 ? std::min(99.0, 10 * std::log10(255.0 * 255.0 / mse)) : 99.0);
    stbi_image_free(a);
    stbi_image_free(b);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "make") == 0) return make(argv[2]);
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "psnr") == 0)
        return psnr(argv[2], argv[3], argc == 5 && std::strcmp(argv[4], "--555") == 0);
    std::fprintf(stderr, "usage: texture_tool make DIR | psnr ORIG TEST [--555]\n");
    return 2;
}
