#include "market/price_history.h"

#include "service_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace {

TPriceBar Bar(TDate date, std::int64_t open, std::int64_t high, std::int64_t low, std::int64_t close,
              std::int64_t volume)
{
    return {date, open, high, low, close, volume};
}

} // namespace

TEST(ParsePriceCsv, ReadsTheFormsUsersHave)
{
    struct Row
    {
        const char* name;
        const char* text;
        TPriceBars expected;
    };
    const Row rows[] = {
        {"header in another order with an extra column",
         "Date,Open,High,Low,Close,Adj Close,Volume\n2026-12-03,1000,1010,990,1005,1004.2,12000\n",
         {Bar({2026, 12, 3}, 1000, 1010, 990, 1005, 12000)}},
        {"no header, slashes, CR LF, decimals rounded half away from zero",
         "2026/12/01,100.5,101.49,99.5,100.5,1000\r\n",
         {Bar({2026, 12, 1}, 101, 101, 100, 101, 1000)}},
        {"rows sorted by date, null rows skipped, a day without trades kept",
         "Date,Open,High,Low,Close,Volume\n2026-12-02,0,0,0,0,0\n2026-12-03,null,null,null,null,null\n"
         "2026-12-01,50,52,49,51,300\n",
         {Bar({2026, 12, 1}, 50, 52, 49, 51, 300), Bar({2026, 12, 2}, 0, 0, 0, 0, 0)}},
        {"byte order mark and blank lines",
         "\xef\xbb\xbf"
         "date,open,high,low,close,volume\n\n2026-12-01,5,6,4,5,100\n\n",
         {Bar({2026, 12, 1}, 5, 6, 4, 5, 100)}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ParsePriceCsv(row.text), row.expected);
    }
}

TEST(ParsePriceCsv, RefusesWhatItCannotServe)
{
    struct Row
    {
        const char* name;
        const char* text;
    };
    const Row rows[] = {
        {"no such day", "2026-02-30,1,1,1,1,1\n"},
        {"header without volume", "Date,Open,High,Low,Close\n2026-12-01,1,1,1,1\n"},
        {"low above the open", "2026-12-01,100,110,101,105,10\n"},
        {"high below the close", "2026-12-01,100,104,95,105,10\n"},
        {"a low of 0 on a day with trades", "2026-12-01,100,110,0,105,10\n"},
        {"negative figure", "2026-12-01,-5,1,1,1,10\n"},
        {"price beyond 32 bits", "2026-12-01,3000000000,3000000000,3000000000,3000000000,1\n"},
        {"volume beyond the quote's 64-bit fixed point", "2026-12-01,1,1,1,1,922337203685478\n"},
        {"too few fields", "2026-12-01,1,1,1\n"},
        {"the same day twice", "2026-12-01,1,1,1,1,1\n2026-12-01,2,2,2,2,2\n"},
        {"header only", "Date,Open,High,Low,Close,Volume\n"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_THROW(ParsePriceCsv(row.text), TCsvError);
    }
}

TEST(WeeklyBars, AggregatesMondayToFriday)
{
    // 2026/11/23 is a Monday holiday; 2026/11/30 to 12/04 spans the month end.
    const TPriceBars days{
        Bar({2026, 11, 24}, 100, 104, 99, 103, 1000), Bar({2026, 11, 25}, 103, 110, 102, 108, 2000),
        Bar({2026, 11, 26}, 108, 109, 95, 96, 1500),  Bar({2026, 11, 27}, 96, 100, 96, 99, 500),
        Bar({2026, 11, 30}, 99, 101, 97, 100, 700),   Bar({2026, 12, 1}, 100, 120, 100, 118, 3000),
        Bar({2026, 12, 2}, 1, 9999, 1, 9999, 0), // no trades: its figures mean nothing
        Bar({2026, 12, 3}, 118, 119, 110, 111, 800),  Bar({2026, 12, 4}, 111, 115, 108, 114, 600),
    };
    const TPriceBars expected{
        Bar({2026, 11, 24}, 100, 110, 95, 99, 5000),
        Bar({2026, 11, 30}, 99, 120, 97, 114, 5100),
    };
    EXPECT_EQ(WeeklyBars(days), expected);
}

TEST(TradedBarsInRange, HonoursTheRangeDayByDay)
{
    const TPriceBars days{
        Bar({2026, 11, 30}, 99, 101, 97, 100, 700),  Bar({2026, 12, 1}, 100, 120, 100, 118, 3000),
        Bar({2026, 12, 2}, 118, 125, 117, 120, 900), Bar({2026, 12, 3}, 118, 119, 110, 111, 800),
        Bar({2026, 12, 4}, 111, 115, 108, 114, 600), Bar({2026, 12, 7}, 114, 116, 113, 115, 400),
    };
    // A week cut by the start date holds only its days in range, dated by the first of them.
    const TPriceBars weeks = WeeklyBars(TradedBarsInRange(days, {2026, 12, 2}, {2026, 12, 4}));
    EXPECT_EQ(weeks, TPriceBars{Bar({2026, 12, 2}, 118, 125, 108, 114, 2300)});
}

TEST(SyntheticBars, ADayDependsOnlyOnCodeAndDate)
{
    const TPriceBars wide = SyntheticBars(7203, {2025, 1, 1}, {2026, 12, 4});
    const TPriceBars narrow = SyntheticBars(7203, {2026, 3, 2}, {2026, 6, 30});
    ASSERT_FALSE(narrow.empty());
    const auto start =
        std::find_if(wide.begin(), wide.end(), [&](const TPriceBar& bar) { return bar.Date == narrow.front().Date; });
    ASSERT_NE(start, wide.end());
    EXPECT_TRUE(std::equal(narrow.begin(), narrow.end(), start));
    EXPECT_NE(SyntheticBars(7203, {2026, 6, 1}, {2026, 6, 30}), SyntheticBars(6758, {2026, 6, 1}, {2026, 6, 30}));
}

TEST(SyntheticBars, LooksLikeAMarketForEverySampleStock)
{
    // Over the weekly window the program asks for, on a few end dates: sane bars, levels from
    // tens of yen to tens of thousands, and 7- and 13-week averages that cross.
    const TDate ends[] = {{2026, 12, 4}, {2027, 3, 31}, {2027, 9, 17}};
    std::int64_t lowest = std::numeric_limits<std::int64_t>::max();
    std::int64_t highest = 0;
    for (const TDate end : ends)
    {
        for (const TStock& stock : SampleMarket().Stocks())
        {
            SCOPED_TRACE(stock.Code + " to " + FormatDate(end));
            const TPriceBars weeks = WeeklyBars(SyntheticBars(std::stoi(stock.Code), AddDays(end, -330), end));
            ASSERT_GE(weeks.size(), 45u);
            for (const TPriceBar& week : weeks)
            {
                EXPECT_LE(week.Low, std::min(week.Open, week.Close));
                EXPECT_GE(week.High, std::max(week.Open, week.Close));
                EXPECT_GT(week.Low, 0);
                EXPECT_GT(week.Volume, 0);
                EXPECT_LE(week.Volume, std::numeric_limits<std::int32_t>::max());
                lowest = std::min(lowest, week.Close);
                highest = std::max(highest, week.Close);
            }
            int crossings = 0;
            int previousSign = 0;
            for (std::size_t i = 13; i <= weeks.size(); ++i)
            {
                std::int64_t shortSum = 0;
                std::int64_t longSum = 0;
                for (std::size_t j = i - 13; j < i; ++j)
                    longSum += weeks[j].Close;
                for (std::size_t j = i - 7; j < i; ++j)
                    shortSum += weeks[j].Close;
                const std::int64_t difference = shortSum * 13 - longSum * 7;
                const int sign = difference > 0 ? 1 : difference < 0 ? -1 : 0;
                crossings += previousSign != 0 && sign != 0 && sign != previousSign ? 1 : 0;
                previousSign = sign != 0 ? sign : previousSign;
            }
            EXPECT_GE(crossings, 1);
        }
    }
    EXPECT_LT(lowest, 100);
    EXPECT_GT(highest, 10000);
}
