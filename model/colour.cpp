// sRGB transfer functions after IEC 61966-2-1 (the sRGB standard): a linear
// segment near black, a 2.4 power law above it.
#include "colour.h"

#include <array>
#include <cmath>

double linear_of_display(double s) { return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4); }

double display_of_linear(double l) { return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055; }

int display_byte(double linear) {
    if (!(linear > 0)) return 0;  // NaN too
    if (linear >= 1) return 255;
    return static_cast<int>(std::lround(255 * display_of_linear(linear)));
}

std::uint16_t linear_u16(int display) {
    static const std::array<std::uint16_t, 256> TABLE = [] {
        std::array<std::uint16_t, 256> table{};
        for (int d = 0; d < 256; ++d)
            table[std::size_t(d)] = static_cast<std::uint16_t>(std::lround(65535 * linear_of_display(d / 255.0)));
        return table;
    }();
    return TABLE[std::size_t(display < 0 ? 0 : display > 255 ? 255 : display)];
}
