// Number conversion against the C library: the scanners must read what
// sscanf and strtod read, and the formatters must write what printf writes.
#include "function.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace {

template <class T>
auto bits(T v) {
    std::conditional_t<sizeof(T) == 8, unsigned long long, unsigned> b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

std::size_t pick(std::mt19937_64& g, std::size_t n) { return g() % n; }

// ---- Integers ----------------------------------------------------------------

const char* const handIntegers[] = {
    "0", "-0", "+0", "7", "2147483647", "2147483648", "-2147483648", "-2147483649",
    "4294967295", "4294967296", "9223372036854775807", "9223372036854775808",
    "-9223372036854775809", "99999999999999999999999999", "-99999999999999999999999999",
    "000000000000000000000000012", " \t\n\v\f\r42", "\v-7", "+", "-", "", " ", "+-1", "-+1",
    "- 1", "0x1A", "0X1a", "0xg", "0x", "0X", "-0x", "x1", "1e5", "12abc", "ffffffff",
    "100000000", "0xffffffff", "0x100000000", "0xfffffffff", "-0xffffffff", "-0x100000000",
    "-0x80000000", "+0x7fffffff", "0x00000000000000000000ffffffff", "-1", "abc", "g", ".5",
    "0x0x1", "00x1", "-00x5", "1 2", "\r\n+12x",
};

// Sign, optional "0x", digits (sometimes hexadecimal), and a random tail.
std::string random_integer_text(std::mt19937_64& g) {
    static const std::string spaces = " \t\n\v\f\r", tail = "+-xXgG.e 0";
    static const std::string digits = "0123456789abcdefABCDEF";
    std::string s;
    for (std::size_t k = pick(g, 4) == 0 ? pick(g, 3) + 1 : 0; k > 0; --k) s += spaces[pick(g, 6)];
    if (std::size_t sign = pick(g, 4); sign < 2) s += "-+"[sign];
    if (pick(g, 3) == 0) s += pick(g, 2) ? "0x" : "0X";
    std::size_t alphabet = pick(g, 2) ? 10 : 22;
    std::size_t n = pick(g, 2) ? pick(g, 11) : pick(g, 25);
    if (pick(g, 8) == 0) s.append(pick(g, 12), '0');
    for (; n > 0; --n) s += digits[pick(g, alphabet)];
    if (pick(g, 4) == 0) s += tail[pick(g, tail.size())];
    return s;
}

void check_int(const std::string& s) {
    SCOPED_TRACE(testing::PrintToString(s));
    int cValue = 0, used = 0, value = 0;
    bool cOk = std::sscanf(s.c_str(), "%d%n", &cValue, &used) == 1;
    const char* stop = scan_int(s.data(), s.data() + s.size(), value);
    ASSERT_EQ(stop != nullptr, cOk);
    if (!cOk) return;
    EXPECT_EQ(stop - s.data(), used);
    long long wide = std::strtoll(s.c_str(), nullptr, 10);  // clamps at 64 bits
    if (wide >= INT_MIN && wide <= INT_MAX) {
        EXPECT_EQ(value, cValue);
    }
    EXPECT_EQ(value, std::clamp<long long>(wide, INT_MIN, INT_MAX));
}

void check_hex(const std::string& s) {
    SCOPED_TRACE(testing::PrintToString(s));
    unsigned cValue = 0;
    int used = 0, value = 0;
    bool cOk = std::sscanf(s.c_str(), "%x%n", &cValue, &used) == 1;
    const char* stop = scan_hex(s.data(), s.data() + s.size(), value);
    ASSERT_EQ(stop != nullptr, cOk);
    if (!cOk) return;
    EXPECT_EQ(stop - s.data(), used);
    const char* p = s.c_str();
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    errno = 0;
    unsigned long long magnitude = std::strtoull(p, nullptr, 16);
    bool fits = errno != ERANGE && magnitude <= UINT_MAX;
    auto low = static_cast<unsigned>(magnitude);
    if (fits) {
        EXPECT_EQ(static_cast<unsigned>(value), cValue);
    }
    EXPECT_EQ(static_cast<unsigned>(value), !fits ? UINT_MAX : negative ? 0u - low : low);
}

// "%d" clamps to INT_MIN / INT_MAX; "%x" to 0xffffffff for magnitudes beyond 32 bits.
TEST(Convert, IntegersReadAsScanfReadsThemAndClamp) {
    std::mt19937_64 g(1);
    for (auto check : {check_int, check_hex}) {
        for (const char* s : handIntegers) check(s);
        for (int i = 0; i < 300000 && !HasFailure(); ++i) check(random_integer_text(g));
    }
}

TEST(Convert, IntegersAndHexadecimalWrittenAsPrintfWritesThem) {
    std::mt19937_64 g(3);
    std::vector<long long> ints = {0, -1, 1, INT_MAX, INT_MIN, LLONG_MAX, LLONG_MIN, 1000000};
    std::vector<unsigned> hexes = {0, 1, 9, 10, 15, 16, 0xabcdef, UINT_MAX, 0x80000000u};
    for (int i = 0; i < 200000; ++i) {
        ints.push_back(static_cast<long long>(g()) >> pick(g, 64));
        hexes.push_back(static_cast<unsigned>(g() >> pick(g, 64)));
    }
    char want[FORMAT_MAX + 8], got[FORMAT_MAX];
    for (long long v : ints) {
        std::snprintf(want, sizeof want, "%lld", v);
        ASSERT_EQ(std::string(got, format_int(got, v)), want);
    }
    for (unsigned v : hexes) {
        std::snprintf(want, sizeof want, "%x", v);
        ASSERT_EQ(std::string(got, format_hex(got, v)), want);
    }
}

// ---- Floating point -----------------------------------------------------------

const char* const handReals[] = {
    "0", "-0", "+0", "+1.5", "100.3", "0.1", "-0.5", "1e-400", "-1e-400", "1e400", "-1e400",
    "4.9e-324", "2.4703282292062328e-324", "2.4703282292062327e-324", "2.2250738585072011e-308",
    "2.2250738585072014e-308", "1.7976931348623157e308", "1.7976931348623158e308",
    "1.797693134862315807e308", "1.7976931348623159e308", "0x1p-1074", "0x1p-1075",
    "0x1.fffffffffffffp1023", "0x1p1024", "0X1P3", "-0x1.8p1", "0x.8", "0x1.8", "0x", "0xg",
    "inf", "-inf", "+inf", "INF", "infinity", "-Infinity", "infinit", "nan", "-nan", "+NAN",
    "nan(0x123)", "nan(", "nanx", ".", "-.", "+.", ".5", "-.5e-3", "5.", "1e", "1e+", "1e-",
    "1.5e+5x", " \t\v\f\r\n 3.25", "e5", "", "-", "+", "abc", "1,5", "1.5 2", "-0.0e-0",
    "0.1000000000000000055511151231257827021181583404541015625",
    "0.1000000000000000055511151231257827021181583404541015624", "9007199254740993",
    "123456789012345678901234567890", "00000000000000000000000000001e-5",
    "1e-99999999999999999999", "1e99999999999999999999", "0e99999999999999999999",
    "3.4028235e38", "3.4028235677973362e38", "3.4028235677973366e38", "1e39", "-1e39",
    "1.17549435e-38", "1.4e-45", "7e-46", "-7.1e-46", "00x1p3", "-00.00e5", "1e+0308",
    "9007199254740992", "9007199254740993", "9007199254740995", "900719925474099.3",
    "0.9007199254740993", "1234567890123456789", "12345678901234567890", "0.0000000000000000000001",
    "0.00000000000000000000001", "0.0000000000000000000011", "18446744073709551617.5",
    "1.5E3", "2E-3", "-7E+1", ".5E1", "5.e3", ".e1", "-.e1", "1.5p3", "0.5e-3.2",
};

// A sign, 1 to `most` digits with or without a point, and mostly an exponent
// (none when the exponent range is empty).
std::string random_decimal_text(std::mt19937_64& g, int lowExp, int highExp, std::size_t most = 9) {
    std::string s;
    if (std::size_t sign = pick(g, 6); sign < 2) s += "-+"[sign];
    std::size_t n = 1 + pick(g, most), point = pick(g, n + 2);
    for (std::size_t k = 0; k < n; ++k) {
        if (k == point) s += '.';
        s += static_cast<char>('0' + pick(g, 10));
    }
    if (lowExp <= highExp && pick(g, 5) != 0) s += (pick(g, 2) ? "e" : "E") + std::to_string(lowExp + static_cast<int>(pick(g, highExp - lowExp + 1)));
    return s;
}

std::string random_hex_float_text(std::mt19937_64& g) {
    char text[64];
    std::snprintf(text, sizeof text, "%s0x%llx.%xp%d", pick(g, 2) ? "-" : "",
                  static_cast<unsigned long long>(g() >> pick(g, 64)), static_cast<unsigned>(g()),
                  static_cast<int>(pick(g, 2200)) - 1100);
    return text;
}

std::vector<std::string> real_texts() {
    std::vector<std::string> texts(std::begin(handReals), std::end(handReals));
    std::mt19937_64 g(4);
    for (int i = 0; i < 400000; ++i) texts.push_back(random_decimal_text(g, -340, 320));
    for (int i = 0; i < 400000; ++i) texts.push_back(random_decimal_text(g, -50, 45));
    for (int i = 0; i < 200000; ++i) texts.push_back(random_decimal_text(g, 1, 0, 25));
    for (int i = 0; i < 20000; ++i) texts.push_back(random_hex_float_text(g));
    return texts;
}

// The hardware conversion from double to float, defined for every double.
bool hardware_float(double d, float& f) {
#if defined(__SSE2__)
    f = _mm_cvtss_f32(_mm_cvtsd_ss(_mm_setzero_ps(), _mm_set_sd(d)));
    return true;
#else
    (void)d, (void)f;
    return false;
#endif
}

TEST(Convert, RealsReadBitForBitAsStrtodReadsThem) {
    for (const std::string& s : real_texts()) {
        double got = scan_double(s.data(), s.data() + s.size());
        double want = std::strtod(s.c_str(), nullptr);
        ASSERT_EQ(bits(got), bits(want)) << testing::PrintToString(s);
    }
}

TEST(Convert, FloatsAreTheDoubleRoundedOnce) {
    for (const std::string& s : real_texts()) {
        SCOPED_TRACE(testing::PrintToString(s));
        float got = scan_float(s.data(), s.data() + s.size());
        double d = std::strtod(s.c_str(), nullptr);
        float hw;
        if (!(std::fabs(d) > FLT_MAX) || std::isinf(d)) {
            ASSERT_EQ(bits(got), bits(static_cast<float>(d)));
        } else if (hardware_float(d, hw)) {
            ASSERT_EQ(bits(got), bits(hw));
        }
    }
    const struct {
        const char* text;
        float value;
    } beyond[] = {
        {"1e39", HUGE_VALF}, {"-1e39", -HUGE_VALF}, {"3.4028235e38", FLT_MAX},
        {"3.4028235677973362e38", FLT_MAX}, {"-3.4028235677973362e38", -FLT_MAX},
        {"3.4028235677973366e38", HUGE_VALF},  // the double lies halfway: ties to even
        {"1e400", HUGE_VALF}, {"-1e-50", -0.0f}, {"1.4e-45", FLT_TRUE_MIN},
    };
    for (const auto& c : beyond) {
        const char* end = c.text + std::strlen(c.text);
        EXPECT_EQ(bits(scan_float(c.text, end)), bits(c.value)) << c.text;
    }
}

// ---- "%f" ------------------------------------------------------------------------

std::string fixed(float v) {
    char out[FORMAT_MAX];
    return std::string(out, format_fixed(out, v));
}

std::string printf_fixed(float v) {
    char out[512];
    int n = std::snprintf(out, sizeof out, "%f", static_cast<double>(v));
    return std::string(out, static_cast<std::size_t>(n));
}

TEST(Convert, FixedEdgeCasesMatchPrintf) {
    std::vector<float> values = {0.0f, -0.0f, FLT_TRUE_MIN, -FLT_TRUE_MIN, FLT_MIN, -FLT_MIN,
                                 FLT_MAX, -FLT_MAX, HUGE_VALF, -HUGE_VALF, NAN, -NAN, 0.1f,
                                 100.3f, -0.5f, 0.0000005f, 0.0000015f, 1.0000005f, 0.9999995f,
                                 9.9999995f, -0.0000004f, -0.0000006f, 999999.94f, 4294967296.0f,
                                 4503599627.370496f, 9007199254740992.0f, 8388607.5f};
    for (int m = 1; m < 4096; m += 2) {  // value * 10^6 ends in exactly .5
        values.push_back(static_cast<float>(m) / 128);
        values.push_back(-static_cast<float>(m + (1 << 23)) / 128);
    }
    for (int e = -45; e <= 38; ++e) values.push_back(std::pow(10.0f, static_cast<float>(e)));
    for (double boundary : {0.0000005, 0.0000025, 0.1234565, 1.5e-6, 2.5e-6, 4503599627.370496,
                            999999.9999995, 0.5, 1e10}) {
        float f = static_cast<float>(boundary);
        for (float v : {std::nextafter(f, 0.0f), f, std::nextafter(f, HUGE_VALF)}) {
            values.push_back(v);
            values.push_back(-v);
        }
    }
    for (float v : values) EXPECT_EQ(fixed(v), printf_fixed(v)) << std::hexfloat << v;
}

// Random bit patterns, and random values in several ranges, split over two threads.
TEST(Convert, FixedMatchesPrintfOnTenMillionFloats) {
    constexpr int PER_THREAD = 5000000;
    auto sweep = [](std::uint64_t seed, std::vector<float>& bad) {
        std::mt19937_64 g(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int i = 0; i < PER_THREAD; ++i) {
            float v;
            switch (i % 6) {
                case 0: {
                    auto b = static_cast<unsigned>(g());
                    std::memcpy(&v, &b, sizeof v);
                    break;
                }
                case 1: v = static_cast<float>(unit(g)); break;
                case 2: v = static_cast<float>(unit(g) * 1e4); break;
                case 3: v = static_cast<float>(1e4 + unit(g) * 1e10); break;
                case 4: v = static_cast<float>(std::pow(10.0, -9 + 21 * unit(g))); break;
                default:  // near the rounding boundary of the sixth decimal
                    v = static_cast<float>((static_cast<double>(pick(g, 100000000)) * 10 + 5) / 1e7);
                    break;
            }
            if (g() & 1) v = -v;
            if (bad.size() < 10 && fixed(v) != printf_fixed(v)) bad.push_back(v);
        }
    };
    std::vector<float> bad1, bad2;
    std::thread other(sweep, 5, std::ref(bad2));
    sweep(6, bad1);
    other.join();
    bad1.insert(bad1.end(), bad2.begin(), bad2.end());
    for (float v : bad1) ADD_FAILURE() << std::hexfloat << v << ": " << fixed(v) << " vs " << printf_fixed(v);
}

}  // namespace
