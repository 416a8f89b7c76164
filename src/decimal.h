// A plain decimal, "[-]digits[.digits]", as an integer and a power of ten,
// and its float: shared by the number scanners and the vector line readers,
// so that every way of finding the digits gives the same value.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

// The digits read as one integer stay below 2^53, with at most 22 decimals:
// the integer and the power of ten are exact doubles, so the quotient of the
// two, correctly rounded, is what strtod gives.
struct PlainDecimal {
    std::uint64_t digits;
    int decimals;
    bool negative;
};

constexpr double exact_powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The nearest doubles to 10^-n.
constexpr double inverse_powers[] = {1e-0,  1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                     1e-8,  1e-9,  1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15,
                                     1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21, 1e-22};

inline double with_sign(double value, bool negative) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) ^ (std::uint64_t{negative} << 63));
}

inline double plain_double(const PlainDecimal& number) {
    return with_sign(static_cast<double>(number.digits) / exact_powers[number.decimals], number.negative);
}

// The float nearest to the correctly rounded double, without its division
// where that cannot matter: the product with the rounded inverse is within
// three units in the last place of the quotient, so unless it lies that
// close to a point halfway between two floats (the low 29 of its 52
// fraction bits near 2^28), both round to the same float. The values are
// 0 or between 10^-22 and 2^53: never beyond the float range, never subnormal.
[[gnu::always_inline]] inline float plain_float(const PlainDecimal& number) {
    // Signed, the conversion needs no care for values of 2^63 and more.
    const auto digits = static_cast<double>(static_cast<std::int64_t>(number.digits));
    double value = digits * inverse_powers[number.decimals];
    auto low = static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(value)) & 0x1FFFFFFFu;
    if (low - 0x0FFFFFF0u < 0x20u) value = digits / exact_powers[number.decimals];
    return static_cast<float>(with_sign(value, number.negative));
}

// "%f" of a float as a double, in millionths: the value times 10^6 is exact
// in a double (24 + 14 significant bits), so rounding it to an integer, half
// to even, gives the six decimals exactly. False from 2^52 millionths on
// (and for infinities and NaN), which snprintf is left to write.
inline bool fixed_units(float value, std::uint64_t& units) {
    double magnitude = std::fabs(static_cast<double>(value) * 1e6);
    if (!(magnitude < 0x1p52)) return false;
    // Adding 2^52 drops the fraction, rounding half to even.
    units = static_cast<std::uint64_t>(static_cast<std::int64_t>((magnitude + 0x1p52) - 0x1p52));
    return true;
}
