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

} // namespace
