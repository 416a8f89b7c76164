// Number conversion against the C library: the scanners must read what
// sscanf and strtod read, and the formatters must write what printf writes.
#include "function.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

template <class T>
auto bits(T v) { return std::bit_cast<std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>>(v); }

std::size_t pick(std::mt19937_64& g, std::size_t n) { return g() % n; }

const char* const handIntegers[] = {
    "0", "-0", "+0", "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967296",
    "9223372036854775808", "-99999999999999999999999999", "000000000000000000000000012", " \t\n\v\f\r42", "+",
    "-", "", " ", "+-1", "- 1", "0x1A", "0X1a", "0xg", "0x", "-0x", "x1", "12abc", "ffffffff", "0xffffffff",
    "0x100000000", "-0xffffffff", "-0x100000000", "-0x80000000", "0x00000000000000000000ffffffff", "0x0x1",
    "00x1", "-00x5", "\r\n+12x",
};

// Blanks, sign, optional "0x", digits (sometimes hexadecimal), and a random tail.
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

// Where sscanf's "%d" or "%x" stops (-1: no number) and the value: beyond 32
// bits "%d" clamps to INT_MIN or INT_MAX, "%x" to 0xffffffff whatever the sign.
void check_integer(const std::string& s, bool hex) {
    int used = -1, value = 0;
    std::sscanf(s.c_str(), hex ? "%*x%n" : "%*d%n", &used);
    const char* stop = (hex ? scan_hex : scan_int)(s.data(), s.data() + s.size(), value);
    ASSERT_EQ(stop ? stop - s.data() : -1, used) << testing::PrintToString(s);
    if (!stop) return;
    long long want = std::clamp<long long>(std::strtoll(s.c_str(), nullptr, 10), INT_MIN, INT_MAX);
    if (hex) {
        errno = 0;
        unsigned long long v = std::strtoull(s.c_str(), nullptr, 16);
        unsigned long long magnitude = s[std::strspn(s.c_str(), " \t\n\v\f\r")] == '-' ? 0 - v : v;
        want = static_cast<int>(errno == ERANGE || magnitude > UINT_MAX ? UINT_MAX : static_cast<unsigned>(v));
    }
    EXPECT_EQ(value, want) << s;
}

TEST(Convert, IntegersReadAsScanfReadsThemAndClamp) {
    std::mt19937_64 g(1);
    for (bool hex : {false, true}) {
        for (const char* s : handIntegers) check_integer(s, hex);
        for (int i = 0; i < 300000 && !HasFailure(); ++i) check_integer(random_integer_text(g), hex);
    }
}

const char* const handReals[] = {
    "0", "-0", "+1.5", "100.3", "1e-400", "-1e400", "4.9e-324", "2.4703282292062328e-324",
    "2.4703282292062327e-324", "2.2250738585072011e-308", "1.7976931348623158e308", "1.797693134862315807e308",
    "1.7976931348623159e308", "0x1p-1075", "0x1.fffffffffffffp1023", "-0x1f.8p-3", "0x1p1024", "0X1P3",
    "-0x1.8p1", "0x.8", "0x", "0xg", "inf", "-Infinity", "infinit", "-nan", "nan(0x123)", "nan(", "nanx", ".",
    "-.", ".5", "-.5e-3", "5.", "1e", "1e+", "1.5e+5x", " \t\v\f\r\n 3.25", "e5", "", "-", "+", "1,5",
    "-0.0e-0", "0.1000000000000000055511151231257827021181583404541015625",
    "0.1000000000000000055511151231257827021181583404541015624", "9007199254740993",
    "123456789012345678901234567890", "00000000000000000000000000001e-5", "1e-99999999999999999999",
    "1e99999999999999999999", "0e99999999999999999999", "3.4028235677973366e38", "1.4e-45", "7e-46", "00x1p3",
    "9007199254740995", "900719925474099.3", "0.9007199254740993", "12345678901234567890",
    "0.0000000000000000000001", "0.00000000000000000000001", "18446744073709551617.5", ".e1", "1.5p3",
    "0.5e-3.2",
    // Plain decimals with at least 17 bytes to the end of the text: read eight bytes at a time.
    "1234567.1234567 9", "9999999.9999999 9", "-0.0000001        ", "7654321 0 0 0 0 0 0 0",
    ".9999999 999999999", "9. 99999999999999", "0.5x0000000000000000", "12.5e3           ", "1234567.1234567e1",
    "99.99:99999999999", "99.99/99999999999", "1234567.12345678 0",
};

// A sign, 1 to `most` digits with or without a point, mostly an exponent
// (none when the exponent range is empty), and half the time what may follow
// a number on a line: the text then often reaches 17 bytes past its start.
std::string random_decimal_text(std::mt19937_64& g, int lowExp, int highExp, std::size_t most = 9) {
    static const std::string tail = "     \t0123456789./:-+eExX\xb0\xb9";
    std::string s;
    if (std::size_t sign = pick(g, 6); sign < 2) s += "-+"[sign];
    std::size_t n = 1 + pick(g, most), point = pick(g, n + 2);
    for (std::size_t k = 0; k < n; ++k) {
        if (k == point) s += '.';
        s += static_cast<char>('0' + pick(g, 10));
    }
    if (lowExp <= highExp && pick(g, 5) != 0)
        s += (pick(g, 2) ? "e" : "E") + std::to_string(lowExp + static_cast<int>(pick(g, highExp - lowExp + 1)));
    for (std::size_t k = pick(g, 2) ? pick(g, 25) : 0; k > 0; --k) s += tail[pick(g, tail.size())];
    return s;
}

// scan_double as strtod, and scan_float as that double rounded once to float
// (beyond FLT_MAX, where a C++ conversion is undefined, the end-to-end cases
// check it).
void check_real(const char* text, const char* end) {
    double want = std::strtod(text, nullptr);
    ASSERT_EQ(bits(scan_double(text, end)), bits(want)) << testing::PrintToString(std::string(text, end));
    if (!(std::fabs(want) > FLT_MAX) || std::isinf(want)) {
        ASSERT_EQ(bits(scan_float(text, end)), bits(static_cast<float>(want))) << std::string(text, end);
    }
}

// Runs check(g) `count` times on each of two threads, until a failure.
template <class Check>
void on_two_threads(int count, Check check) {
    auto work = [&](std::uint64_t seed) {
        std::mt19937_64 g(seed);
        for (int i = 0; i < count && !testing::Test::HasFailure(); ++i) check(g);
    };
    std::thread other(work, 7);
    work(8);
    other.join();
}

TEST(Convert, RealsReadBitForBitAsStrtodReadsThem) {
    for (const char* s : handReals) check_real(s, s + std::strlen(s));
    std::mt19937_64 g(4);
    const struct { int low, high; std::size_t most; } ranges[] = {{-340, 320, 9}, {-50, 45, 9}, {1, 0, 25}};
    for (const auto& r : ranges) {
        for (int i = 0; i < 400000 && !HasFailure(); ++i) {
            std::string s = random_decimal_text(g, r.low, r.high, r.most);
            check_real(s.c_str(), s.c_str() + s.size());
        }
    }
}

// Runs a sweep of `count` cases on every instruction set this processor has,
// so that vector code that differs from the plain code by one byte fails: a
// batch of cases with their costly references (make(g, case)) is made on two
// threads, then checked (check(case)) on each set in turn, on two threads.
template <class Case, class Make, class Check>
void sweep_every_path(std::size_t count, Make make, Check check) {
    constexpr std::size_t BATCH = 1 << 15;
    std::vector<Case> cases(BATCH);
    std::mt19937_64 generators[2] = {std::mt19937_64(7), std::mt19937_64(8)};
    auto halves = [&](auto work) {
        auto half = [&](std::size_t t) {
            // Asking for failures takes a lock: once in a while is enough.
            for (std::size_t i = t; i < BATCH && (i % 1024 > 1 || !testing::Test::HasFailure()); i += 2)
                work(t, cases[i]);
        };
        std::thread other(half, 1);
        half(0);
        other.join();
    };
    const std::vector<std::string_view> paths = vector_paths();
    for (std::size_t done = 0; done < count && !testing::Test::HasFailure(); done += BATCH) {
        halves([&](std::size_t t, Case& c) { make(generators[t], c); });
        for (std::string_view path : paths) {
            SCOPED_TRACE(std::string(path));
            ASSERT_TRUE(use_vector_path(path));
            halves([&](std::size_t, Case& c) { check(c); });
        }
    }
    use_vector_path(paths.back());
}

// Vertex lines of three coordinates as the model files hold them
// ("-123.4567" and the like): each coordinate read as strtod reads it, and
// the line as readPLY reads it on every instruction set. Ten million
// coordinates, some lines with a "\r\n" end, some padded with blanks.
struct VectorLineCase {
    char text[128];
    std::size_t length;
    float want[3];
};

TEST(Convert, TenMillionCoordinatesReadAsStrtodReadsThem) {
    auto make = [](std::mt19937_64& g, VectorLineCase& c) {
        char* p = c.text;
        const char* starts[3];
        std::uint64_t r = g();
        if (r & 1) *p++ = ' ';
        for (const char*& start : starts) {
            r = g();
            const int whole = static_cast<int>(r % 8), decimals = static_cast<int>(r / 8 % 9);
            start = p;
            if (r & (1u << 10)) *p++ = '-';
            for (int k = 0; k < whole; ++k) *p++ = static_cast<char>('0' + g() % 10);
            if (decimals) *p++ = '.';
            for (int k = 1; k < decimals; ++k) *p++ = static_cast<char>('0' + g() % 10);
            if (whole == 0 && decimals < 2) *p++ = '0';  // a number, not "-" or "."
            *p++ = r & (1u << 11) ? '\t' : ' ';
        }
        p[-1] = '\r';
        p += (r >> 12) & 1;
        p[-1] = '\n';
        c.length = static_cast<std::size_t>(p - c.text);
        std::memset(p, ' ', static_cast<std::size_t>(std::end(c.text) - p));
        std::end(c.text)[-1] = '\0';
        // Up to the line end: the numbers are read eight bytes at a time.
        for (int k = 0; k < 3; ++k) {
            check_real(starts[k], c.text + c.length);
            c.want[k] = scan_float(starts[k], c.text + c.length);  // strtod's, as just checked
        }
    };
    sweep_every_path<VectorLineCase>(10000000 / 3, make, [](const VectorLineCase& c) {
        VectorData v{};
        std::size_t pos = 0;
        const bool read = read_vector_line(c.text, sizeof c.text, pos, v);
        if (!read || pos != c.length || std::memcmp(&v, c.want, sizeof v) != 0)
            FAIL() << testing::PrintToString(std::string(c.text, c.length)) << (read ? " read as " : " not read")
                   << v.x << ' ' << v.y << ' ' << v.z << ", " << pos << " bytes";
    });
}

// Lines of digits, points, signs, blanks and a few other characters, read
// by the line readers on every instruction set: a line they take must give
// what the field scanners give for its fields, and end where it ends.
TEST(Convert, LineReadersTakeOnlyWhatTheFieldScannersReadAlike) {
    static const std::string odd = ".-\r#ex+/:";
    std::mt19937_64 g(11);
    for (int i = 0; i < 40000 && !HasFailure(); ++i) {
        char text[160];
        const bool polygon = g() & 1;
        // Fields of the line's usual form around its usual count, now and
        // then with a character out of place.
        std::size_t length = 0;
        const std::size_t count = (polygon ? 9 : 3) + (pick(g, 3) == 0 ? pick(g, 3) - 1 : 0);
        for (std::size_t f = 0; f < count; ++f) {
            for (std::size_t b = f == 0 ? pick(g, 2) : 1 + pick(g, 2); b > 0; --b) text[length++] = " \t"[pick(g, 2)];
            if (!polygon && pick(g, 3) == 0) text[length++] = '-';
            for (std::size_t d = polygon && f == 0 && pick(g, 8) ? 1 : pick(g, polygon ? 11 : 8); d > 0; --d) text[length++] = static_cast<char>('0' + pick(g, 10));
            if (!polygon && pick(g, 4) != 0) text[length++] = '.';
            for (std::size_t d = polygon ? 0 : pick(g, 9); d > 0; --d) text[length++] = static_cast<char>('0' + pick(g, 10));
            if (length > 0 && pick(g, 30) == 0) text[pick(g, length)] = odd[pick(g, odd.size())];
        }
        if (pick(g, 8) == 0) text[length++] = ' ';
        if (pick(g, 8) == 0) text[length++] = '\r';
        text[length] = '\n';
        std::memset(text + length + 1, 'x', sizeof text - length - 1);
        const char* end = static_cast<const char*>(std::memchr(text, '\n', sizeof text));
        std::string_view line(text, static_cast<std::size_t>(end - text));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::vector<std::string> fields;
        for (std::size_t at = 0; (at = line.find_first_not_of(" \t", at)) != std::string_view::npos;) {
            const std::size_t stop = std::min(line.find_first_of(" \t", at), line.size());
            fields.emplace_back(line.substr(at, stop - at));
            at = stop;
        }
        for (std::string_view path : vector_paths()) {
            ASSERT_TRUE(use_vector_path(path));
            std::size_t pos = 0;
            VectorData v;
            PolygonData poly;
            if (polygon ? !read_polygon_line(text, sizeof text, pos, poly) : !read_vector_line(text, sizeof text, pos, v))
                continue;
            SCOPED_TRACE(std::string(path) + ": " + testing::PrintToString(std::string(line)));
            ASSERT_EQ(pos, static_cast<std::size_t>(end + 1 - text));
            ASSERT_GE(fields.size(), polygon ? 9u : 3u);
            if (!polygon) {
                const float* got = &v.x;
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(bits(got[k]), bits(scan_float(fields[k].data(), fields[k].data() + fields[k].size())));
                continue;
            }
            int want = 0;
            ASSERT_TRUE(scan_hex(fields[0].data(), fields[0].data() + fields[0].size(), want));
            EXPECT_EQ(poly.flag, want);
            for (int k = 0; k < 8; ++k) {
                ASSERT_TRUE(scan_int(fields[k + 1].data(), fields[k + 1].data() + fields[k + 1].size(), want));
                EXPECT_EQ(k < 4 ? poly.vtx[k] : poly.nrm[k - 4], want);
            }
        }
    }
    use_vector_path(vector_paths().back());
}

// "%f" of the float as a double, as printf writes it.
void check_fixed(float v) {
    char got[FORMAT_MAX], want[512];
    auto n = static_cast<std::size_t>(std::snprintf(want, sizeof want, "%f", static_cast<double>(v)));
    ASSERT_EQ(std::string(got, format_fixed(got, v)), std::string(want, n)) << std::hexfloat << v;
}

// Edge cases with either sign, then random bit patterns and random values in
// several ranges, on every instruction set.
TEST(Convert, FixedMatchesPrintfOnTenMillionFloats) {
    std::vector<float> edges = {0.0f, FLT_TRUE_MIN, FLT_MIN, FLT_MAX, HUGE_VALF, NAN, 0.1f, 100.3f, 0.0000005f,
                                0.0000015f, 1.0000005f, 0.9999995f, 9.9999995f, 999999.94f, 9007199254740992.0f};
    for (int m = 1; m < 4096; m += 2) {  // value * 10^6 ends in exactly .5
        edges.push_back(static_cast<float>(m) / 128);
        edges.push_back(static_cast<float>(m + (1 << 23)) / 128);
    }
    for (int e = -45; e <= 38; ++e) edges.push_back(std::pow(10.0f, static_cast<float>(e)));
    for (std::string_view path : vector_paths()) {
        SCOPED_TRACE(std::string(path));
        ASSERT_TRUE(use_vector_path(path));
        for (float v : edges) {
            check_fixed(v);
            check_fixed(-v);
        }
    }
    struct FixedCase {
        float value;
        char want[64];
        std::size_t length;
    };
    auto make = [](std::mt19937_64& g, FixedCase& c) {
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        float v = 0;
        switch (g() % 6) {
            case 0: v = std::bit_cast<float>(static_cast<std::uint32_t>(g())); break;
            case 1: v = static_cast<float>(unit(g)); break;
            case 2: v = static_cast<float>(unit(g) * 1e4); break;
            case 3: v = static_cast<float>(1e4 + unit(g) * 1e10); break;
            case 4: v = static_cast<float>(std::pow(10.0, -9 + 21 * unit(g))); break;
            case 5:  // near the rounding boundary of the sixth decimal
                v = static_cast<float>((static_cast<double>(pick(g, 100000000)) * 10 + 5) / 1e7);
        }
        c.value = g() & 1 ? -v : v;
        c.length = static_cast<std::size_t>(std::snprintf(c.want, sizeof c.want, "%f", static_cast<double>(c.value)));
    };
    const std::string_view first = vector_paths().front();
    sweep_every_path<FixedCase>(10000000, make, [first](const FixedCase& c) {
        // Values of 10^13 and more are snprintf's to write on every path,
        // and as costly to write as the reference: the first path does.
        if (c.length > 20 && vector_path() != first) return;
        char got[FORMAT_MAX];
        const std::string_view text(got, format_fixed(got, c.value)), want(c.want, c.length);
        if (text != want) FAIL() << text << " for " << want;
    });
}

// What import writes into PLY files must read back as the same float:
// edge cases and random bit patterns, each sign. 0x15ae43fd is the one
// float whose shortest text, read through a double, rounds to another.
TEST(Convert, ShortestReadsBackOnTenMillionFloats) {
    auto check = [](float v) {
        char text[FORMAT_MAX];
        const std::string written(text, format_shortest(text, v));
        ASSERT_EQ(bits(scan_float(written.data(), written.data() + written.size())), bits(v)) << written;
    };
    for (float v : {0.0f, FLT_TRUE_MIN, FLT_MIN, FLT_MAX, HUGE_VALF, 0.1f, 1e-7f, 16777217.0f, 3.4e38f,
                    std::bit_cast<float>(0x15ae43fdu)}) {
        check(v);
        check(-v);
    }
    on_two_threads(5000000, [&](std::mt19937_64& g) {
        const float v = std::bit_cast<float>(static_cast<std::uint32_t>(g()));
        if (!std::isnan(v)) check(v);
    });
}

}  // namespace
