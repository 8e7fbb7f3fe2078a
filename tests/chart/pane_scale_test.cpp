#include "chart/pane_scale.h"

#include "chart_test_bars.h"

#include <gtest/gtest.h>

#include "data/data_error.h"

namespace {

TEST(ComputePriceScale, StepAndHalfStep)
{
    struct Row
    {
        const char* name;
        int count;
        std::int64_t stepX; // x 100000
        int halfStep;
        int lastIndex;
    };
    const Row rows[] = {
        {"50 periods", 50, 1166000, 6, 50},
        {"30 periods: 19.43333", 30, 1943333, 10, 30},
        {"one period spans the plot", 1, 58300000, 292, 1},
        {"an empty table still has one period", 0, 58300000, 292, 1},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const TPaneScale scale = ComputePriceScale(FlatBars(row.count), 633, 225, {0, 4});
        EXPECT_EQ(scale.StepX, row.stepX);
        EXPECT_EQ(scale.HalfStep, row.halfStep);
        EXPECT_EQ(scale.LastIndex, row.lastIndex);
        EXPECT_EQ(scale.Left, 40);
        EXPECT_EQ(scale.Right, 623);
        EXPECT_EQ(scale.Top, 10);
        EXPECT_EQ(scale.Bottom, 205);
    }
}

TEST(ComputePriceScale, ValueRange)
{
    TChartBars allAt500 = FlatBars(10, 500, 500);
    for (TChartRec& bar : allAt500)
        bar.HighPrice = bar.LowPrice = 500;
    TChartBars leftover = FlatBars(1);
    leftover[0].DateText.clear(); // a failed load keeps record 0's numbers

    struct Row
    {
        const char* name;
        TChartBars bars;
        TDecimal kabuKa;
        std::int64_t minValue;
        std::int64_t maxValue;
        std::int64_t scaleY;
    };
    const Row rows[] = {
        {"low 1000, high 1195", FlatBars(50), {0, 4}, 1000, 1195, 100000},
        {"all at 500 doubles from 0", allAt500, {0, 4}, 0, 1000, 19500},
        {"empty table at start: twice the price plus 20", TChartBars{}, {12345000, 4}, 0, 2489, 7834},
        {"empty table: (0.25 + 10) x 2 = 20.5 rounds up", TChartBars{}, {2500, 4}, 0, 21, 928571},
        {"empty table after a load keeps record 0's range", leftover, {0, 4}, 1000, 1195, 100000},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const TPaneScale scale = ComputePriceScale(row.bars, 633, 225, row.kabuKa);
        EXPECT_EQ(scale.MinValue, row.minValue);
        EXPECT_EQ(scale.MaxValue, row.maxValue);
        EXPECT_EQ(scale.Range, row.maxValue - row.minValue);
        EXPECT_EQ(scale.ScaleY, row.scaleY);
    }
    // 500 lies in the middle: 10 + round(500 x 0.195 = 97.5).
    EXPECT_EQ(ValueY(ComputePriceScale(allAt500, 633, 225, {0, 4}), 500), 108);
    // A current price of -10 leaves no range; the command ends with the data error.
    EXPECT_THROW(ComputePriceScale(TChartBars{}, 633, 225, {-100000, 4}), TDataError);
}

TEST(PaneScale, PixelMapping)
{
    const TPaneScale price = ComputePriceScale(FlatBars(50), 633, 225, {0, 4});
    const TPaneScale rsi = ComputeRsiScale(50, 633, 121);
    EXPECT_EQ(rsi.StepX, 1166000);
    EXPECT_EQ(rsi.ScaleY, 118000);
    EXPECT_EQ(rsi.HalfStep, 0);
    struct Row
    {
        const char* name;
        int actual;
        int expected;
    };
    const Row rows[] = {
        {"left edge of period 0", PeriodLeftX(price, 0), 40},
        {"left edge of period 1 (11.66)", PeriodLeftX(price, 1), 52},
        {"left edge of period 2 (23.32)", PeriodLeftX(price, 2), 63},
        {"right edge of period 49", PeriodLeftX(price, 50), 623},
        {"centre of period 0", PeriodX(price, 0), 46},
        {"centre of period 1 (17.66)", PeriodX(price, 1), 58},
        {"centre of period 49 (577.34)", PeriodX(price, 49), 617},
        {"RSI pane has no half step", PeriodX(rsi, 1), 52},
        {"high on Top", ValueY(price, 1195), 10},
        {"low on Bottom", ValueY(price, 1000), 205},
        {"RSI 70", ValueY(rsi, 70), 1 + 35},  // 30 x 1.18 = 35.4
        {"RSI 50", ValueY(rsi, 50), 1 + 59},
        {"RSI 30 (82.6)", ValueY(rsi, 30), 1 + 83},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.actual, row.expected);
    }
}

TEST(PaneScale, HalfPixelsRoundAwayFromZero)
{
    TPaneScale scale;
    scale.Left = 0;
    scale.StepX = 250000; // 2.5
    scale.Range = 10;
    scale.ScaleY = 50000; // 0.5
    EXPECT_EQ(PeriodLeftX(scale, 1), 3);
    EXPECT_EQ(PeriodLeftX(scale, 3), 8); // 7.5
    EXPECT_EQ(UnitsDy(scale, 1), 1);     // 0.5
    EXPECT_EQ(UnitsDy(scale, -1), -1);
}

TEST(PeriodUnderPointer, FiftyBars)
{
    const TPaneScale scale = ComputePriceScale(FlatBars(50), 633, 225, {0, 4});
    struct Row
    {
        int x;
        int period;
    };
    const Row rows[] = {{41, 1}, {40, 1}, {51, 1}, {52, 2}, {622, 50}, {623, 51}, {624, 51}, {39, 0}, {30, 0}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.x);
        EXPECT_EQ(PeriodUnderPointer(scale, row.x), row.period);
    }
    EXPECT_EQ(PeriodUnderPointer(TPaneScale{}, 41), 0); // before any chart
}

TEST(GridSteps, PriceAndVolume)
{
    struct Row
    {
        std::int64_t maxValue;
        std::int64_t price;
        std::int64_t volume;
    };
    const Row rows[] = {
        {120000, 6000, 50000}, {100000, 5000, 50000}, {99999, 1000, 25000}, {10000, 1000, 5000},
        {9999, 500, 2500},     {5000, 500, 1500},     {4999, 200, 1250},    {3456, 200, 1000},
        {3000, 200, 1000},     {2999, 100, 750},      {1000, 100, 500},     {999, 50, 250},
        {500, 50, 150},        {499, 20, 125},        {300, 20, 100},       {299, 10, 75},
        {250, 10, 75},         {100, 10, 50},         {99, 10, 25},         {50, 10, 15},
        {9, 10, 2},            {3, 10, 1},            {0, 10, 1},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.maxValue);
        EXPECT_EQ(PriceGridStep(row.maxValue), row.price);
        EXPECT_EQ(VolumeGridStep(row.maxValue), row.volume);
    }
    EXPECT_EQ(FirstMultiple(1001, 100), 1100);
    EXPECT_EQ(FirstMultiple(-150, 100), -100);
    EXPECT_EQ(FirstMultiple(0, 75), 0);
}

TEST(ComputeVolumeScale, ThousandsOfShares)
{
    TChartBars bars = FlatBars(3);
    bars[0].Dekidaka = 1499; // 1 thousand
    bars[1].Dekidaka = 1500; // 2 thousand
    bars[2].Dekidaka = 2500; // 3 thousand, not 2
    TPaneScale scale = ComputeVolumeScale(bars, 633, 73);
    EXPECT_EQ(scale.MinValue, 1);
    EXPECT_EQ(scale.MaxValue, 3);
    EXPECT_EQ(scale.Range, 2);
    EXPECT_EQ(scale.ScaleY, 2150000); // 43 / 2
    EXPECT_EQ(scale.Top, 20);
    EXPECT_EQ(scale.Bottom, 63);
    EXPECT_EQ(scale.LastIndex, 3);
    EXPECT_EQ(scale.StepX, 19433333);

    scale = ComputeVolumeScale(FlatBars(1), 633, 73);
    EXPECT_EQ(scale.StepX, 58300000);
    EXPECT_EQ(scale.Range, 0);
    EXPECT_EQ(scale.ScaleY, 100 * FixedUnit);
    EXPECT_EQ(ComputeVolumeScale(FlatBars(50), 633, 73).StepX, ComputePriceScale(FlatBars(50), 633, 225, {}).StepX);

    // No period in use: no column width, and the read-out stays idle.
    scale = ComputeVolumeScale(TChartBars{}, 633, 73);
    EXPECT_EQ(scale.LastIndex, 0);
    EXPECT_EQ(scale.StepX, 0);
}

// Volumes beyond 32 bits: the 5-decimal scale of 43 / Range is 0.00000 past 8.6 million
// thousand shares and every bar lay flat. Up to the largest 32-bit volume the rule is kept.
TEST(ComputeVolumeScale, BeyondThirtyTwoBitsTheScaleIsTheExactRatio)
{
    struct Row
    {
        const char* name;
        std::int64_t largest;
        std::int64_t scaleY;
        std::int64_t scaleUnit;
        int halfDy; // the height of half the range
    };
    const Row rows[] = {
        {"2,147,483,647 shares: 43 / 2,147,484 = 0.00002; 1,073,742 x 0.00002", 2147483647, 2, FixedUnit, 21},
        {"2,147,484,500 shares round to 2,147,485 thousand; 1,073,742 x 43 / 2,147,485 = 21.49998", 2147484500,
         43, 2147485, 21},
        {"10,000,000,000 shares: 5,000,000 x 43 / 10,000,000", 10000000000, 43, 10000000, 22},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        TChartBars bars = FlatBars(2);
        bars[0].Dekidaka = 0;
        bars[1].Dekidaka = row.largest;
        const TPaneScale scale = ComputeVolumeScale(bars, 633, 73);
        EXPECT_EQ(scale.ScaleY, row.scaleY);
        EXPECT_EQ(scale.ScaleUnit, row.scaleUnit);
        EXPECT_EQ(UnitsDy(scale, scale.Range), 43);
        EXPECT_EQ(UnitsDy(scale, scale.Range / 2), row.halfDy);
    }
}

} // namespace
