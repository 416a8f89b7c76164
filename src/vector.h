// The hot loops of reading and writing PLY files, built once for each of
// several instruction sets (vector.cpp); the best one the processor has is
// used. Each line reader takes a line only in its usual form and leaves any
// other to the plain reader, which gives the same values.
#pragma once

#include "function.h"

struct VectorKernels {
    std::string_view name;
    // Vertex or normal lines, or polygon lines, one after another from `pos`
    // in the `size` bytes at `data`: up to `count` of them, until one that
    // is not in the form these readers take, stored at `out`; returns how
    // many, with `pos` moved past them. Null: none, the plain reader takes
    // every line.
    std::size_t (*vector_lines_read)(const char* data, std::size_t size, std::size_t& pos, VectorData* out,
                                     std::size_t count);
    std::size_t (*polygon_lines_read)(const char* data, std::size_t size, std::size_t& pos, PolygonData* out,
                                      std::size_t count);
    char* (*fixed)(char* out, float value);  // format_fixed
    // "%f %f %f\n" for each vector; null: the plain loop over `fixed`.
    char* (*vector_lines)(std::span<const VectorData> vectors, char* out);
};

const VectorKernels& vector_kernels();  // those in use

char* format_fixed_scalar(char* out, float value);  // the baseline's format_fixed
