// TIM images: an identifier, flags, an optional block of colour tables and
// the image block, every number little-endian.
#include "tim.h"

#include "function.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint32_t IDENTIFIER = 0x10;
constexpr std::uint32_t MODE = 7, HAS_TABLE = 8;  // the flags' bits
constexpr int BITS[] = {4, 8, 16, 24};
// A block's length counts its 12 bytes of header and its 16-bit words.
constexpr std::uint64_t HEADER = 12;

// The file's bytes read in order; running out of them inside a block, or a
// field that is not as it must be, makes the file malformed.
class Bytes {
public:
    Bytes(std::string_view bytes, const std::string& name) : bytes_(bytes), name_(name) {}
    std::string_view take(std::uint64_t n) {
        if (n > bytes_.size() - pos_) malformed();
        std::string_view part = bytes_.substr(pos_, static_cast<std::size_t>(n));
        pos_ += static_cast<std::size_t>(n);
        return part;
    }
    std::uint32_t u32() { return little(take(4)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(little(take(2))); }
    [[noreturn]] void malformed() const { file_error("Format is incorrect!", name_); }

    // A block's header: its length, then x and y (a placement, not used
    // here), then its width in 16-bit words and its rows; and its words.
    std::string_view block(int& width, int& height) {
        const std::uint32_t length = u32();
        take(4);
        width = u16();
        height = u16();
        const std::uint64_t words = std::uint64_t(width) * std::uint64_t(height);
        if (length != HEADER + 2 * words) malformed();
        return take(2 * words);
    }

private:
    static std::uint32_t little(std::string_view b) {
        std::uint32_t value = 0;
        for (std::size_t i = b.size(); i-- > 0;) value = value << 8 | static_cast<unsigned char>(b[i]);
        return value;
    }
    std::string_view bytes_;
    const std::string& name_;
    std::size_t pos_ = 0;
};

std::uint16_t word_at(std::string_view words, std::size_t i) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(words[2 * i]) |
                                      static_cast<unsigned char>(words[2 * i + 1]) << 8);
}

// Each 5-bit value c becomes the byte (c << 3) | (c >> 2); 0x0000 alone is
// transparent, 0x8000 (the mark bit alone) opaque black.
void put_colour(std::uint16_t c, std::uint8_t* out) {
    auto byte = [](unsigned five) { return static_cast<std::uint8_t>(five << 3 | five >> 2); };
    out[0] = byte(c & 31u);
    out[1] = byte(c >> 5 & 31u);
    out[2] = byte(c >> 10 & 31u);
    out[3] = c == 0 ? 0 : 255;
}

void put_u32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift & 0xff));
}
void put_u16(std::string& out, unsigned value) {
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>(value >> 8 & 0xff));
}

}  // namespace

const std::uint8_t* TimImage::texel(float u, float v) const {
    static const std::uint8_t none[4] = {0, 0, 0, 0};
    if (width <= 0 || height <= 0) return none;
    // Not a number clamps to the first column or row.
    auto place = [](float c, int size) {
        const float f = std::floor(c);
        return f >= float(size - 1) ? size - 1 : f > 0 ? int(f) : 0;
    };
    return &rgba[4 * (std::size_t(place(v, height)) * std::size_t(width) + std::size_t(place(u, width)))];
}

TimImage decode_tim(std::string_view bytes, const std::string& name, int table) {
    Bytes in(bytes, name);
    if (in.u32() != IDENTIFIER) in.malformed();
    const std::uint32_t flags = in.u32();
    if ((flags & ~(MODE | HAS_TABLE)) != 0 || (flags & MODE) > 3) in.malformed();
    TimImage image;
    image.bits = BITS[flags & MODE];
    std::string_view tables;
    if (flags & HAS_TABLE) tables = in.block(image.tableColours, image.tables);
    int words = 0;
    std::string_view pixels = in.block(words, image.height);
    switch (image.bits) {
        case 4: image.width = 4 * words; break;
        case 8: image.width = 2 * words; break;
        case 16: image.width = words; break;
        default: image.width = 2 * words / 3; break;  // the one or two bytes left end the row unused
    }
    // An image without a pixel can neither be drawn nor be written as PNG.
    if (image.width == 0 || image.height == 0) in.malformed();
    if (table < 0 || (table > 0 && table >= image.tables)) file_error("Texture's index is incorrect!", name);

    // Indexed pixels: the chosen table, or a grey ramp where there is none;
    // an index beyond the table's colours is transparent.
    std::vector<std::uint8_t> palette;
    if (image.bits <= 8) {
        const int levels = 1 << image.bits;
        image.greyRamp = image.tables == 0;
        const int colours = image.greyRamp ? levels : std::min(image.tableColours, levels);
        palette.assign(std::size_t(levels) * 4, 0);
        for (int i = 0; i < colours; ++i) {
            std::uint8_t* out = &palette[std::size_t(i) * 4];
            if (image.greyRamp) {
                const auto grey = static_cast<std::uint8_t>(i * 255 / (levels - 1));
                out[0] = out[1] = out[2] = grey, out[3] = 255;
            } else {
                put_colour(word_at(tables, std::size_t(table) * std::size_t(image.tableColours) + std::size_t(i)), out);
            }
        }
    }

    const std::size_t width = std::size_t(image.width), rowBytes = 2 * std::size_t(words);
    image.rgba.resize(width * std::size_t(image.height) * 4);
    std::uint8_t* out = image.rgba.data();
    for (int y = 0; y < image.height; ++y) {
        const auto* row = reinterpret_cast<const unsigned char*>(pixels.data()) + std::size_t(y) * rowBytes;
        for (std::size_t x = 0; x < width; ++x, out += 4) {
            switch (image.bits) {
                case 4: std::copy_n(&palette[4 * std::size_t(row[x / 2] >> (x % 2 * 4) & 15)], 4, out); break;
                case 8: std::copy_n(&palette[4 * std::size_t(row[x])], 4, out); break;
                case 16: put_colour(static_cast<std::uint16_t>(row[2 * x] | row[2 * x + 1] << 8), out); break;
                default: out[0] = row[3 * x], out[1] = row[3 * x + 1], out[2] = row[3 * x + 2], out[3] = 255; break;
            }
            image.transparent |= out[3] == 0;
        }
    }
    return image;
}

TimImage read_tim(const std::string& name, int table) {
    InFile file;
    open_input(file, name);
    return decode_tim(std::string_view(file.data.get(), file.size), name, table);
}

std::uint16_t tim_colour(const std::uint8_t* rgba) {
    if (rgba[3] < 128) return 0;
    auto five = [](unsigned c) { return (c * 31 + 127) / 255; };
    const auto c = static_cast<std::uint16_t>(five(rgba[0]) | five(rgba[1]) << 5 | five(rgba[2]) << 10);
    return c == 0 ? 0x8000 : c;  // black that is not transparent
}

namespace {

// The 16-bit colours of the pixels, and the distinct ones among them (up to
// one more than an 8-bit table holds), sorted, with the transparent colour
// where rows of `bits` need padding on the right and it is not there yet.
struct TimColours {
    std::vector<std::uint16_t> pixels, table;
    bool transparent = false;  // some pixel is
};
TimColours colours_of(const std::vector<std::uint8_t>& rgba, std::size_t count) {
    TimColours c;
    c.pixels.resize(count);
    std::vector<bool> seen(65536, false);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t colour = c.pixels[i] = tim_colour(&rgba[4 * i]);
        c.transparent |= colour == 0;
        if (!seen[colour] && c.table.size() <= 256) seen[colour] = true, c.table.push_back(colour);
    }
    return c;
}
// Padding on the right is transparent, and needs its colour in the table.
std::size_t table_size(const TimColours& c, int width, int bits) {
    return c.table.size() + (width % (16 / bits) != 0 && !c.transparent);
}
int smallest_bits(const TimColours& c, int width) {
    return table_size(c, width, 4) <= 16 ? 4 : table_size(c, width, 8) <= 256 ? 8 : 16;
}

}  // namespace

int smallest_tim_bits(const std::vector<std::uint8_t>& rgba, int width, int height) {
    return smallest_bits(colours_of(rgba, std::size_t(width) * std::size_t(height)), width);
}

std::string encode_tim(const std::vector<std::uint8_t>& rgba, int width, int height, const std::string& name, int bits) {
    // Checked before anything is sized by them; the block's width is
    // checked once the pixels per word are known.
    auto too_large = [&] { file_error("The image does not fit in a TIM file!", name); };
    if (width <= 0 || height <= 0 || height > 65535 || width > 4 * 65535) too_large();
    TimColours c = colours_of(rgba, std::size_t(width) * std::size_t(height));
    if (bits == 0) bits = smallest_bits(c, width);
    if (bits == 24 && c.transparent) file_error("transparent pixels, which a 24-bit TIM image cannot hold", name);
    if (bits <= 8 && table_size(c, width, bits) > (1u << bits))
        file_error("more colours than a " + std::to_string(bits) + "-bit TIM image holds", name);
    std::vector<std::uint16_t>& table = c.table;
    if (bits <= 8 && table_size(c, width, bits) > table.size()) table.push_back(0);
    std::sort(table.begin(), table.end());

    // 24 bits: three bytes a pixel, a row padded to whole words.
    const long long words = bits == 24 ? (3LL * width + 1) / 2 : (width + 16 / bits - 1) / (16 / bits);
    // The block's width and rows are 16-bit numbers, its length a 32-bit one.
    if (words > 65535 || HEADER + 2 * std::uint64_t(words) * std::uint64_t(height) > 0xffffffffu) too_large();
    std::string out;
    put_u32(out, IDENTIFIER);
    const int mode = int(std::find(std::begin(BITS), std::end(BITS), bits) - std::begin(BITS));
    put_u32(out, std::uint32_t(mode) | (bits <= 8 ? HAS_TABLE : 0));
    std::vector<std::uint8_t> index(bits <= 8 ? 65536 : 0, 0);
    if (bits <= 8) {
        put_u32(out, static_cast<std::uint32_t>(HEADER + 2 * table.size()));
        put_u32(out, 0);
        put_u16(out, static_cast<unsigned>(table.size()));
        put_u16(out, 1);
        for (std::size_t i = 0; i < table.size(); ++i) put_u16(out, table[i]), index[table[i]] = static_cast<std::uint8_t>(i);
    }
    put_u32(out, static_cast<std::uint32_t>(HEADER + 2 * std::uint64_t(words) * std::uint64_t(height)));
    put_u32(out, 0);
    put_u16(out, static_cast<unsigned>(words));
    put_u16(out, static_cast<unsigned>(height));
    for (int y = 0; y < height; ++y) {
        const std::size_t first = std::size_t(y) * std::size_t(width);
        if (bits == 24) {
            for (std::size_t x = first; x < first + std::size_t(width); ++x) out.append(reinterpret_cast<const char*>(&rgba[4 * x]), 3);
            if (width % 2) out.push_back('\0');
            continue;
        }
        const std::uint16_t* row = &c.pixels[first];
        const int perWord = 16 / bits;
        for (long long w = 0; w < words; ++w) {
            unsigned word = 0;
            for (int k = 0; k < perWord; ++k) {
                const long long x = w * perWord + k;
                const std::uint16_t colour = x < width ? row[x] : 0;
                word |= (bits == 16 ? colour : index[colour]) << (k * bits);
            }
            put_u16(out, word);
        }
    }
    return out;
}
