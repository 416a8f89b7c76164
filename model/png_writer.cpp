// The PNG file of a picture, through libpng into a string. Nothing in it
// depends on the time or the machine (no time chunk, a fixed compression
// level), so that the same picture always gives the same bytes.
#include "png_writer.h"

#include <csetjmp>
#include <new>
#include <png.h>

struct PngWriter::State {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::string bytes;
    ~State() { png_destroy_write_struct(&png, &info); }
};

namespace {

void append(png_structp png, png_bytep data, png_size_t length) {
    auto* state = static_cast<PngWriter::State*>(png_get_io_ptr(png));
    bool appended = true;
    try {
        state->bytes.append(reinterpret_cast<const char*>(data), length);
    } catch (const std::bad_alloc&) {
        appended = false;
    }
    if (!appended) png_error(png, "out of memory");
}

void flush(png_structp) {}

// libpng reports every failure by a long jump to the last setjmp; the only
// failure it can meet writing into memory is a lack of memory.
void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

}  // namespace

PngWriter::PngWriter(int width, int height, bool alpha) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    if (s.png) s.info = png_create_info_struct(s.png);
    if (!s.info) throw std::bad_alloc();
    if (setjmp(png_jmpbuf(s.png))) throw std::bad_alloc();
    png_set_write_fn(s.png, &s, append, flush);
    png_set_compression_level(s.png, 6);
    // Rows of flat colour compress about as well against the row above as
    // with every filter tried on every row, at a fraction of the time.
    png_set_filter(s.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_IHDR(s.png, s.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(s.png, s.info);
}

PngWriter::~PngWriter() = default;

void PngWriter::write_rows(const unsigned char* rgb, int rows) {
    State& s = *state_;
    const png_size_t stride = png_get_rowbytes(s.png, s.info);
    if (setjmp(png_jmpbuf(s.png))) throw std::bad_alloc();
    for (int y = 0; y < rows; ++y) png_write_row(s.png, rgb + static_cast<png_size_t>(y) * stride);
}

std::string PngWriter::finish() {
    State& s = *state_;
    if (setjmp(png_jmpbuf(s.png))) throw std::bad_alloc();
    png_write_end(s.png, nullptr);
    return std::move(s.bytes);
}
