// Choosing the instruction set of the hot loops at run time: the kernels of
// vector_kernels.inc are built for SSE4.2, AVX2 and AVX-512, and the best one
// the processor (and its system) supports is used, or the one the variable
// ZORVEL_VECTOR names ("baseline", "sse4.2", "avx2", "avx512") where the
// processor has it. The baseline is the plain code that every x86-64 runs.
#include "vector.h"

#include "decimal.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <immintrin.h>

namespace {

// Bytes from a line's start that a line reader may load: a line of WIDTH
// bytes whose last field starts near its end loads sixteen bytes from there.
constexpr std::size_t READ_AHEAD = 80;

using Bytes16 = std::array<std::uint8_t, 16>;

// For `whole` digits, a point and `fraction` digits at the start of sixteen
// bytes: the shuffle that puts the digits, without the point, at the end of
// a register and zeros before them.
constexpr std::array<Bytes16, 256> make_gather_digits() {
    std::array<Bytes16, 256> table{};
    for (int whole = 0; whole < 16; ++whole) {
        for (int fraction = 0; fraction < 16; ++fraction) {
            Bytes16& shuffle = table[static_cast<std::size_t>(whole * 16 + fraction)];
            const int count = std::min(whole + fraction, 16);
            for (int j = 0; j < 16; ++j) {
                const int k = j - (16 - count);  // the digit's place from the left
                shuffle[static_cast<std::size_t>(j)] =
                    static_cast<std::uint8_t>(k < 0 ? 0x80 : k < whole ? k : std::min(k + 1, 15));
            }
        }
    }
    return table;
}
alignas(16) constexpr std::array<Bytes16, 256> gather_digits = make_gather_digits();

// For an integer part of 1 to 4 digits: where each byte of "%f"'s text
// comes from in a register of the integer part's four digits and the six
// decimals, and what is added to it (the digits' '0', the point).
struct alignas(16) FixedLayout {
    Bytes16 shuffle, add;
};
constexpr std::array<FixedLayout, 4> make_fixed_layouts() {
    std::array<FixedLayout, 4> table{};
    for (int length = 1; length <= 4; ++length) {
        FixedLayout& layout = table[static_cast<std::size_t>(length - 1)];
        for (std::size_t j = 0; j < 16; ++j) {
            const int at = static_cast<int>(j);
            const bool digit = at != length && at < length + 7;
            layout.shuffle[j] = static_cast<std::uint8_t>(at < length ? 4 - length + at : digit ? at + 3 - length : 0x80);
            layout.add[j] = static_cast<std::uint8_t>(digit ? '0' : at == length ? '.' : 0);
        }
    }
    return table;
}
constexpr std::array<FixedLayout, 4> fixed_layouts = make_fixed_layouts();

}  // namespace

// clang takes a target for the functions that follow by an attribute.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse4.2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse4.2,popcnt")
#endif
namespace sse42 {
#define VECTOR_LEVEL 1
#include "vector_kernels.inc"
#undef VECTOR_LEVEL
}  // namespace sse42
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2,popcnt")
#endif
namespace avx2 {
#define VECTOR_LEVEL 2
#include "vector_kernels.inc"
#undef VECTOR_LEVEL
}  // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx2,bmi,bmi2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx2,bmi,bmi2,popcnt")
#endif
namespace avx512 {
#define VECTOR_LEVEL 3
#include "vector_kernels.inc"
#undef VECTOR_LEVEL
}  // namespace avx512
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace {

struct Path {
    VectorKernels kernels;
    bool (*present)();
};

const Path paths[] = {
    {{"baseline", nullptr, nullptr, format_fixed_scalar, nullptr}, [] { return true; }},
    {{"sse4.2", sse42::vector_lines_read, sse42::polygon_lines_read, sse42::fixed, sse42::vector_lines},
     [] { return __builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("popcnt"); }},
    {{"avx2", avx2::vector_lines_read, avx2::polygon_lines_read, avx2::fixed, avx2::vector_lines},
     [] { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt"); }},
    {{"avx512", avx512::vector_lines_read, avx512::polygon_lines_read, avx512::fixed, avx512::vector_lines},
     [] {
         return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
     }},
};

std::atomic<const VectorKernels*> current{nullptr};

const VectorKernels* choose() {
    const char* forced = std::getenv("ZORVEL_VECTOR");
    const VectorKernels* best = &paths[0].kernels;
    for (const Path& path : paths) {
        if (!path.present()) continue;
        if (forced && path.kernels.name == forced) return &path.kernels;
        best = &path.kernels;
    }
    return best;
}

}  // namespace

const VectorKernels& vector_kernels() {
    const VectorKernels* kernels = current.load(std::memory_order_relaxed);
    if (!kernels) {
        kernels = choose();
        current.store(kernels, std::memory_order_relaxed);
    }
    return *kernels;
}

std::vector<std::string_view> vector_paths() {
    std::vector<std::string_view> names;
    for (const Path& path : paths)
        if (path.present()) names.push_back(path.kernels.name);
    return names;
}

bool use_vector_path(std::string_view name) {
    for (const Path& path : paths) {
        if (path.kernels.name == name && path.present()) {
            current.store(&path.kernels, std::memory_order_relaxed);
            return true;
        }
    }
    return false;
}

std::string_view vector_path() {
    return vector_kernels().name;
}
