#include "analysis/average_rsi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TChartBars BarsWithCloses(const std::vector<int>& closes)
{
    TChartBars bars{};
    for (std::size_t i = 0; i < closes.size(); ++i)
    {
        bars[i].DateText = "2026/01/" + std::to_string(10 + i % 20);
        bars[i].ClosePrice = closes[i];
    }
    return bars;
}

std::vector<int> Repeat(int close, int count)
{
    return std::vector<int>(static_cast<std::size_t>(count), close);
}

TEST(CalcAverageRsi, WorkedWindows)
{
    struct Row
    {
        const char* name;
        std::vector<int> closes; // exactly one window of the instance
        TAverageInstance instance;
        int average;
        int rsi;
    };
    const std::vector<Row> rows = {
        {"constant closes, 7", Repeat(1000, 7), TAverageInstance::ShortWeek, 1000, 50},
        {"constant closes, 13 (G 769, L 7, t 109)", Repeat(1000, 13), TAverageInstance::LongWeek, 1000, 52},
        {"constant closes, 25", Repeat(1000, 25), TAverageInstance::LongDay, 1000, 50},
        {"rise 70 and fall 30 give 69", {1000, 1000, 1070, 1070, 1040, 1040, 1040}, TAverageInstance::ShortWeek,
         1037, 69},
        {"rise 16 and fall 6 give exactly 70", {1000, 1016, 1016, 1010, 1010, 1010, 1010},
         TAverageInstance::ShortDay, 1010, 70},
        {"sum 7004 rounds up to 1001", {1000, 1000, 1000, 1000, 1000, 1000, 1004}, TAverageInstance::ShortWeek,
         1001, 83},
        {"sum 7003 rounds down to 1000", {1000, 1000, 1000, 1000, 1000, 1003, 1000}, TAverageInstance::ShortDay,
         1000, 50},
        {"a single rise of 100 stops at 99 (t 10306)", {1000, 1000, 1000, 1000, 1000, 1000, 1100},
         TAverageInstance::ShortWeek, 1014, 99},
        {"falls outweighing rises give 0", {1100, 1100, 1100, 1100, 1100, 1100, 1000}, TAverageInstance::ShortWeek,
         1086, 0},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        TChartBars bars = BarsWithCloses(row.closes);
        const TAverageParams params = AverageParams(row.instance);
        const int end = params.Period - 1;
        EXPECT_EQ(CalcAverageRsi(bars, row.instance), row.average);
        EXPECT_EQ(bars[static_cast<std::size_t>(end)].*params.AverageField, row.average);
        EXPECT_EQ(bars[static_cast<std::size_t>(end)].*params.RsiField, row.rsi);
    }
}

TEST(CalcAverageRsi, WindowCountsTheChangeIntoItsFirstRecord)
{
    TChartBars bars = BarsWithCloses({900, 1000, 1000, 1000, 1000, 1000, 1000, 1000});
    EXPECT_EQ(CalcAverageRsi(bars, TAverageInstance::ShortWeek), 1000);
    EXPECT_EQ(bars[6].AvgShortWeek, 986); // 6900 / 7 = 985.7
    EXPECT_EQ(bars[6].RsiShortWeek, 99);
    // Window 1..7 holds only closes of 1000 but still counts the rise from record 0.
    EXPECT_EQ(bars[7].AvgShortWeek, 1000);
    EXPECT_EQ(bars[7].RsiShortWeek, 99);
}

TEST(CalcAverageRsi, WritesOnlyItsFieldsFromItsFirstIndex)
{
    TChartBars bars = BarsWithCloses(Repeat(1200, 30));
    for (TChartRec& bar : bars)
        bar.AvgShortWeek = bar.RsiShortWeek = bar.AvgLongWeek = bar.RsiLongWeek = -7;
    EXPECT_EQ(CalcAverageRsi(bars, TAverageInstance::LongDay), 1200);
    EXPECT_EQ(bars[23].AvgLongDay, 0);
    EXPECT_EQ(bars[23].RsiLongDay, 0);
    EXPECT_EQ(bars[24].AvgLongDay, 1200);
    EXPECT_EQ(bars[29].RsiLongDay, 50);
    EXPECT_EQ(bars[30].AvgLongDay, 0); // unused records are never written
    for (const TChartRec& bar : bars)
    {
        EXPECT_EQ(bar.AvgShortWeek, -7);
        EXPECT_EQ(bar.RsiLongWeek, -7);
        EXPECT_EQ(bar.AvgShortDay, 0);
    }
}

TEST(CalcAverageRsi, TooFewRecordsWriteNothing)
{
    TChartBars bars = BarsWithCloses(Repeat(800, 10));
    bars[40].ClosePrice = 5000; // leftovers past the used records are not data
    EXPECT_EQ(CalcAverageRsi(bars, TAverageInstance::LongWeek), 0);
    for (const TChartRec& bar : bars)
        EXPECT_EQ(bar.AvgLongWeek, 0);
    EXPECT_EQ(CalcAverageRsi(bars, TAverageInstance::ShortWeek), 800);
    EXPECT_EQ(bars[9].AvgShortWeek, 800);
}

TEST(CalcAverageRsi, ExactlyOneWindowUsesOneChangeLess)
{
    // P = 13 with a rise of 12 yen: gain 13, loss -1 -> G 10000, L 7, t 1428, RSI 93.
    std::vector<int> closes = Repeat(1000, 13);
    closes[12] = 1012;
    TChartBars bars = BarsWithCloses(closes);
    EXPECT_EQ(CalcAverageRsi(bars, TAverageInstance::LongWeek), 1001);
    EXPECT_EQ(bars[12].RsiLongWeek, 93);
}

} // namespace
