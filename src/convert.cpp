// Converting numbers between text and values, with the results the C
// library's scanf ("%d", "%x", "%s"), strtod and printf ("%d", "%x", "%f")
// give, except that integers too large for 32 bits are clamped, never wrapped.
#include "function.h"
#include "decimal.h"
#include "vector.h"

#include <bit>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

namespace {

const char* skip_c_space(const char* p, const char* end) {
    while (p < end && is_c_space(*p)) ++p;
    return p;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Rounds a double to the nearest float, as the hardware does, also beyond
// the float range (where a plain conversion is undefined in C++).
float to_float(double d) {
    if (std::isfinite(d) && std::fabs(d) > FLT_MAX) {
        // Halfway between FLT_MAX and the next power of two rounds to even: infinity.
        float big = std::fabs(d) >= 0x1.ffffffp127 ? HUGE_VALF : FLT_MAX;
        return std::signbit(d) ? -big : big;
    }
    return static_cast<float>(d);
}

double c_strtod(const char* p, const char* end) {
    const char* stop = p;
    while (stop < end && !is_c_space(*stop)) ++stop;
    std::string field(p, stop);
    return std::strtod(field.c_str(), nullptr);
}

}  // namespace

const char* scan_int(const char* p, const char* end, int& value) {
    p = skip_c_space(p, end);
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p == end || !is_digit(*p)) return nullptr;
    long long magnitude = 0;
    const long long cap = static_cast<long long>(INT_MAX) + 1;
    for (; p < end && is_digit(*p); ++p) {
        if (magnitude < cap) magnitude = magnitude * 10 + (*p - '0');
    }
    if (negative) {
        value = magnitude >= cap ? INT_MIN : static_cast<int>(-magnitude);
    } else {
        value = magnitude >= cap ? INT_MAX : static_cast<int>(magnitude);
    }
    return p;
}

// Like "%x": optional sign, optional "0x", hexadecimal digits. The value is
// taken as an unsigned 32-bit number (too large: all bits set) and stored as int.
const char* scan_hex(const char* p, const char* end, int& value) {
    p = skip_c_space(p, end);
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    bool digits = false;
    if (p + 1 < end && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        digits = true;  // the '0' of the prefix is a digit of its own
    }
    unsigned long long magnitude = 0;
    bool overflow = false;
    for (int d; p < end && (d = hex_digit(*p)) >= 0; ++p) {
        digits = true;
        magnitude = magnitude * 16 + static_cast<unsigned>(d);
        if (magnitude > UINT_MAX) {
            overflow = true;
            magnitude = UINT_MAX;
        }
    }
    if (!digits) return nullptr;
    auto bits = static_cast<unsigned>(magnitude);
    if (negative && !overflow) bits = 0u - bits;
    value = static_cast<int>(bits);
    return p;
}

const char* scan_word(const char* p, const char* end, std::string_view& word) {
    p = skip_c_space(p, end);
    const char* start = p;
    while (p < end && !is_c_space(*p)) ++p;
    if (p == start) return nullptr;
    word = std::string_view(start, static_cast<std::size_t>(p - start));
    return p;
}

namespace {

constexpr std::uint64_t int_powers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};

// The number of decimal digits at the start of eight bytes read at once
// (the first byte lowest).
int leading_digits(std::uint64_t bytes) {
    std::uint64_t t = bytes ^ 0x3030303030303030u;  // a digit becomes 0 to 9
    // A byte above 9 sets its top bit once 0x76 is added; a carry out of a
    // non-digit only reaches bytes after it.
    std::uint64_t other = ((t + 0x7676767676767676u) | t) & 0x8080808080808080u;
    return other ? __builtin_ctzll(other) / 8 : 8;
}

// The value of the first n (1 to 7) digits of eight bytes.
std::uint64_t digits_value(std::uint64_t bytes, int n) {
    std::uint64_t v = (bytes - 0x3030303030303030u) << (8 * (8 - n));
    v = v * 10 + (v >> 8);
    return (((v & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
            (((v >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >> 32;
}

std::uint64_t load8(const char* p) {
    std::uint64_t bytes;
    std::memcpy(&bytes, p, 8);
    return bytes;
}

// A plain decimal read a digit at a time, p after its sign.
[[gnu::noinline]] const char* plain_decimal_bytewise(const char* p, const char* end, PlainDecimal& number) {
    std::uint64_t digits = 0;
    const char* q = p;
    for (; q < end && is_digit(*q); ++q) digits = digits * 10 + static_cast<unsigned>(*q - '0');
    long count = q - p, decimals = 0;
    if (q < end && *q == '.') {
        const char* point = ++q;
        for (; q < end && is_digit(*q); ++q) digits = digits * 10 + static_cast<unsigned>(*q - '0');
        decimals = q - point;
        count += decimals;
    }
    // An exponent or a hexadecimal prefix would make it another number.
    if (count == 0 || count > 19 || decimals > 22 || digits > (std::uint64_t{1} << 53) ||
        (q < end && (*q == 'e' || *q == 'E' || *q == 'x' || *q == 'X')))
        return nullptr;
    number.digits = digits;
    number.decimals = static_cast<int>(decimals);
    return q;
}

// Reads a plain decimal at p (below end); returns where it ends, or null for
// any other form. Bytes up to `limit` (at least `end`) may be loaded eight at
// a time; the number itself never reaches past `end`.
[[gnu::always_inline]] inline const char* plain_decimal(const char* p, const char* end, const char* limit,
                                                      PlainDecimal& number) {
    number.negative = *p == '-';
    p += number.negative;
    if (limit - p >= 17) {
        // Up to seven digits, the point, up to seven decimals: eight bytes
        // at a time, both loads made before either is looked at.
        std::uint64_t head = load8(p);
        int whole = leading_digits(head);
        const char* point = p + whole;
        std::uint64_t tail = load8(point + 1);
        bool dot = *point == '.';
        int fraction = dot ? leading_digits(tail) : 0;
        const char* q = point + dot + fraction;
        // Digits loaded beyond the end belong to something else; at most
        // fourteen digits, only an empty number or an exponent or
        // hexadecimal prefix after it make another form.
        if (whole < 8 && fraction < 8 && q <= end && whole + fraction > 0 &&
            (q == end || ((*q | 0x20) != 'e' && (*q | 0x20) != 'x'))) {
            std::uint64_t digits = whole ? digits_value(head, whole) : 0;
            if (fraction) digits = digits * int_powers[fraction] + digits_value(tail, fraction);
            number.digits = digits;
            number.decimals = fraction;
            return q;
        }
    }
    return plain_decimal_bytewise(p, end, number);
}

}  // namespace

double scan_double(const char* p, const char* end) {
    p = skip_c_space(p, end);
    // Plain decimal numbers take the fast paths; every other form (a '+' sign,
    // hexadecimal, "inf", "nan", out of range) is left to strtod itself.
    PlainDecimal number;
    if (p < end && plain_decimal(p, end, end, number)) return plain_double(number);
    double d;
    const char* q = p < end && *p == '-' ? p + 1 : p;
    if (q < end && (is_digit(*q) || *q == '.')) {
        auto [stop, ec] = std::from_chars(p, end, d, std::chars_format::general);
        if (ec == std::errc() && (stop == end || (*stop != 'x' && *stop != 'X'))) return d;
    }
    return c_strtod(p, end);
}

float scan_float(const char* p, const char* end) {
    p = skip_c_space(p, end);
    PlainDecimal number;
    if (p < end && plain_decimal(p, end, end, number)) return plain_float(number);
    return to_float(scan_double(p, end));
}

const char* scan_coordinate(const char* p, const char* end, const char* limit, float& value) {
    PlainDecimal number;
    const char* q = p < end ? plain_decimal(p, end, limit, number) : nullptr;
    if (q) value = plain_float(number);
    return q;
}

namespace {

constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The two digits of n below 100 as they lie in memory, the first lowest.
std::uint32_t pair_bytes(unsigned n) {
    std::uint16_t bytes;
    std::memcpy(&bytes, digit_pairs + 2 * n, 2);
    return bytes;
}

// The digits of n below 10^4, stored at once without branches on n; up to
// three bytes past them may be written.
char* format_small(char* out, unsigned n) {
    int length = 1 + (n >= 10) + (n >= 100) + (n >= 1000);
    std::uint32_t four = pair_bytes(n / 100) | pair_bytes(n % 100) << 16;
    four >>= 8 * (4 - length);  // the first byte is the lowest
    std::memcpy(out, &four, 4);
    return out + length;
}

}  // namespace

// Numbers below 10^8, most of the merged files' numbers, are written as one
// or two groups of four digits, each stored at once.
char* format_int(char* out, long long value) {
    if (value < 0 || value >= 100000000) return std::to_chars(out, out + 24, value).ptr;
    auto n = static_cast<unsigned>(value);
    if (n < 10000) return format_small(out, n);
    out = format_small(out, n / 10000);
    const std::uint32_t low = pair_bytes(n % 10000 / 100) | pair_bytes(n % 100) << 16;
    std::memcpy(out, &low, 4);
    return out + 4;
}

char* format_hex(char* out, unsigned value) {
    if (value < 10) {
        *out = static_cast<char>('0' + value);
        return out + 1;
    }
    return std::to_chars(out, out + 16, value, 16).ptr;
}

// "%f" of a float widened to double: the integer part, mostly below 10^4,
// and the point with the decimals are each stored at once, without branches
// on the value: bytes past the end may be written (FORMAT_MAX allows for it).
char* format_fixed_scalar(char* out, float value) {
    std::uint64_t units;
    if (!fixed_units(value, units)) return out + std::snprintf(out, FORMAT_MAX, "%f", static_cast<double>(value));
    *out = '-';
    out += std::signbit(value);
    std::uint64_t whole = units / 1000000;
    auto frac = static_cast<unsigned>(units - whole * 1000000);
    out = whole < 10000 ? format_small(out, static_cast<unsigned>(whole)) : std::to_chars(out, out + 24, whole).ptr;
    unsigned low = frac % 10000;
    std::uint64_t text = '.' | std::uint64_t{pair_bytes(frac / 10000)} << 8 |
                         std::uint64_t{pair_bytes(low / 100)} << 24 | std::uint64_t{pair_bytes(low % 100)} << 40;
    std::memcpy(out, &text, 8);
    return out + 7;
}

char* format_fixed(char* out, float value) {
    return vector_kernels().fixed(out, value);
}

// The shortest decimal that reads back as the same float through
// scan_float. std::to_chars gives the shortest that a float read gives back;
// scan_float goes through a double, so the result is read back, and more
// digits are given where rounding twice lands elsewhere: of all floats,
// 7.038531e-26 and its negative (tried on every bit pattern).
char* format_shortest(char* out, float value) {
    char* end = std::to_chars(out, out + FORMAT_MAX, value).ptr;
    for (int digits = 9; std::isfinite(value) && digits <= 12; ++digits) {
        const float back = scan_float(out, end);
        if (back == value && std::signbit(back) == std::signbit(value)) break;
        end = std::to_chars(out, out + FORMAT_MAX, value, std::chars_format::scientific, digits - 1).ptr;
    }
    return end;
}
