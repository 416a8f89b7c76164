// TIM texture images: reading one into RGBA pixels, and writing RGBA pixels
// as one. All numbers in the file are little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TimImage {
    int bits = 0;           // the pixel mode: 4 or 8 (indexed), 16 or 24 (direct)
    int width = 0, height = 0;  // in pixels
    int tables = 0;         // colour tables in the file
    int tableColours = 0;   // colours in each table
    bool greyRamp = false;  // indexed without a colour table: drawn in greys
    bool transparent = false;  // some pixel has alpha 0
    std::vector<std::uint8_t> rgba;  // width * height pixels, row after row from the top

    // The texel at pixel position (u, v): the coordinates floored, then
    // clamped to the image.
    const std::uint8_t* texel(float u, float v) const;
};

// The image in a TIM file's bytes, indexed pixels coloured by table `table`.
// A malformed file ends the run with "Format is incorrect!", a table beyond
// the file's with "Texture's index is incorrect!", both naming `name`.
TimImage decode_tim(std::string_view bytes, const std::string& name, int table = 0);
// Reads and decodes the TIM file `name`; "Can't open!" when it cannot be read.
TimImage read_tim(const std::string& name, int table = 0);

// A 16-bit colour of these files: 5 bits each of red, green and blue, and
// a mark bit; 0x0000 is transparent.
std::uint16_t tim_colour(const std::uint8_t* rgba);
// The smallest pixel mode that holds the RGBA pixels' colours exactly once
// converted to 16 bits: 4 for at most 16 colours, 8 for at most 256, else
// 16; the transparent colour of the rows' padding counts among them.
int smallest_tim_bits(const std::vector<std::uint8_t>& rgba, int width, int height);
// The bytes of a TIM file of the RGBA pixels in pixel mode `bits` (4, 8,
// 16 or 24; 0: the smallest that holds them). Indexed images have one table
// of the pixels' distinct 16-bit colours; rows are padded on the right to
// whole 16-bit words, with transparent pixels where indexed. An image too
// large for the format, of more colours than an indexed mode holds, or with
// transparent pixels at 24 bits, ends the run with a report naming `name`.
std::string encode_tim(const std::vector<std::uint8_t>& rgba, int width, int height, const std::string& name,
                       int bits = 0);
