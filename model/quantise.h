// Choosing the colour table of an indexed TIM image: at most N colours of
// the 5-5-5 lattice the table holds, for the opaque pixels of a picture.
#pragma once

#include <cstdint>
#include <vector>

// A colour of the lattice: red | green << 5 | blue << 10, each 0 to 31.
using Colour555 = std::uint16_t;

// The lattice value nearest an 8-bit channel value, and back: the byte a
// 5-bit value is drawn as.
inline int to_five(int c) { return (c * 31 + 127) / 255; }
inline int to_eight(int five) { return five << 3 | five >> 2; }

// A colour table, and for each colour of the lattice (a pixel's colour
// rounded to it) the entry its pixels take, -1 for a colour no pixel has.
struct ColourTable {
    std::vector<Colour555> colours;
    std::vector<int> entryOf = std::vector<int>(32768, -1);
};

// At most `colours` (1 or more) colours for the pixels of `rgba` whose alpha
// is 128 or more: exactly theirs when they have no more, else those that
// keep the squared error of their 8-bit values small; each pixel takes its
// own colour where the table has it, else the entry nearest the mean of the
// pixels of its colour. No colour for no such pixel.
ColourTable quantise(const std::vector<std::uint8_t>& rgba, int colours);

// The entry of a table nearest a colour of 8-bit values (squared distance,
// the first of equals).
class NearestColour {
public:
    explicit NearestColour(const std::vector<Colour555>& table);
    int operator()(double r, double g, double b) const;

private:
    struct Entry {
        double r, g, b;
        int index;
    };
    std::vector<Entry> byGreen_;  // the entries in the order of their green
};
