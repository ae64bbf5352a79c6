#pragma once

// The dialect's exact decimal; others reach it through sqlcompat/sqlcompat.h.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sqlcompat {

// An exact decimal number as the ERP server's numeric type holds it: at most 38 digits,
// of which `scale` lie after the point (0 to 38). No binary floating point is involved in
// any operation. Operations that cannot keep the result within 38 digits return nothing;
// the caller reports the server's arithmetic overflow.
class Decimal
{
public:
    using Mantissa = __int128;
    static constexpr int MaxDigits = 38;

    // A copy that needs no 16-byte alignment, for memory SQLite hands out.
    struct Packed
    {
        std::uint64_t low;
        std::int64_t high;
        std::int32_t scale;
    };

    constexpr Decimal() = default;
    static std::optional<Decimal> make(Mantissa mantissa, int scale);
    static Decimal fromInt64(std::int64_t value) { return Decimal(value, 0); }
    // A stored double stands for the decimal of at most 15 significant digits nearest to
    // it: exactly the decimal that was written, for any decimal of up to 15 digits.
    static std::optional<Decimal> fromDouble(double value);
    // Blanks around, an optional sign, digits with an optional point; no exponent.
    static std::optional<Decimal> parse(std::string_view text);

    Mantissa mantissa() const { return m_mantissa; }
    int scale() const { return m_scale; }
    bool isZero() const { return m_mantissa == 0; }
    bool isNegative() const { return m_mantissa < 0; }

    Packed packed() const;
    static Decimal unpacked(const Packed &packed);

    Decimal negated() const { return Decimal(-m_mantissa, m_scale); }
    std::optional<Decimal> plus(const Decimal &other) const;
    std::optional<Decimal> minus(const Decimal &other) const { return plus(other.negated()); }
    std::optional<Decimal> times(const Decimal &other) const;
    // To `digits` places after the point (negative: before it), half away from zero.
    std::optional<Decimal> rounded(int digits) const;
    // To `digits` places, dropping the rest (ROUND's truncating form).
    std::optional<Decimal> truncated(int digits) const;

    int compare(const Decimal &other) const;
    friend bool operator==(const Decimal &a, const Decimal &b) { return a.compare(b) == 0; }

    std::optional<std::int64_t> toInt64() const; // when integral and in range
    double toDouble() const;                     // the nearest double
    std::string toString() const;                // "-12.340": all `scale` digits

private:
    constexpr Decimal(Mantissa mantissa, int scale) : m_mantissa(mantissa), m_scale(scale) {}
    std::optional<Decimal> rescaled(int digits, bool roundHalfAway) const;

    Mantissa m_mantissa = 0;
    int m_scale = 0;
};

// Strips the blanks around a number text as the server does when it converts one, then a
// leading sign; true when that sign was '-'.
bool takeSign(std::string_view &text);

} // namespace sqlcompat
