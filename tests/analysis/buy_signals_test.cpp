#include "analysis/buy_signals.h"

#include <gtest/gtest.h>

#include <cstdio>
#include "data/data_error.h"
#include <string>
#include <vector>

namespace {

std::string DateOf(int index)
{
    char text[48];
    std::snprintf(text, sizeof text, "2025/%02d/%02d", 1 + index / 4 % 12, 1 + 7 * (index % 4));
    return text;
}

// A history whose averages are set by hand in both views, equal (no signal) from index 10.
struct THistory
{
    TChartBars Bars{};

    explicit THistory(int count)
    {
        for (int i = 0; i < count; ++i)
        {
            TChartRec& bar = Bar(i);
            bar.DateText = DateOf(i);
            bar.OpenPrice = bar.ClosePrice = 1000;
            if (i >= 10)
                Averages(i, 1000, 1000);
        }
    }
    TChartRec& Bar(int i) { return Bars[static_cast<std::size_t>(i)]; }
    THistory& Averages(int i, int shortAverage, int longAverage)
    {
        Bar(i).AvgShortWeek = Bar(i).AvgShortDay = shortAverage;
        Bar(i).AvgLongWeek = Bar(i).AvgLongDay = longAverage;
        return *this;
    }
    THistory& Prices(int i, int open, int close)
    {
        Bar(i).OpenPrice = open;
        Bar(i).ClosePrice = close;
        return *this;
    }
};

std::vector<int> MarkerIndexes(const TBuySignalScan& scan)
{
    std::vector<int> indexes;
    for (const TBuySignalMarker& marker : scan.Markers)
        indexes.push_back(marker.Index);
    return indexes;
}

constexpr TChartLength Weekly = TChartLength::Weekly;
constexpr TChartLength Daily = TChartLength::Daily;

TEST(Ratio2, RoundsHalvesUpOnTheExactQuotient)
{
    EXPECT_EQ(Ratio2(905, 1000), 0.91);
    EXPECT_EQ(Ratio2(904, 1000), 0.90);
    EXPECT_EQ(Ratio2(1095, 1000), 1.10); // a binary 1.095 lies below the half
    EXPECT_EQ(Ratio2(1094, 1000), 1.09);
    EXPECT_THROW(Ratio2(1000, 0), TDataError);
}

TEST(FindBuySignals, RisingPointAfterShortNearLong)
{
    struct Row
    {
        const char* name;
        int shortTwoBefore;
        TChartLength length;
        bool fires;
    };
    const Row rows[] = {
        {"weekly 905 / 1000 rounds to 0.91", 905, Weekly, true},
        {"weekly 904 / 1000 is 0.90", 904, Weekly, false},
        {"daily takes the cross alone, 905", 905, Daily, true},
        {"daily takes the cross alone, 904", 904, Daily, true},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        THistory h(20);
        h.Averages(10, row.shortTwoBefore, 1000).Averages(12, 1010, 1000).Prices(13, 1005, 1000);
        h.Prices(10, 1000, 1000); // close not below the long average: no divergence at 10
        TBuySignalResult result;
        const TBuySignalScan scan = FindBuySignals(h.Bars, row.length, result);
        if (!row.fires)
        {
            EXPECT_TRUE(scan.Markers.empty());
            EXPECT_EQ(result.BuyPrice, 0);
            EXPECT_EQ(scan.Verdict, TVerdictColour::Unchanged);
            continue;
        }
        ASSERT_EQ(MarkerIndexes(scan), std::vector<int>{12});
        EXPECT_EQ(scan.Markers[0].Kind, TSignalKind::Rising);
        EXPECT_EQ(scan.Markers[0].ShortAverage, 1010);
        EXPECT_EQ(scan.Markers[0].BuyPrice, 1005);
        EXPECT_EQ(result.BuyDate, DateOf(13)); // bought at the next period's open
        EXPECT_EQ(result.BuyPrice, 1005);
        EXPECT_EQ(result.SignalKind, 0); // the newest period is no signal period
        EXPECT_EQ(scan.Result, 0);
        if (row.length == Weekly)
        {
            EXPECT_EQ(scan.Verdict, TVerdictColour::Black);
            EXPECT_EQ(result.RatioBefore2, 0.91);
            EXPECT_EQ(result.RatioBefore1, 1.00);
            EXPECT_EQ(result.RatioAtSignal, 1.01);
            EXPECT_EQ(result.SignalKindReal, 1.0);
            // The buy period itself is followed: open 1005, close 1000.
            EXPECT_EQ(result.HighAfterBuy, 1005);
            EXPECT_EQ(result.LowAfterBuy, 1000);
            EXPECT_EQ(result.SellDate, DateOf(13));
        }
        else
        {
            EXPECT_EQ(scan.Verdict, TVerdictColour::Unchanged);
            EXPECT_EQ(result.HighAfterBuy, 0);
            EXPECT_EQ(result.LowAfterBuy, 1005);
            EXPECT_EQ(result.SellDate, "");
        }
    }
}

TEST(FindBuySignals, DivergencePoint)
{
    struct Row
    {
        const char* name;
        int longAverage;
        int close;
        int shortTwoBefore;
        TChartLength length;
        bool fires;
    };
    const Row rows[] = {
        {"1095 / 1000 rounds to 1.10", 1095, 1000, 1000, Weekly, true},
        {"1094 / 1000 is 1.09", 1094, 1000, 1000, Weekly, false},
        {"close equal to the long average", 1095, 1095, 1000, Weekly, false},
        {"weekly needs short near long two periods before", 1095, 1000, 904, Weekly, false},
        {"daily does not", 1095, 1000, 904, Daily, true},
        {"daily 1094", 1094, 1000, 1000, Daily, false},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        THistory h(20);
        h.Averages(13, row.shortTwoBefore, 1000).Averages(15, 1000, row.longAverage).Prices(15, 990, row.close);
        h.Prices(16, 1020, 1000);
        TBuySignalResult result;
        const TBuySignalScan scan = FindBuySignals(h.Bars, row.length, result);
        if (!row.fires)
        {
            EXPECT_TRUE(scan.Markers.empty());
            continue;
        }
        ASSERT_EQ(MarkerIndexes(scan), std::vector<int>{15});
        EXPECT_EQ(scan.Markers[0].Kind, TSignalKind::Divergence);
        EXPECT_EQ(result.BuyPrice, 1020);
        EXPECT_EQ(result.BuyDate, DateOf(16));
    }
}

TEST(FindBuySignals, SignalSpacing)
{
    // A divergence at 14, then a cross two or three periods later.
    for (const int gap : {2, 3})
    {
        SCOPED_TRACE(gap);
        THistory h(25);
        h.Averages(14, 1000, 1100);
        if (gap == 3)
            h.Averages(15, 1000, 1100).Prices(15, 1100, 1100); // still below, but no divergence
        h.Averages(14 + gap, 1010, 1000);
        TBuySignalResult result;
        const TBuySignalScan scan = FindBuySignals(h.Bars, Weekly, result);
        EXPECT_EQ(MarkerIndexes(scan), gap == 3 ? std::vector<int>({14, 17}) : std::vector<int>({14}));
    }
    // A lasting divergence signals every fifth period, in both views.
    for (const TChartLength length : {Weekly, Daily})
    {
        THistory h(30);
        for (int i = 10; i < 30; ++i)
            h.Averages(i, 1000, 1100);
        TBuySignalResult result;
        const TBuySignalScan scan = FindBuySignals(h.Bars, length, result);
        EXPECT_EQ(MarkerIndexes(scan), std::vector<int>({12, 17, 22, 27}));
        EXPECT_EQ(result.BuyDate, DateOf(28)); // the latest signal's purchase replaces the others
    }
}

TEST(FindBuySignals, WeeklyBackTest)
{
    struct Row
    {
        const char* name;
        std::vector<std::pair<int, int>> later; // open, close of periods 16, 17, ...
        int highAfterBuy;
        int lowAfterBuy;
        int highWatch;
        int lowWatch;
        int sellIndex;
    };
    const Row rows[] = {
        {"a close of 1100 reaches 110 %", {{1000, 1100}, {1300, 1300}, {800, 800}}, 1100, 1000, 0, -1, 16},
        {"an open of 1101 reaches it after a close of 1099", {{1101, 1099}, {1300, 1300}}, 1101, 1000, 0, -1, 16},
        {"1099 alone does not", {{1000, 1099}}, 1099, 1000, -1, -1, 16},
        {"a close of 900 reaches the stop", {{1000, 900}, {800, 800}, {1300, 1300}}, 1000, 900, -1, 0, 16},
        {"901 does not", {{1000, 901}}, 1000, 901, -1, -1, 16},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        THistory h(16 + static_cast<int>(row.later.size()));
        h.Averages(14, 1000, 1100).Prices(14, 1000, 1000).Prices(15, 1000, 1000);
        int index = 16;
        for (const auto& [open, close] : row.later)
            h.Prices(index++, open, close);
        TBuySignalResult result;
        const TBuySignalScan scan = FindBuySignals(h.Bars, Weekly, result);
        ASSERT_EQ(MarkerIndexes(scan), std::vector<int>{14});
        EXPECT_EQ(result.BuyPrice, 1000);
        EXPECT_EQ(result.HighAfterBuy, row.highAfterBuy);
        EXPECT_EQ(result.LowAfterBuy, row.lowAfterBuy);
        EXPECT_EQ(result.HighWatch, row.highWatch);
        EXPECT_EQ(result.LowWatch, row.lowWatch);
        EXPECT_EQ(result.SellDate, DateOf(row.sellIndex));
    }
}

TEST(FindBuySignals, SignalOnTheNewestPeriodBuysAtItsClose)
{
    struct Row
    {
        const char* name;
        int count;
        TChartLength length;
        TVerdictColour verdict;
    };
    const Row rows[] = {
        {"weekly, newest of 20", 20, Weekly, TVerdictColour::Yellow},
        {"daily, newest of 20", 20, Daily, TVerdictColour::Unchanged},
        {"weekly, slot 49 of a full table", 50, Weekly, TVerdictColour::Yellow},
        {"daily, slot 49 of a full table", 50, Daily, TVerdictColour::Unchanged},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        THistory h(row.count);
        const int newest = row.count - 1;
        // An earlier signal bought at the next open comes first; the newest one wins.
        h.Averages(12, 1000, 1100).Prices(13, 1002, 1000);
        h.Averages(newest, 1000, 1100).Prices(newest, 1010, 990);
        TBuySignalResult result;
        const TBuySignalScan scan = FindBuySignals(h.Bars, row.length, result);
        EXPECT_EQ(MarkerIndexes(scan), std::vector<int>({12, newest}));
        EXPECT_EQ(scan.Markers[0].BuyPrice, 1002);
        EXPECT_EQ(scan.Result, 990);
        EXPECT_EQ(result.BuyPrice, 990);
        EXPECT_EQ(result.BuyDate, DateOf(newest));
        EXPECT_EQ(result.SignalKind, 2);
        EXPECT_EQ(scan.Verdict, row.verdict);
        EXPECT_EQ(result.HighAfterBuy, 0);
        EXPECT_EQ(result.LowAfterBuy, 990);
        EXPECT_EQ(result.HighWatch, -1);
        EXPECT_EQ(result.SellDate, "");
    }
}

TEST(FindBuySignals, StartValuesAndShortHistories)
{
    TBuySignalResult stale;
    stale.BuyDate = stale.SellDate = "2020/01/01";
    stale.BuyPrice = stale.SignalKind = stale.HighAfterBuy = stale.LowAfterBuy = 5;
    stale.HighWatch = stale.LowWatch = 0;
    stale.RatioBefore2 = stale.RatioBefore1 = stale.RatioAtSignal = stale.SignalKindReal = 0.5;

    // 14 weeks with averages from index 12: no period is examined.
    THistory h(14);
    for (int i = 0; i < 12; ++i)
        h.Averages(i, 0, 0);
    h.Averages(13, 1000, 1100);
    TBuySignalResult weekly = stale;
    const TBuySignalScan scan = FindBuySignals(h.Bars, Weekly, weekly);
    EXPECT_TRUE(scan.Markers.empty());
    EXPECT_EQ(scan.Result, 0);
    EXPECT_EQ(weekly.BuyDate, "");
    EXPECT_EQ(weekly.SellDate, "");
    EXPECT_EQ(weekly.BuyPrice, 0);
    EXPECT_EQ(weekly.SignalKind, 0);
    EXPECT_EQ(weekly.HighAfterBuy, 0);
    EXPECT_EQ(weekly.LowAfterBuy, 0);
    EXPECT_EQ(weekly.HighWatch, -1);
    EXPECT_EQ(weekly.LowWatch, -1);
    EXPECT_EQ(weekly.RatioBefore2, 0.0);
    EXPECT_EQ(weekly.SignalKindReal, 0.0);

    // The daily scan leaves the weekly-only figures as the last weekly scan left them.
    TBuySignalResult daily = stale;
    FindBuySignals(h.Bars, Daily, daily);
    EXPECT_EQ(daily.BuyPrice, 0);
    EXPECT_EQ(daily.HighWatch, -1);
    EXPECT_EQ(daily.RatioBefore2, 0.5);
    EXPECT_EQ(daily.RatioBefore1, 0.5);
    EXPECT_EQ(daily.RatioAtSignal, 0.5);
    EXPECT_EQ(daily.SignalKindReal, 0.5);
}

TEST(FindBuySignals, NonPositiveShortAverageIsNoDivergence)
{
    // 200 x 1000 >= 219 x (-5) holds, but a negative average has no 10 % ratio.
    THistory h(20);
    h.Averages(15, -5, 1000).Prices(15, 990, 990);
    TBuySignalResult result;
    EXPECT_TRUE(FindBuySignals(h.Bars, Daily, result).Markers.empty());
}

} // namespace
