#include "data/numeric_text.h"

#include "data/data_error.h"
#include "data/euc_to_sjis.h"
#include "data/page_scan.h"

#include <gtest/gtest.h>

namespace {

TEST(ExtractNumeric, KeepsDigitsPointsAndSigns)
{
    const struct
    {
        const char* Name;
        std::string Text;
        std::string Expected;
    } rows[] = {
        {"thousands separators", "1,234", "1234"},
        {"plus sign", "+12", "+12"},
        {"rate in brackets", "(-0.57%)", "-0.57"},
        {"Shift_JIS unit after the figure", "12,345\x90\xe7\x8a\x94", "12345"}, // 12,345千株
        {"lone hyphen", "-", "0"},
        {"empty", "", "0"},
        {"letters only", "abc", "0"},
        {"several points stay", "1.2.3", "1.2.3"},
        {"double minus stays", "--5", "--5"},
        {"entity", "&nbsp;", "0"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(ExtractNumeric(row.Text), row.Expected);
    }
}

TEST(StrToInt32, ReadsSignedDecimalsInThirtyTwoBits)
{
    const struct
    {
        const char* Text;
        std::int32_t Expected;
    } rows[] = {{"1234", 1234},
                {"+12", 12},
                {"-85", -85},
                {"0", 0},
                {"2147483647", 2147483647},
                {"-2147483648", INT32_MIN},
                {"0001500", 1500}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Text);
        EXPECT_EQ(StrToInt32(row.Text), row.Expected);
    }
    for (const char* text : {"1234.5", "--5", "+-1", "-", "", "2147483648", "-2147483649",
                             "99999999999999999999", "1+2"})
    {
        SCOPED_TRACE(text);
        EXPECT_THROW(StrToInt32(text), TDataError);
    }
}

TEST(StrToInt64, ReadsVolumesBeyondThirtyTwoBits)
{
    const struct
    {
        const char* Text;
        std::int64_t Expected;
    } rows[] = {{"10000000000", 10000000000},
                {"2147483648", 2147483648},
                {"9223372036854775807", INT64_MAX},
                {"-9223372036854775808", INT64_MIN},
                {"+0", 0}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Text);
        EXPECT_EQ(StrToInt64(row.Text), row.Expected);
    }
    for (const char* text : {"9223372036854775808", "-9223372036854775809", "18446744073709551616",
                             "1.5", "-", ""})
    {
        SCOPED_TRACE(text);
        EXPECT_THROW(StrToInt64(text), TDataError);
    }
}

TEST(StrToFixedPoint, KeepsFourDecimalsRoundingHalvesAwayFromZero)
{
    const struct
    {
        const char* Text;
        std::int64_t Expected;
    } rows[] = {{"-0.57", -5700}, {"+1.23", 12300},   {"12", 120000}, {"0.00005", 1},
                {"-0.00005", -1}, {"0.000049999", 0}, {".5", 5000},   {"3.", 30000}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Text);
        EXPECT_EQ(StrToFixedPoint(row.Text), row.Expected);
    }
    for (const char* text : {"1.2.3", "--5", "-", ".", "", "1e5", "99999999999999999999"})
    {
        SCOPED_TRACE(text);
        EXPECT_THROW(StrToFixedPoint(text), TDataError);
    }
}

TEST(EucToSjisChar, MapsJisX0208CharactersAndLeavesOtherBytes)
{
    const struct
    {
        const char* Name;
        std::uint8_t Lead, Trail;
        std::string Expected;
    } rows[] = {
        {"odd lead, high trail", 0xb3, 0xf4, "\x8a\x94"}, // 株
        {"even lead", 0xa4, 0xa2, "\x82\xa0"},            // あ
        {"ideographic space", 0xa1, 0xa1, "\x81\x40"},
        {"lead from 0xDF up", 0xe0, 0xa1, "\xe0\x9f"},
        {"ASCII lead", 0x41, 0xa1, ""},
        {"half-width kana prefix", 0x8e, 0xb1, ""},
        {"lead 0xFF", 0xff, 0xa1, ""},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(EucToSjisChar(row.Lead, row.Trail), row.Expected);
    }
}

TEST(EucToSjisText, ConvertsOnlyItsStretch)
{
    std::string text = "x\xa4\xa2\x02\xb3\xf4<b>\xa4\xa2";
    int events = 0;
    EucToSjisText(text, 1, 6, [&] { ++events; });
    EXPECT_EQ(text, "x\x82\xa0\x02\x8a\x94<b>\xa4\xa2");
    EXPECT_EQ(events, 4); // positions examined: two characters, the 0x02 and "<"

    std::string cut = "ab\xa4"; // a lead byte with no trail before the end stays
    EucToSjisText(cut, 0, 1000, {});
    EXPECT_EQ(cut, "ab\xa4");
    EucToSjisText(cut, 10, 1000, {}); // a stretch beyond the text does nothing
    EXPECT_EQ(cut, "ab\xa4");
}

// Lower-casing byte by byte turned the trail byte 0x4C of KI (0x83 0x4C) into 0x6C, so
// "KIYANON" in katakana came out with a small YA, and "ASAHI" (0x83 0x41 ...) with other kana.
TEST(LowerAsciiShiftJis, LowersOnlySingleByteCapitals)
{
    const struct
    {
        const char* Name;
        std::string Text;
        std::string Expected;
    } rows[] = {
        {"tags", "<TD Class=X>", "<td class=x>"},
        {"katakana KIYANON", "\x83\x4c\x83\x84\x83\x6d\x83\x93",
         "\x83\x4c\x83\x84\x83\x6d\x83\x93"},
        {"katakana ASAHI then a capital", "\x83\x41\x83\x54\x83\x71X", "\x83\x41\x83\x54\x83\x71x"},
        {"half-width kana is single", "\xb1Z", "\xb1z"},
        {"lead byte at the end", "A\x83", "a\x83"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(LowerAsciiShiftJis(row.Text), row.Expected);
    }
    EXPECT_EQ(LowerAscii("<TR>\xa5\xad"), "<tr>\xa5\xad");
}

// Every byte value at every place within a word and in the tail lowers as byte by byte would.
TEST(LowerAscii, LowersEveryCapitalAndNoOtherByteWhereverItStands)
{
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    for (std::size_t skip = 0; skip < 9; ++skip)
        for (const std::size_t length : {std::size_t{0}, std::size_t{7}, std::size_t{8}, std::size_t{9}, all.size() - skip})
        {
            const std::string text = all.substr(skip, length) + all.substr(0, skip);
            std::string expected = text;
            for (char& c : expected)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
            EXPECT_EQ(LowerAscii(text), expected) << "skip " << skip << ", length " << length;
        }
}

// The walk lowers a window only as far as its search reaches, in growing steps; a pair cut by
// a step's end, or a marker straddling it, must come out as from the whole window at once.
TEST(LoweredWindow, SearchesAndPrefixesAsTheWholeWindowLowered)
{
    const auto wholeLowered = [](std::string_view raw) {
        std::string lowered(raw);
        for (std::size_t i = 0; i < lowered.size(); ++i)
        {
            const auto c = static_cast<unsigned char>(lowered[i]);
            const bool lead = (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc);
            const auto next = i + 1 < lowered.size() ? static_cast<unsigned char>(lowered[i + 1]) : 0;
            if (lead && i + 1 < lowered.size() && ((next >= 0x40 && next <= 0x7e) || (next >= 0x80 && next <= 0xfc)))
                ++i;
            else if (c >= 'A' && c <= 'Z')
                lowered[i] = static_cast<char>(c + 32);
        }
        return lowered;
    };
    const std::string alphabet = "<<>>/TtRrDdBb x\x83\x83\x9f\xe0\xa5";
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 400; ++round)
    {
        std::string raw(next() % 1200, ' ');
        for (char& c : raw)
            c = alphabet[(next() >> 8) % alphabet.size()];
        const std::string expected = wholeLowered(raw);
        for (std::string_view marker : {"<tr", "<td", ">", "</td>", "<b>", "t\x83"})
        {
            SCOPED_TRACE(std::to_string(round) + " " + std::string(marker));
            TLoweredWindow window(raw);
            const std::int64_t at = window.Find(marker);
            ASSERT_EQ(at, FindOffset(expected, marker));
            if (at > 0)
            {
                const auto before = static_cast<std::size_t>(at - 1);
                ASSERT_EQ(window.Prefix(before), expected.substr(0, before));
            }
            ASSERT_EQ(window.Prefix(raw.size()), expected);
        }
    }
}

} // namespace
