// The formats' colours are display values (sRGB-encoded bytes, as a screen
// shows them); glTF's colour factors and vertex colours are linear. These
// are the two ways between them, and the rule by which a texture's
// modulating colour (128 neutral) becomes a glTF multiplier (1 at most).
#pragma once

#include <cstdint>

// The display value s (0..1) as a linear value, and back: the sRGB
// transfer functions of IEC 61966-2-1.
double linear_of_display(double s);
double display_of_linear(double l);
// A linear value (any number) as the nearest display byte, clamped to 0..255.
int display_byte(double linear);
// A display byte's linear value as a normalised 16-bit number: 16 bits tell
// apart every display byte, the darkest ones included, which 8 cannot.
std::uint16_t linear_u16(int display);

// A D or H colour c modulates texels as texel x c / 128; glTF multiplies
// by at most 1, so it is written as the display value min(255, 2c), and
// read back to c (255, as 128 and above saturate, gives 128: neutral).
inline int modulation_display(int c) { return c >= 128 ? 255 : c <= 0 ? 0 : 2 * c; }
inline int modulation_of_display(int d) { return (d + 1) / 2; }
