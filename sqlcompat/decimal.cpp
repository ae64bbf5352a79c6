#include "sqlcompat/decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace sqlcompat {

namespace {

using Mantissa = Decimal::Mantissa;

constexpr Mantissa pow10(int k)
{
    Mantissa value = 1;
    for (int i = 0; i < k; ++i)
        value *= 10;
    return value;
}

constexpr Mantissa Limit = pow10(Decimal::MaxDigits); // first value that no longer fits

Mantissa powerOf10(int k)
{
    static constexpr auto table = [] {
        struct Table
        {
            Mantissa values[Decimal::MaxDigits + 1];
        } t{};
        for (int i = 0; i <= Decimal::MaxDigits; ++i)
            t.values[i] = pow10(i);
        return t;
    }();
    return table.values[k];
}

bool fits(Mantissa m)
{
    return m < Limit && m > -Limit;
}

Mantissa magnitude(Mantissa m)
{
    return m < 0 ? -m : m;
}

// m / 10^k, half away from zero; 0 <= k <= 38.
Mantissa divideRounding(Mantissa m, int k)
{
    if (k == 0)
        return m;
    const Mantissa divisor = powerOf10(k);
    Mantissa quotient = m / divisor;
    const Mantissa rest = magnitude(m % divisor);
    if (rest >= divisor - rest)
        quotient += m < 0 ? -1 : 1;
    return quotient;
}

// m * 10^k, or nothing when that leaves 38 digits.
std::optional<Mantissa> multiplyPower(Mantissa m, int k)
{
    if (k > Decimal::MaxDigits)
        return m == 0 ? std::optional<Mantissa>(0) : std::nullopt;
    // |m| * 10^k < 10^38 exactly when |m| < 10^(38-k).
    if (m >= powerOf10(Decimal::MaxDigits - k) || m <= -powerOf10(Decimal::MaxDigits - k))
        return std::nullopt;
    return m * powerOf10(k);
}

// Drops trailing zeros after the point.
void normalize(Mantissa &m, int &scale)
{
    while (scale > 0 && m % 10 == 0) {
        m /= 10;
        --scale;
    }
}

// A 256-bit unsigned number, least significant limb first.
struct Wide
{
    std::uint64_t limb[4];
};

Wide multiplyWide(unsigned __int128 a, unsigned __int128 b)
{
    using U = unsigned __int128;
    const std::uint64_t a0 = std::uint64_t(a), a1 = std::uint64_t(a >> 64);
    const std::uint64_t b0 = std::uint64_t(b), b1 = std::uint64_t(b >> 64);
    const U p00 = U(a0) * b0, p01 = U(a0) * b1, p10 = U(a1) * b0, p11 = U(a1) * b1;
    const U middle = (p00 >> 64) + std::uint64_t(p01) + std::uint64_t(p10);
    const U high = (middle >> 64) + (p01 >> 64) + (p10 >> 64) + std::uint64_t(p11);
    return Wide{{std::uint64_t(p00), std::uint64_t(middle), std::uint64_t(high),
                 std::uint64_t((high >> 64) + (p11 >> 64))}};
}

// Divides by 10 in place; the remainder.
int divideBy10(Wide &value)
{
    unsigned __int128 rest = 0;
    for (int i = 3; i >= 0; --i) {
        const unsigned __int128 current = (rest << 64) | value.limb[i];
        value.limb[i] = std::uint64_t(current / 10);
        rest = current % 10;
    }
    return int(rest);
}

unsigned __int128 low(const Wide &value)
{
    return (static_cast<unsigned __int128>(value.limb[1]) << 64) | value.limb[0];
}

bool below(const Wide &value, Mantissa limit)
{
    return value.limb[3] == 0 && value.limb[2] == 0 &&
           low(value) < static_cast<unsigned __int128>(limit);
}

} // namespace

std::optional<Decimal> Decimal::make(Mantissa mantissa, int scale)
{
    if (scale < 0 || scale > MaxDigits || !fits(mantissa))
        return std::nullopt;
    return Decimal(mantissa, scale);
}

std::optional<Decimal> Decimal::fromDouble(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    // Most stored amounts have few decimals: find the shortest scale whose nearest double
    // is this one. Division of two exact doubles rounds correctly, so the test is exact.
    // Amounts have two places, so that scale is tried first.
    auto tryScale = [value](int k, double power) -> std::optional<Decimal> {
        const double scaled = value * power;
        if (!(std::fabs(scaled) < 1e15))
            return std::nullopt;
        // Near an integer this rounds to it, which is all the test below needs.
        const auto whole = std::int64_t(scaled + (scaled < 0 ? -0.5 : 0.5));
        if (double(whole) / power != value)
            return std::nullopt;
        return Decimal(Mantissa(whole), k);
    };
    if (const auto cents = tryScale(2, 100))
        return cents;
    double power = 1;
    for (int k = 0; k <= 15; ++k, power *= 10) {
        if (std::fabs(value * power) >= 1e15)
            break;
        if (const auto found = tryScale(k, power))
            return found;
    }
    // Otherwise the value rounded to 15 significant digits.
    char text[40];
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, 14);
    const std::string_view digits(text, written.ptr);
    const auto e = digits.find('e');
    if (written.ec != std::errc() || e == std::string_view::npos)
        return std::nullopt;
    int exponent = 0;
    std::from_chars(digits.data() + e + (digits[e + 1] == '+' ? 2 : 1),
                    digits.data() + digits.size(), exponent);
    Mantissa mantissa = 0;
    for (char c : digits.substr(0, e)) {
        if (c >= '0' && c <= '9')
            mantissa = mantissa * 10 + (c - '0');
    }
    if (value < 0)
        mantissa = -mantissa;
    int scale = 14 - exponent;
    normalize(mantissa, scale);
    if (scale < 0) {
        const auto widened = multiplyPower(mantissa, -scale);
        if (!widened)
            return std::nullopt;
        return Decimal(*widened, 0);
    }
    if (scale > MaxDigits) {
        mantissa = divideRounding(mantissa, std::min(scale - MaxDigits, MaxDigits));
        scale = MaxDigits;
    }
    return Decimal(mantissa, scale);
}

bool takeSign(std::string_view &text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    return negative;
}

std::optional<Decimal> Decimal::parse(std::string_view text)
{
    const bool negative = takeSign(text);
    Mantissa mantissa = 0;
    int significant = 0;
    int scale = 0;
    bool point = false;
    bool anyDigit = false;
    for (char c : text) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9')
            return std::nullopt;
        anyDigit = true;
        if (point)
            ++scale;
        if (mantissa == 0 && c == '0')
            continue;
        if (++significant > MaxDigits)
            return std::nullopt;
        mantissa = mantissa * 10 + (c - '0');
    }
    if (!anyDigit || scale > MaxDigits)
        return std::nullopt;
    return Decimal(negative ? -mantissa : mantissa, scale);
}

Decimal::Packed Decimal::packed() const
{
    const auto bits = static_cast<unsigned __int128>(m_mantissa);
    return Packed{std::uint64_t(bits), std::int64_t(bits >> 64), m_scale};
}

Decimal Decimal::unpacked(const Packed &packed)
{
    const auto bits =
        (static_cast<unsigned __int128>(std::uint64_t(packed.high)) << 64) | packed.low;
    return Decimal(static_cast<Mantissa>(bits), packed.scale);
}

std::optional<Decimal> Decimal::rescaled(int digits, bool roundHalfAway) const
{
    if (digits == m_scale)
        return *this;
    if (digits > m_scale) {
        const auto widened = multiplyPower(m_mantissa, digits - m_scale);
        if (!widened)
            return std::nullopt;
        return Decimal(*widened, digits);
    }
    const int drop = m_scale - digits;
    if (drop > MaxDigits)
        return Decimal(0, std::max(digits, 0));
    Mantissa kept = roundHalfAway ? divideRounding(m_mantissa, drop) : m_mantissa / powerOf10(drop);
    if (digits >= 0)
        return Decimal(kept, digits);
    // Places before the point: the dropped digits come back as zeros.
    const auto widened = multiplyPower(kept, -digits);
    if (!widened)
        return std::nullopt;
    return Decimal(*widened, 0);
}

std::optional<Decimal> Decimal::plus(const Decimal &other) const
{
    Mantissa sum;
    if (m_scale == other.m_scale && !__builtin_add_overflow(m_mantissa, other.m_mantissa, &sum) &&
        fits(sum))
        return Decimal(sum, m_scale);
    // Like the server, give up digits after the point (down to 6) before overflowing.
    const int wanted = std::max(m_scale, other.m_scale);
    const int least = std::min(wanted, 6);
    for (int scale = wanted; scale >= least; --scale) {
        const auto a = rescaled(scale, true);
        const auto b = other.rescaled(scale, true);
        Mantissa sum;
        if (a && b && !__builtin_add_overflow(a->m_mantissa, b->m_mantissa, &sum) && fits(sum))
            return Decimal(sum, scale);
    }
    return std::nullopt;
}

std::optional<Decimal> Decimal::times(const Decimal &other) const
{
    Wide product = multiplyWide(static_cast<unsigned __int128>(magnitude(m_mantissa)),
                                static_cast<unsigned __int128>(magnitude(other.m_mantissa)));
    // Too many digits: give up places after the point, down to 6, rounding once at the end.
    int scale = m_scale + other.m_scale;
    const int least = std::min(scale, 6);
    int lastDropped = 0;
    while (scale > MaxDigits || !below(product, Limit)) {
        if (scale <= least)
            return std::nullopt;
        lastDropped = divideBy10(product);
        --scale;
    }
    Mantissa result = Mantissa(low(product)) + (lastDropped >= 5 ? 1 : 0);
    if (result == Limit) {
        if (scale <= least)
            return std::nullopt;
        result /= 10;
        --scale;
    }
    const bool negative = (m_mantissa < 0) != (other.m_mantissa < 0);
    return Decimal(negative ? -result : result, scale);
}

std::optional<Decimal> Decimal::rounded(int digits) const
{
    if (digits >= m_scale)
        return *this;
    return rescaled(digits, true);
}

std::optional<Decimal> Decimal::truncated(int digits) const
{
    if (digits >= m_scale)
        return *this;
    return rescaled(digits, false);
}

int Decimal::compare(const Decimal &other) const
{
    Mantissa a = m_mantissa, b = other.m_mantissa;
    int scaleA = m_scale, scaleB = other.m_scale;
    normalize(a, scaleA);
    normalize(b, scaleB);
    // Bring the one with fewer places to the other's; if that overflows it is the larger.
    Mantissa widened;
    if (scaleA < scaleB) {
        if (__builtin_mul_overflow(a, powerOf10(scaleB - scaleA), &widened))
            return a < 0 ? -1 : 1;
        a = widened;
    } else if (scaleB < scaleA) {
        if (__builtin_mul_overflow(b, powerOf10(scaleA - scaleB), &widened))
            return b < 0 ? 1 : -1;
        b = widened;
    }
    return a < b ? -1 : (a > b ? 1 : 0);
}

std::optional<std::int64_t> Decimal::toInt64() const
{
    const Mantissa divisor = powerOf10(m_scale);
    if (m_mantissa % divisor != 0)
        return std::nullopt;
    const Mantissa whole = m_mantissa / divisor;
    if (whole > INT64_MAX || whole < INT64_MIN)
        return std::nullopt;
    return std::int64_t(whole);
}

double Decimal::toDouble() const
{
    // Both operands exact as doubles: the quotient is correctly rounded.
    static constexpr double exact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (magnitude(m_mantissa) <= (Mantissa(1) << 53) && m_scale <= 22)
        return double(std::int64_t(m_mantissa)) / exact[m_scale];
    const std::string text = toString();
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string Decimal::toString() const
{
    char digits[48];
    int count = 0;
    auto rest = static_cast<unsigned __int128>(magnitude(m_mantissa));
    do {
        digits[count++] = char('0' + int(rest % 10));
        rest /= 10;
    } while (rest != 0 || count <= m_scale);
    std::string text;
    text.reserve(count + 2);
    if (m_mantissa < 0)
        text += '-';
    for (int i = count - 1; i >= 0; --i) {
        text += digits[i];
        if (i == m_scale && i > 0)
            text += '.';
    }
    return text;
}

} // namespace sqlcompat
