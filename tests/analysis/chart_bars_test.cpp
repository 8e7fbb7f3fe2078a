#include "analysis/chart_bars.h"

#include <gtest/gtest.h>

namespace {

TEST(ChartBars, BothCountsAgreeOnContiguousRecords)
{
    TChartBars bars{};
    EXPECT_EQ(FilledBarCount(bars), 0);
    EXPECT_EQ(DrawnBarCount(bars), 0);
    for (int i = 0; i < 30; ++i)
        bars[static_cast<std::size_t>(i)].DateText = "2026/01/05";
    bars[40].ClosePrice = 123; // leftover numbers without a date mean nothing
    EXPECT_EQ(FilledBarCount(bars), 30);
    EXPECT_EQ(DrawnBarCount(bars), 30);
    bars[49].DateText = "2026/12/07";
    EXPECT_EQ(FilledBarCount(bars), 31);
    EXPECT_EQ(DrawnBarCount(bars), 50);
}

THistoryRow Row(std::string date, std::int32_t close)
{
    return {std::move(date), close - 5, close + 10, close - 10, close, close * 10};
}

TEST(CopyHistoryRows, OldestFirstWithoutUndatedRows)
{
    TChartBars bars{};
    for (TChartRec& bar : bars)
    {
        bar.DateText = "2006/12/01";
        bar.ClosePrice = 999;
        bar.AvgShortWeek = 888; // derived fields of the earlier stock
        bar.RsiLongDay = 77;
    }
    ClearChartDates(bars);
    EXPECT_EQ(FilledBarCount(bars), 0);
    EXPECT_EQ(bars[0].ClosePrice, 999); // emptying keeps the numbers

    // Page order: newest first; the undated row is read but never becomes a record.
    const THistoryRows rows = {Row("2007/01/09", 1500), Row("", 1450), Row("2007/01/02", 1400),
                               Row("2006/12/26", 1300)};
    EXPECT_TRUE(CopyHistoryRows(rows, bars));

    const struct
    {
        std::size_t Index;
        const char* Date;
        std::int32_t Close;
    } expected[] = {{0, "2006/12/26", 1300}, {1, "2007/01/02", 1400}, {2, "2007/01/09", 1500}};
    for (const auto& row : expected)
    {
        SCOPED_TRACE(row.Index);
        const TChartRec& bar = bars[row.Index];
        EXPECT_EQ(bar.DateText, row.Date);
        EXPECT_EQ(bar.ClosePrice, row.Close);
        EXPECT_EQ(bar.OpenPrice, row.Close - 5);
        EXPECT_EQ(bar.HighPrice, row.Close + 10);
        EXPECT_EQ(bar.LowPrice, row.Close - 10);
        EXPECT_EQ(bar.Dekidaka, row.Close * 10);
        EXPECT_EQ(bar.AvgShortWeek, 0);
        EXPECT_EQ(bar.RsiLongDay, 0);
    }
    EXPECT_EQ(FilledBarCount(bars), 3);
    EXPECT_EQ(DrawnBarCount(bars), 3);
    EXPECT_EQ(bars[3].ClosePrice, 999); // unused records keep their numbers, without a date
}

TEST(CopyHistoryRows, ReportsWhetherAnyRowWasRead)
{
    TChartBars bars{};
    EXPECT_FALSE(CopyHistoryRows({}, bars));
    EXPECT_TRUE(CopyHistoryRows({Row("", 100)}, bars)); // read, though nothing is dated
    EXPECT_EQ(FilledBarCount(bars), 0);

    THistoryRows full;
    for (int i = 0; i < 50; ++i)
        full.push_back(Row("2007/01/09", 1000 + i));
    EXPECT_TRUE(CopyHistoryRows(full, bars));
    EXPECT_EQ(FilledBarCount(bars), 50);
    EXPECT_EQ(bars[0].ClosePrice, 1049);
    EXPECT_EQ(bars[49].ClosePrice, 1000);
}

} // namespace
