// A PNG image (8-bit RGB, or RGBA) built in memory row by row, so that a
// large picture never has to be held whole.
#pragma once

#include <memory>
#include <string>

class PngWriter {
public:
    PngWriter(int width, int height, bool alpha = false);
    ~PngWriter();
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    // Appends `rows` rows of width * 3 bytes each (4 with alpha), top to bottom.
    void write_rows(const unsigned char* rgb, int rows);
    // The file's bytes, once every row has been written.
    std::string finish();

    struct State;  // libpng's, kept out of this header

private:
    std::unique_ptr<State> state_;
};
