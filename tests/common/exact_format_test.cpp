#include "common/exact_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

TEST(FormatD, PrecisionPadsWithZerosAndZeroStillPrints)
{
    struct Row
    {
        const char* name;
        std::int64_t value;
        int width;
        int precision;
        const char* text;
    };
    const Row rows[] = {
        {"four digits", 1, 0, 4, "0001"},
        {"five digits", 12, 0, 5, "00012"},
        {"longer than precision", 123456, 0, 4, "123456"},
        {"precision 0 prints zero", 0, 4, 0, "   0"},
        {"width only", 42, 7, 0, "     42"},
        {"negative with precision", -5, 0, 3, "-005"},
        {"narrower than text", 12345678, 7, 0, "12345678"},
        {"int64 minimum", INT64_MIN, 0, 0, "-9223372036854775808"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(FormatD(row.value, row.width, row.precision), row.text);
    }
}

TEST(FormatN, GroupsThousandsAndRoundsHalvesAwayFromZero)
{
    EXPECT_EQ(FormatN(TDecimal{12340000, 4}, 7, 0), "  1,234");
    EXPECT_EQ(FormatN(TDecimal{1234500, 0}, 10, 0), " 1,234,500");
    EXPECT_EQ(FormatN(TDecimal{-850000, 4}, 4, 0), " -85");
    EXPECT_EQ(FormatN(TDecimal{25, 1}, 0, 0), "3");
    EXPECT_EQ(FormatN(TDecimal{-25, 1}, 0, 0), "-3");
    EXPECT_EQ(FormatN(TDecimal{-4, 1}, 0, 0), "0"); // no "-0"
    EXPECT_EQ(FormatN(TDecimal{999, 0}, 0, 0), "999");
    EXPECT_EQ(FormatN(TDecimal{1000, 0}, 0, 0), "1,000");
    EXPECT_EQ(FormatN(TDecimal{-1234567, 0}, 0, 0), "-1,234,567");
}

TEST(FormatF, RoundsTheExactDecimalValue)
{
    EXPECT_EQ(FormatF(TDecimal{-5700, 4}, 3, 2), "-0.57");
    EXPECT_EQ(FormatF(TDecimal{12300, 4}, 3, 2), "1.23");
    EXPECT_EQ(FormatF(TDecimal{1095, 3}, 7, 2), "   1.10");
    EXPECT_EQ(FormatF(TDecimal{1094, 3}, 7, 2), "   1.09");
    EXPECT_EQ(FormatF(TDecimal{7, 0}, 7, 5), "7.00000");
}

TEST(FormatF, DoublesRoundOnTheirExactBinaryValue)
{
    // 0.125 and 2.5 are exact in binary: true ties, so they go away from zero.
    EXPECT_EQ(FormatF(0.125, 0, 2), "0.13");
    EXPECT_EQ(FormatF(2.5, 7, 0), "      3");
    EXPECT_EQ(FormatF(-2.5, 0, 0), "-3");
    // 1.005 is stored as 1.00499999999999989..., below the tie.
    EXPECT_EQ(FormatF(1.005, 0, 2), "1.00");
    EXPECT_EQ(FormatF(7004.0 / 7.0, 7, 0), "   1001");
    EXPECT_EQ(FormatN(1234567.5, 0, 0), "1,234,568");
    EXPECT_THROW(FormatF(1e300, 0, 0), std::range_error);
}

// The exact rounding by glibc's full decimal expansion of the binary value: slow, but an
// oracle independent of the integer arithmetic RoundDouble uses.
std::optional<std::int64_t> RoundByExpansion(double x, int decimals)
{
    std::vector<char> buffer(1500);
    const int size = std::snprintf(buffer.data(), buffer.size(), "%.1100f", x);
    const std::string digits(buffer.data(), static_cast<std::size_t>(size));
    const bool negative = digits.front() == '-';
    const std::size_t point = digits.find('.');
    __int128 scaled = 0;
    for (std::size_t i = negative ? 1 : 0; i < point + 1 + static_cast<std::size_t>(decimals); ++i)
    {
        if (i == point)
            continue;
        scaled = scaled * 10 + (digits[i] - '0');
        if (scaled > INT64_MAX)
            return std::nullopt;
    }
    if (digits[point + static_cast<std::size_t>(decimals) + 1] >= '5')
        ++scaled;
    scaled = negative ? -scaled : scaled;
    if (scaled > INT64_MAX || scaled < INT64_MIN)
        return std::nullopt;
    return static_cast<std::int64_t>(scaled);
}

TEST(RoundDouble, AgreesWithTheFullDecimalExpansion)
{
    std::vector<double> values = {0.0,    -0.0,   0.125,  -0.125, 2.5,     1.005,   2.675,      0.045,
                                  1e-320, -5e-324, 0.5,   1.5,    -1.5,    1234567.5, 9.2e18, -9.2e18,
                                  9.3e18, -9.3e18, 1e300, 0x1p52, 0x1p53 + 2, 0x1p62, -0x1p63, 0x1p63};
    std::mt19937_64 random(20261208);
    for (int i = 0; i < 4000; ++i)
    {
        // Every magnitude a figure may have, and ties: halves, quarters, eighths...
        const double mantissa = std::uniform_real_distribution<double>(-1.0, 1.0)(random);
        const int exponent = std::uniform_int_distribution<int>(-60, 64)(random);
        values.push_back(std::ldexp(mantissa, exponent));
        values.push_back(std::ldexp(static_cast<double>(std::uniform_int_distribution<int>(-4000, 4000)(random)),
                                    -std::uniform_int_distribution<int>(1, 12)(random)));
    }
    for (const double x : values)
        for (const int decimals : {0, 1, 2, 3, 4, 7, 12, 18, 19, 25})
        {
            const std::optional<std::int64_t> expected = RoundByExpansion(x, decimals);
            if (expected)
                ASSERT_EQ(RoundDouble(x, decimals), *expected) << std::hexfloat << x << " to " << decimals;
            else
                ASSERT_THROW(RoundDouble(x, decimals), std::range_error) << std::hexfloat << x << " to " << decimals;
        }
}

TEST(RoundRatio, ExactQuotientsRoundHalvesAwayFromZero)
{
    EXPECT_EQ(RoundRatio(1095, 1000, 2), 110);
    EXPECT_EQ(RoundRatio(1094, 1000, 2), 109);
    EXPECT_EQ(RoundRatio(905, 1000, 2), 91);
    EXPECT_EQ(RoundRatio(904, 1000, 2), 90);
    EXPECT_EQ(RoundRatio(-1, 2, 0), -1);
    EXPECT_EQ(RoundRatio(1, -2, 0), -1);
    EXPECT_EQ(RoundRatio(2500, 1000, 0), 3);
    EXPECT_THROW(RoundRatio(1, 0, 0), std::domain_error);
}

} // namespace
