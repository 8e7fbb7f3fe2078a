#include "common/exact_format.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <stdexcept>

namespace {

using Int128 = __int128;

constexpr std::int64_t Pow10Table[] = {1LL,
                                       10LL,
                                       100LL,
                                       1000LL,
                                       10000LL,
                                       100000LL,
                                       1000000LL,
                                       10000000LL,
                                       100000000LL,
                                       1000000000LL,
                                       10000000000LL,
                                       100000000000LL,
                                       1000000000000LL,
                                       10000000000000LL,
                                       100000000000000LL,
                                       1000000000000000LL,
                                       10000000000000000LL,
                                       100000000000000000LL,
                                       1000000000000000000LL};

std::int64_t Narrow(Int128 v)
{
    if (v > INT64_MAX || v < INT64_MIN)
        throw std::range_error("decimal value out of 64-bit range");
    return static_cast<std::int64_t>(v);
}

// Rounds num / den (den > 0) to an integer, halves away from zero.
Int128 DivRoundHalfAway(Int128 num, Int128 den)
{
    const bool negative = num < 0;
    const Int128 magnitude = negative ? -num : num;
    Int128 q = magnitude / den;
    const Int128 r = magnitude % den;
    if (2 * r >= den)
        ++q;
    return negative ? -q : q;
}

std::string PadLeft(std::string text, int width)
{
    if (width > 0 && text.size() < static_cast<std::size_t>(width))
        text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
    return text;
}

// Renders a scaled integer with `decimals` places, optionally grouping the integer part.
std::string RenderScaled(std::int64_t scaled, int decimals, bool grouped)
{
    const bool negative = scaled < 0;
    // Work on the unsigned magnitude: -INT64_MIN does not fit in int64.
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(scaled)
                                             : static_cast<std::uint64_t>(scaled);
    const auto unit = static_cast<std::uint64_t>(Pow10(decimals));
    const std::string integer = std::to_string(magnitude / unit);
    std::string text;
    if (negative && magnitude != 0)
        text += '-';
    if (grouped)
    {
        for (std::size_t i = 0; i < integer.size(); ++i)
        {
            if (i > 0 && (integer.size() - i) % 3 == 0)
                text += ',';
            text += integer[i];
        }
    }
    else
    {
        text += integer;
    }
    if (decimals > 0)
    {
        std::string fraction = std::to_string(magnitude % unit);
        fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
        text += '.';
        text += fraction;
    }
    return text;
}

} // namespace

std::int64_t Pow10(int n)
{
    if (n < 0 || n > 18)
        throw std::range_error("decimal scale out of range");
    return Pow10Table[n];
}

std::int64_t RoundScaled(TDecimal value, int decimals)
{
    if (decimals >= value.Scale)
        return Narrow(static_cast<Int128>(value.Scaled) * Pow10(decimals - value.Scale));
    return Narrow(DivRoundHalfAway(value.Scaled, Pow10(value.Scale - decimals)));
}

std::int64_t RoundRatio(std::int64_t num, std::int64_t den, int decimals)
{
    if (den == 0)
        throw std::domain_error("ratio with a zero denominator");
    Int128 n = static_cast<Int128>(num) * Pow10(decimals);
    Int128 d = den;
    if (d < 0)
    {
        n = -n;
        d = -d;
    }
    return Narrow(DivRoundHalfAway(n, d));
}

std::int64_t RoundDouble(double x, int decimals)
{
    if (!std::isfinite(x))
        throw std::range_error("not a finite number");
    if (decimals >= 0 && decimals < static_cast<int>(std::size(Pow10Table)))
    {
        // |x| is m / 2^shift exactly, m a 53-bit integer: scaled by 10^decimals it fits in 128
        // bits, and the bits shifted out decide the rounding. A result row formats a dozen
        // figures, and printing 1,100 digits of each cost more than the row.
        using UInt128 = unsigned __int128;
        int exponent = 0;
        const double fraction = std::frexp(std::fabs(x), &exponent);
        const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
        const int shift = 53 - exponent;
        UInt128 magnitude = 0; // of x * 10^decimals, cut to an integer
        bool roundUp = false;
        if (shift <= 0)
        {
            if (-shift >= 64)
                throw std::range_error("decimal value out of 64-bit range");
            magnitude = static_cast<UInt128>(mantissa) << -shift;
            if (magnitude > INT64_MAX)
                throw std::range_error("decimal value out of 64-bit range");
            magnitude *= static_cast<std::uint64_t>(Pow10Table[decimals]);
        }
        else if (shift < 128)
        {
            const UInt128 product = static_cast<UInt128>(mantissa) * static_cast<std::uint64_t>(Pow10Table[decimals]);
            magnitude = product >> shift;
            // A half or more of the last place rounds away from zero.
            roundUp = (product & ((UInt128{1} << shift) - 1)) >= (UInt128{1} << (shift - 1));
        }
        // else |x| * 10^decimals < 2^113 / 2^128, which rounds to 0
        if (magnitude > INT64_MAX)
            throw std::range_error("decimal value out of 64-bit range");
        const Int128 rounded = static_cast<Int128>(magnitude) + (roundUp ? 1 : 0);
        return Narrow(std::signbit(x) ? -rounded : rounded);
    }
    // glibc prints the exact binary value when asked for enough digits; every double's
    // expansion ends within 1074 places, so a tie shows as a lone "5" with zeros after.
    // At most a sign, 309 integer digits, the point and the fraction: 1411 bytes.
    constexpr int precision = 1100;
    std::array<char, 1420> buffer{};
    const int size = std::snprintf(buffer.data(), buffer.size(), "%.*f", precision, x);
    if (size < 0 || static_cast<std::size_t>(size) >= buffer.size())
        throw std::range_error("decimal expansion does not fit");
    const std::string_view digits(buffer.data(), static_cast<std::size_t>(size));

    const bool negative = digits.front() == '-';
    const std::size_t point = digits.find('.');
    Int128 scaled = 0;
    for (std::size_t i = negative ? 1 : 0; i < point; ++i)
    {
        scaled = scaled * 10 + (digits[i] - '0');
        if (scaled > INT64_MAX)
            throw std::range_error("decimal value out of 64-bit range");
    }
    for (int i = 1; i <= decimals; ++i)
    {
        scaled = scaled * 10 + (digits[point + static_cast<std::size_t>(i)] - '0');
        if (scaled > INT64_MAX)
            throw std::range_error("decimal value out of 64-bit range");
    }
    if (digits[point + static_cast<std::size_t>(decimals) + 1] >= '5')
        ++scaled;
    return Narrow(negative ? -scaled : scaled);
}

std::string FormatD(std::int64_t value, int width, int precision)
{
    const bool negative = value < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value)
                                             : static_cast<std::uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    if (precision > 0 && digits.size() < static_cast<std::size_t>(precision))
        digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
    if (negative)
        digits.insert(0, 1, '-');
    return PadLeft(std::move(digits), width);
}

std::string FormatF(TDecimal value, int width, int decimals)
{
    return PadLeft(RenderScaled(RoundScaled(value, decimals), decimals, false), width);
}

std::string FormatF(double value, int width, int decimals)
{
    return PadLeft(RenderScaled(RoundDouble(value, decimals), decimals, false), width);
}

std::string FormatN(TDecimal value, int width, int decimals)
{
    return PadLeft(RenderScaled(RoundScaled(value, decimals), decimals, true), width);
}

std::string FormatN(double value, int width, int decimals)
{
    return PadLeft(RenderScaled(RoundDouble(value, decimals), decimals, true), width);
}

std::string FormatS(std::string_view text, int width)
{
    return PadLeft(std::string(text), width);
}
