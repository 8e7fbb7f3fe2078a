#include "chart/chart_readout.h"

#include "chart_test_bars.h"

#include <gtest/gtest.h>

namespace {

TEST(ChartReadout, PeriodUnderThePointer)
{
    TChartBars bars = FlatBars(50);
    bars[0] = {"2025/11/03", 1234, 1300, 1200, 1250, 1234567, 1240, 1230, 11, 12, 55, 56, 57, 58};
    bars[1].ClosePrice = 1260;
    const TPaneScale scale = ComputePriceScale(bars, 633, 225, {});

    const auto first = ChartReadout(bars, scale, 41, TChartLength::Weekly);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->LabelTime, "2025/11/03");
    EXPECT_EQ(first->Label1, "");
    EXPECT_EQ(first->Label2, "  1234");
    EXPECT_EQ(first->Label3, "  1300");
    EXPECT_EQ(first->Label4, "  1200");
    EXPECT_EQ(first->Label5, "1234567"); // wider than 6: no separators, no cut
    EXPECT_EQ(first->LabelKabuKa, "  1250");
    EXPECT_EQ(first->LabelKaikaShort, "  1240");
    EXPECT_EQ(first->LabelKaikaLong, "  1230");

    const auto daily = ChartReadout(bars, scale, 41, TChartLength::Daily);
    ASSERT_TRUE(daily.has_value());
    EXPECT_EQ(daily->LabelKaikaShort, "    11");
    EXPECT_EQ(daily->LabelKaikaLong, "    12");

    const auto second = ChartReadout(bars, scale, 52, TChartLength::Weekly);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->LabelKabuKa, "  1260");

    bars[1].Dekidaka = 10000000000; // a heavily traded week, beyond 32 bits
    EXPECT_EQ(ChartReadout(bars, scale, 52, TChartLength::Weekly)->Label5, "10000000000");
}

TEST(ChartReadout, NothingToShowKeepsTheBoard)
{
    const TChartBars full = FlatBars(50);
    const TChartBars thirty = FlatBars(30);
    const TPaneScale fullScale = ComputePriceScale(full, 633, 225, {});
    const TPaneScale thirtyScale = ComputePriceScale(thirty, 633, 225, {});
    struct Row
    {
        const char* name;
        const TChartBars& bars;
        TPaneScale scale;
        int x;
    };
    const Row rows[] = {
        {"right of the plot: period 51", full, fullScale, 624},
        {"left of the plot", full, fullScale, 30},
        {"right of the newest of 30 bars", thirty, thirtyScale, 630},
        {"before any chart", full, TPaneScale{}, 100},
        {"table emptied by a load under way", TChartBars{}, fullScale, 100},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(ChartReadout(row.bars, row.scale, row.x, TChartLength::Weekly).has_value());
    }
    // After the volume pane replaced the scale, the columns are the same.
    TPaneScale volumeScale = ComputeVolumeScale(full, 633, 73);
    EXPECT_EQ(ChartReadout(full, volumeScale, 52, TChartLength::Weekly)->LabelTime, WeekDate(1));
}

} // namespace
