#include "chart/chart_palette.h"
#include "chart/price_chart.h"

#include "analysis/average_rsi.h"
#include "chart/chart_canvas.h"
#include "chart_test_bars.h"
#include "image_probe.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace ChartColour;

struct TRendered
{
    QImage Chart{633, 225, QImage::Format_RGB32};
    QImage Rsi{633, 121, QImage::Format_RGB32};
    TPaneScale ChartScale;
    TPaneScale RsiScale;
    int EventCalls = 0;
};

TRendered Render(const TChartBars& bars, TChartLength length, const std::vector<TAverageInstance>& lines = {},
                 std::string_view chartCode = "1301.t")
{
    TRendered r;
    r.Chart.fill(Qt::green); // anything not painted shows
    r.Rsi.fill(Qt::green);
    QPainter chart(&r.Chart);
    QPainter rsi(&r.Rsi);
    TChartBars analysed = bars;
    DrawChartData(
        chart, rsi, analysed, chartCode, length, {0, 4}, r.ChartScale, r.RsiScale,
        [&r, &analysed] {
            // The scale is complete before the first candle, for a read-out running meanwhile.
            EXPECT_EQ(r.ChartScale.StepX,
                      RoundRatio(583, DrawnBarCount(analysed) > 0 ? DrawnBarCount(analysed) : 1, 5));
            ++r.EventCalls;
        },
        DefaultChartPalette());
    for (TAverageInstance line : lines)
    {
        CalcAverageRsi(analysed, line);
        DrawAverageRsiLines(chart, rsi, analysed, line, r.ChartScale, r.RsiScale, DefaultChartPalette());
    }
    return r;
}

// Falling (red) candles at even periods, rising (blue) ones at odd periods.
TChartBars AlternatingBars(int count)
{
    TChartBars bars = FlatBars(count);
    for (int k = 1; k < count; k += 2)
    {
        bars[static_cast<std::size_t>(k)].OpenPrice = 1050;
        bars[static_cast<std::size_t>(k)].ClosePrice = 1100;
    }
    return bars;
}

struct TPixelRow
{
    const char* name;
    int x;
    int y;
    QColor colour;
};

void ExpectPixels(const QImage& image, const std::vector<TPixelRow>& rows)
{
    for (const TPixelRow& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PixelAt(image, row.x, row.y), row.colour) << "at " << row.x << "," << row.y;
    }
}

TEST(DrawChartData, FiftyCandles)
{
    const TRendered r = Render(AlternatingBars(50), TChartLength::Weekly);
    EXPECT_EQ(r.EventCalls, 50);
    EXPECT_FALSE(AnyPixel(r.Chart, Qt::green));
    // Bodies from row 105 (1100) down to 154, above row 155 (1050); period k from 40 + round(k x 11.66).
    ExpectPixels(r.Chart, {
                              {"body 0, left edge", 40, 120, Red},
                              {"body 0, last column", 51, 120, Red},
                              {"body 1 touches it", 52, 120, Blue},
                              {"body 1, last column", 62, 120, Blue},
                              {"body 2", 63, 120, Red},
                              {"body 49", 611, 120, Blue},
                              {"body 49 covers the frame's right column", 622, 120, Blue},
                              {"right edge not painted", 623, 120, Black},
                              {"top row of a body", 41, 105, Red},
                              {"above the body", 41, 104, Black},
                              {"bottom row of a body", 41, 154, Red},
                              {"below the body", 41, 155, Black},
                              {"wick 0 on the high", 46, 10, Red},
                              {"wick 0", 46, 20, Red},
                              {"beside wick 0", 45, 20, Black},
                              {"wick 0 down to the low", 46, 204, Red},
                              {"wick 1", 58, 200, Blue},
                              {"wick 49", 617, 30, Blue},
                              {"frame", 300, 204, Purple},
                          });
    EXPECT_TRUE(AnyPixel(r.Chart, 60, 1, 200, 13, White)); // title
}

// The title took the key's first four characters: a preferred share (25935) was titled with
// the code of the ordinary share.
TEST(DrawChartData, TheTitleNamesTheWholeCodeOfTheKey)
{
    const auto title = [](std::string_view key) {
        return Render(FlatBars(10), TChartLength::Weekly, {}, key).Chart.copy(0, 0, 633, 14);
    };
    EXPECT_EQ(title("25935.t"), title("25935  ")) << "the suffix is no part of the code";
    EXPECT_NE(title("25935.t"), title("2593.t"));
    EXPECT_EQ(title("130A.t"), title("130A  "));
    EXPECT_NE(title("130A.t"), title("130A5.t"));
}

TEST(DrawChartData, OneCandleSpansThePlot)
{
    const TRendered r = Render(FlatBars(1), TChartLength::Weekly);
    EXPECT_EQ(r.EventCalls, 1);
    ExpectPixels(r.Chart, {
                              {"left", 40, 120, Red},
                              {"right", 622, 120, Red},
                              {"past the right edge", 623, 120, Black},
                              {"wick at 40 + 292", 332, 50, Red},
                              {"beside the wick", 331, 50, Black},
                          });
}

TEST(DrawChartData, AllAtOnePriceDrawsNoCandle)
{
    TChartBars bars = FlatBars(50, 500, 500);
    for (TChartRec& bar : bars)
        bar.HighPrice = bar.LowPrice = 500;
    const TRendered r = Render(bars, TChartLength::Weekly);
    EXPECT_EQ(r.ChartScale.MaxValue, 1000);
    // Body and wick span no height, and a rectangle of no height paints nothing.
    EXPECT_FALSE(AnyPixel(r.Chart, Blue));
    EXPECT_FALSE(AnyPixel(r.Chart, Red));
    EXPECT_EQ(PixelAt(r.Chart, 41, 108), Purple); // the 500 grid line, in the middle
}

TEST(DrawChartData, EmptyTableDrawsFrameAndLevelsOnly)
{
    const TRendered r = Render(TChartBars{}, TChartLength::Weekly);
    EXPECT_EQ(r.EventCalls, 0);
    EXPECT_FALSE(AnyPixel(r.Chart, Blue));
    EXPECT_FALSE(AnyPixel(r.Chart, Red));
    EXPECT_EQ(PixelAt(r.Chart, 300, 10), Purple);
    EXPECT_EQ(PixelAt(r.Rsi, 300, 1), Purple);
}

TEST(DrawChartData, HostileRangeDrawsInBoundedTime)
{
    // Regression: the grid visited every whole yen from the lowest low to the highest high,
    // so a page with a low of -2,000,000,000 under a high of 200 (step 10) hung the window
    // for 200 million lines. Now only the multiples are visited, at most 1,000 of them.
    TChartBars bars = FlatBars(5);
    bars[2].LowPrice = -2000000000;
    bars[3].HighPrice = 200;
    for (TChartRec& bar : bars)
        bar.HighPrice = std::min(bar.HighPrice, 200);
    const TRendered r = Render(bars, TChartLength::Weekly, {});
    EXPECT_EQ(r.ChartScale.Range, 2000000200);
    EXPECT_EQ(r.EventCalls, 5);
}

TEST(DrawChartData, SmallPriceRangesFillThePane)
{
    // Regression: the scale was capped at 10.48576 pixels a yen, so a stock trading between
    // 5 and 23 yen was drawn in the top of the pane. Two candles over 5 to 5 + range: a rising
    // one from the low to the high, a falling one from the high down to 6. Two periods of 291.5
    // pixels: the first spans columns 40-331, the second 332-622.
    struct Row
    {
        const char* name;
        int range;
        int firstFoot;  // 10 + round(range x ScaleY): the first body's bottom, not painted
        int secondFoot; // 10 + round((range - 1) x ScaleY)
    };
    const Row rows[] = {
        {"range 1, ScaleY 195", 1, 205, 10},
        {"range 2, ScaleY 97.5: 6 lies on 10 + round(97.5)", 2, 205, 108},
        {"range 18, ScaleY 10.83333: 17 x 10.83333 = 184.16661", 18, 205, 194},
        {"range 19, ScaleY 10.26316: 18 x 10.26316 = 184.73688", 19, 205, 195},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        TChartBars bars = FlatBars(2);
        bars[0].OpenPrice = bars[0].LowPrice = bars[1].LowPrice = 5;
        bars[0].ClosePrice = bars[0].HighPrice = bars[1].HighPrice = bars[1].OpenPrice = 5 + row.range;
        bars[1].ClosePrice = 6;
        const TRendered r = Render(bars, TChartLength::Weekly);
        EXPECT_EQ(r.ChartScale.ScaleY, RoundRatio(195, row.range, 5));
        EXPECT_EQ(PixelAt(r.Chart, 100, row.firstFoot - 1), Blue);
        EXPECT_EQ(PixelAt(r.Chart, 100, row.firstFoot), Black);
        if (row.secondFoot > 11)
        {
            EXPECT_EQ(PixelAt(r.Chart, 400, 11), Red);
            EXPECT_EQ(PixelAt(r.Chart, 400, row.secondFoot - 1), Red);
        }
        EXPECT_EQ(PixelAt(r.Chart, 400, std::max(row.secondFoot, 11)), Black); // row 10 is the frame
        // The second wick runs from the high to the low, on column 40 + round(291.5 + 146); at a
        // range of 1 yen that candle opens and closes at 6, so it is blue.
        EXPECT_EQ(PixelAt(r.Chart, 478, 204), row.range == 1 ? Blue : Red);
    }
}

TEST(DrawChartData, WeeklyMonthMarks)
{
    // November to February: marks at periods 0, 4, 9, 13 of 16 (StepX 36.4375).
    const TRendered r = Render(FlatBars(16), TChartLength::Weekly);
    struct Row
    {
        const char* name;
        int x;
        bool year;
    };
    const Row rows[] = {{"11", 40, false}, {"12", 186, false}, {"1 with the year", 368, true}, {"2", 514, false}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        if (row.x > 40) // the frame covers the first mark
        {
            EXPECT_EQ(PixelAt(r.Chart, row.x, 16), Purple); // dotted: rows 10-12, 16-18, ...
            EXPECT_EQ(PixelAt(r.Chart, row.x, 14), Black);
            EXPECT_EQ(PixelAt(r.Chart, row.x + 1, 16), Black);
        }
        EXPECT_TRUE(AnyPixel(r.Chart, row.x, 206, row.x + 14, 216, White)); // month label
        EXPECT_EQ(AnyPixel(r.Chart, row.x - 6, 218, row.x + 24, 225, White), row.year);
    }
    EXPECT_EQ(PixelAt(r.Chart, 227, 16), Black); // no mark inside December (period 5)
}

TEST(DrawChartData, DailyDayBandMarks)
{
    const char* dates[] = {"2026/01/05", "2026/01/06", "2026/01/07", "2026/01/08", "2026/01/09",
                           "2026/01/13", "2026/01/14", "2026/01/15", "2026/01/16", "2026/01/19",
                           "2026/01/20", "2026/01/21", "2026/01/22", "2026/01/23", "2026/01/26",
                           "2026/01/27", "2026/01/28", "2026/01/29", "2026/01/30", "2026/02/02"};
    TChartBars bars = FlatBars(20);
    for (std::size_t i = 0; i < 20; ++i)
        bars[i].DateText = dates[i];
    const TRendered r = Render(bars, TChartLength::Daily);
    // StepX 29.15: 1/13 at 186, 1/20 at 332, 2/2 at 594; day 30 (565) has none.
    for (const int x : {186, 332, 594})
    {
        SCOPED_TRACE(x);
        EXPECT_EQ(PixelAt(r.Chart, x, 16), Purple);
        EXPECT_TRUE(AnyPixel(r.Chart, x, 206, x + 20, 216, White));
    }
    EXPECT_EQ(PixelAt(r.Chart, 565, 16), Black);
    EXPECT_TRUE(AnyPixel(r.Chart, 180, 218, 210, 225, White));  // year under 1/13
    EXPECT_FALSE(AnyPixel(r.Chart, 326, 218, 356, 225, White)); // none under 1/20
}

TEST(DrawChartData, RsiFrameAndLevels)
{
    const TRendered r = Render(FlatBars(50), TChartLength::Weekly);
    ExpectPixels(r.Rsi, {
                            {"frame top", 300, 1, Purple},
                            {"frame bottom", 300, 118, Purple},
                            {"below the frame", 300, 119, Black},
                            {"frame right", 622, 50, Purple},
                            {"30 % dotted", 41, 84, Purple},
                            {"30 % gap", 43, 84, Black},
                            {"50 % dash", 45, 60, Purple},
                            {"50 % gap", 50, 60, Black},
                            {"50 % dot", 53, 60, Purple},
                            {"70 % dotted", 46, 36, Purple},
                        });
    EXPECT_TRUE(AnyPixel(r.Rsi, 3, 1, 30, 13, White));   // "RSI"
    EXPECT_TRUE(AnyPixel(r.Rsi, 20, 32, 40, 46, White)); // "70%"
}

// IPA P Gothic draws "10000円" 43 pixels wide and "30%" 22: at their places, 40 and 20 pixels
// left of the plot, they ran into its frame. Narrowed, they end before it and stay legible.
TEST(DrawChartData, LabelsLeftOfThePlotEndBeforeIt)
{
    struct Row
    {
        const char* name;
        int low;
        int high;
    };
    const Row rows[] = {
        {"three-digit prices", 100, 300},
        {"five-digit prices", 10000, 12000},
        {"six-digit prices", 100000, 130000},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        TChartBars bars = FlatBars(10, row.low, row.high);
        for (TChartRec& bar : bars)
        {
            bar.LowPrice = row.low;
            bar.HighPrice = row.high;
        }
        const TRendered r = Render(bars, TChartLength::Weekly);
        const int priceLabels = RightmostColumn(r.Chart, 0, 0, 60, 206, White);
        EXPECT_LT(priceLabels, 39);
        EXPECT_GE(priceLabels, 25) << "a label shrunk out of reading";
        const int rsiLabels = RightmostColumn(r.Rsi, 15, 0, 60, 121, White);
        EXPECT_LT(rsiLabels, 39);
        EXPECT_GE(rsiLabels, 33);
    }
}

TEST(DrawAverageRsiLines, LinesOverTheCandles)
{
    // Closes of 1050 average 1050 (row 155) with RSI 50 (row 60).
    const TRendered r = Render(FlatBars(50), TChartLength::Weekly, {TAverageInstance::ShortWeek});
    ExpectPixels(r.Chart, {
                              {"first point, period 6", 116, 155, Yellow},
                              {"middle", 300, 155, Yellow},
                              {"before the last point", 616, 155, Yellow},
                              {"last point left to the wick", 617, 155, Red},
                              {"before period 6", 115, 155, Black},
                          });
    ExpectPixels(r.Rsi, {
                            {"first RSI point", 110, 60, Yellow},
                            {"before the last RSI point", 610, 60, Yellow},
                            {"last RSI point left to the 50 % level", 611, 60, Purple},
                        });
}

TEST(DrawAverageRsiLines, SeventyTurnsTheRsiSegment)
{
    struct Row
    {
        const char* name;
        TAverageInstance instance;
        int rsiBefore;
        int rsiAfter;
        QColor colour;
    };
    const Row rows[] = {
        {"short, 69", TAverageInstance::ShortWeek, 60, 69, Yellow},
        {"short, 70", TAverageInstance::ShortWeek, 60, 70, Olive},
        {"long, 69", TAverageInstance::LongDay, 75, 69, Aqua},
        {"long, 70", TAverageInstance::LongDay, 60, 70, Red},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const TAverageParams params = AverageParams(row.instance);
        TChartBars bars = FlatBars(params.Period + 1);
        bars[static_cast<std::size_t>(params.Period - 1)].*params.RsiField = row.rsiBefore;
        bars[static_cast<std::size_t>(params.Period)].*params.RsiField = row.rsiAfter;
        TRendered r;
        r.Chart.fill(Qt::black);
        r.Rsi.fill(Qt::black);
        {
            QPainter chart(&r.Chart);
            QPainter rsi(&r.Rsi);
            r.RsiScale = ComputeRsiScale(params.Period + 1, 633, 121);
            r.ChartScale = ComputePriceScale(bars, 633, 225, {});
            DrawAverageRsiLines(chart, rsi, bars, row.instance, r.ChartScale, r.RsiScale, DefaultChartPalette());
        }
        const int x = PeriodX(r.RsiScale, params.Period - 1);
        EXPECT_EQ(PixelAt(r.Rsi, x, ValueY(r.RsiScale, row.rsiBefore)), row.colour);
    }
}

TEST(DrawBuySignalMarkers, CircleCaptionAndPrice)
{
    QImage image(633, 225, QImage::Format_RGB32);
    image.fill(Qt::black);
    const TPaneScale scale = ComputePriceScale(FlatBars(50), 633, 225, {});
    // Period 20 of 50 centres on 40 + round(239.2) = 279; 1100 lies on row 105.
    const std::vector<TBuySignalMarker> markers = {{20, TSignalKind::Rising, 1100, 1234}};
    int calls = 0;
    {
        QPainter painter(&image);
        DrawBuySignalMarkers(
            painter, scale, markers,
            [&] {
                ++calls;
                // The caption is out when the window gets its events; the price follows.
                EXPECT_TRUE(AnyPixel(image, 234, 110, 300, 122, White));
                EXPECT_FALSE(AnyPixel(image, 254, 124, 320, 132, White));
            },
            DefaultChartPalette());
    }
    EXPECT_EQ(calls, 1);
    ExpectPixels(image, {
                            {"top of the circle", 279, 100, Silver},
                            {"left of the circle", 274, 105, Silver},
                            {"right of the circle", 283, 105, Silver},
                            {"bottom of the circle", 279, 109, Silver},
                            {"box right edge not painted", 284, 105, Black},
                            {"box bottom edge not painted", 279, 110, Black},
                            {"hollow inside", 279, 105, Black},
                        });
    EXPECT_TRUE(AnyPixel(image, 254, 124, 320, 132, White)); // "1234円"
    EXPECT_FALSE(AnyPixel(image, 0, 0, 230, 225, White));    // nothing left of the caption
}

} // namespace
