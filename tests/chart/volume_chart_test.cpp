#include "chart/chart_palette.h"
#include "chart/volume_chart.h"

#include "chart/chart_canvas.h"
#include "chart/price_chart.h"
#include "chart_test_bars.h"
#include "image_probe.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <utility>

namespace {

using namespace ChartColour;

struct TVolumeImage
{
    QImage Image{633, 73, QImage::Format_RGB32};
    TPaneScale Scale;
    int EventCalls = 0;
};

struct TPixel
{
    const char* name;
    int x;
    int y;
    QColor colour;
};

void ExpectPixels(const QImage& image, std::initializer_list<TPixel> pixels)
{
    for (const TPixel& pixel : pixels)
    {
        SCOPED_TRACE(pixel.name);
        EXPECT_EQ(PixelAt(image, pixel.x, pixel.y), pixel.colour);
    }
}

TVolumeImage RenderVolume(const TChartBars& bars)
{
    TVolumeImage v;
    v.Image.fill(Qt::green);
    v.Scale.HalfStep = 6; // left by the price pane
    QPainter painter(&v.Image);
    DrawDekidakaData(painter, bars, v.Scale, [&v] { ++v.EventCalls; }, DefaultChartPalette());
    return v;
}

TEST(DrawDekidakaData, BarsStandUnderTheCandles)
{
    // 1 to 50 thousand shares: Range 49, ScaleY 0.87755, feet on row 62.
    const TVolumeImage v = RenderVolume(FlatBars(50));
    EXPECT_EQ(v.EventCalls, 50);
    EXPECT_EQ(v.Scale.HalfStep, 6);
    EXPECT_EQ(v.Scale.StepX, 1166000);
    EXPECT_FALSE(AnyPixel(v.Image, Qt::green));
    ExpectPixels(v.Image, {
        {"smallest volume has no height: frame shows", 45, 62, Purple},
        {"bar 2 starts where candle 1 does", 52, 62, Blue},
        {"bar 25, left column", 320, 50, Blue},
        {"bar 25, top row 20 + round(25 x 0.87755)", 320, 42, Blue},
        {"above bar 25", 321, 41, Black},
        {"bar 25, last column", 331, 50, Blue},
        {"bar 26 touches it", 332, 50, Blue},
        {"bar 50 reaches Top", 611, 20, Blue},
        {"bar 50 covers the frame's right column", 622, 62, Blue},
        {"right edge not painted", 623, 40, Black},
        {"foot row 62 is the last", 300, 63, Black},
    });
    EXPECT_TRUE(AnyPixel(v.Image, 3, 1, 40, 13, White)); // title
    EXPECT_TRUE(AnyPixel(v.Image, 0, 20, 40, 32, White)); // grid label of 45 thousand (step 15)
}

TEST(DrawDekidakaData, EveryColumnMatchesItsCandle)
{
    // Falling candles over the smallest volume (a bar of no height), rising ones over the
    // largest (a full bar): column by column, red above means no bar below.
    TChartBars bars = FlatBars(50);
    for (int k = 0; k < 50; ++k)
    {
        TChartRec& bar = bars[static_cast<std::size_t>(k)];
        if (k % 2 == 1)
            std::swap(bar.OpenPrice, bar.ClosePrice);
        bar.Dekidaka = k % 2 == 1 ? 90000 : 10000;
    }
    QImage chartImage(633, 225, QImage::Format_RGB32);
    QImage rsiImage(633, 121, QImage::Format_RGB32);
    TPaneScale chartScale;
    TPaneScale rsiScale;
    {
        QPainter chart(&chartImage);
        QPainter rsi(&rsiImage);
        DrawChartData(chart, rsi, bars, "7203.t", TChartLength::Weekly, {}, chartScale, rsiScale, {}, DefaultChartPalette());
    }
    const TVolumeImage v = RenderVolume(bars);
    for (int x = 40; x < 623; ++x)
    {
        SCOPED_TRACE(x);
        const bool risingCandle = PixelAt(chartImage, x, 120) == Blue;
        EXPECT_EQ(PixelAt(v.Image, x, 30) == Blue, risingCandle);
    }
}

TEST(DrawDekidakaData, MonthLines)
{
    // Equal volumes give bars of no height except the one larger, so the lines show.
    TChartBars bars = FlatBars(16);
    for (TChartRec& bar : bars)
        bar.Dekidaka = 99000;
    bars[15].Dekidaka = 100000;
    const TVolumeImage v = RenderVolume(bars);
    // November to February: lines at 40, 186, 368 and 514 (the frame covers the first),
    // dotted from Top: rows 20-22, 26-28, ...
    for (const int x : {186, 368, 514})
    {
        SCOPED_TRACE(x);
        EXPECT_EQ(PixelAt(v.Image, x, 26), Purple);
        EXPECT_EQ(PixelAt(v.Image, x, 23), Black);
        EXPECT_EQ(PixelAt(v.Image, x + 1, 26), Black);
    }
    EXPECT_EQ(PixelAt(v.Image, 222, 26), Black); // no line inside December
}

TEST(DrawDekidakaData, ARangeOfOneThousandFillsThePane)
{
    // Regression: the scale was capped at 10.48576 pixels a unit, so with 1,499 and 1,500
    // shares (1 and 2 thousand, Range 1, ScaleY 43) the larger bar ended on row 30 and
    // floated above the frame. Now it stands from Top (20) down to its foot on row 62.
    TChartBars bars = FlatBars(2);
    bars[0].Dekidaka = 1499;
    bars[1].Dekidaka = 1500;
    const TVolumeImage v = RenderVolume(bars);
    EXPECT_EQ(v.Scale.MinValue, 1);
    EXPECT_EQ(v.Scale.MaxValue, 2);
    EXPECT_EQ(v.Scale.ScaleY, 43 * FixedUnit);
    EXPECT_EQ(PixelAt(v.Image, 400, 20), Blue);
    EXPECT_EQ(PixelAt(v.Image, 400, 45), Blue);
    EXPECT_EQ(PixelAt(v.Image, 400, 62), Blue);
    EXPECT_EQ(PixelAt(v.Image, 400, 63), Purple) << "the grid line of 1 thousand, below the bar";
    EXPECT_EQ(PixelAt(v.Image, 400, 19), Black);
    EXPECT_FALSE(AnyPixel(v.Image, 40, 21, 331, 62, Blue)) << "the smaller bar has no height";
}

// "10000千株" in IPA P Gothic at 7 points is 45 pixels wide; written 40 pixels left of the plot
// it ran into the bars. Narrowed, the labels end before the frame and stay legible.
TEST(DrawDekidakaData, GridLabelsEndBeforeThePlot)
{
    struct Row
    {
        const char* name;
        std::int64_t largest; // shares
        int inkFrom;          // the rightmost label ink reaches at least this column
    };
    const Row rows[] = {
        {"three digits", 900000, 20},
        {"five digits: 10000千株", 10000000, 30},
        {"six digits", 250000000, 30},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        TChartBars bars = FlatBars(3);
        bars[2].Dekidaka = row.largest;
        const TVolumeImage v = RenderVolume(bars);
        const int labels = RightmostColumn(v.Image, 0, 14, 633, 73, White);
        EXPECT_LT(labels, 39);
        EXPECT_GE(labels, row.inkFrom);
    }
}

TEST(DrawDekidakaData, FlatVolumesLieOnTop)
{
    TChartBars bars = FlatBars(10);
    for (TChartRec& bar : bars)
        bar.Dekidaka = 7000;
    const TVolumeImage v = RenderVolume(bars);
    EXPECT_EQ(v.Scale.Range, 0);
    EXPECT_EQ(v.Scale.ScaleY, 100 * FixedUnit);
    EXPECT_FALSE(AnyPixel(v.Image, Blue)); // every bar has zero height
}

TEST(DrawDekidakaData, NoPeriodShowsTitleAndFrameOnly)
{
    const TVolumeImage v = RenderVolume(TChartBars{});
    EXPECT_EQ(v.EventCalls, 0);
    EXPECT_EQ(v.Scale.StepX, 0);
    EXPECT_EQ(v.Scale.HalfStep, 6);
    EXPECT_EQ(PixelAt(v.Image, 300, 20), Purple);
    EXPECT_EQ(PixelAt(v.Image, 300, 62), Purple);
    EXPECT_FALSE(AnyPixel(v.Image, 0, 14, 633, 73, White)); // no grid labels
    EXPECT_FALSE(AnyPixel(v.Image, 41, 21, 622, 62, Purple)); // no grid lines
}

// Weekly volumes of a heavily traded stock pass 2^31 shares. With the 5-decimal scale the
// range of 9 million thousand shares gave ScaleY 0: every bar lay flat on Top.
TEST(DrawDekidakaData, VolumesBeyondThirtyTwoBitsStandInThePane)
{
    TChartBars bars = FlatBars(3);
    bars[0].Dekidaka = 1000000000;  // 1,000,000 thousand: Bottom, no height
    bars[1].Dekidaka = 5500000000;  // 4,500,000 of 9,000,000 from the top: round(21.5) = 22
    bars[2].Dekidaka = 10000000000; // Top
    const TVolumeImage v = RenderVolume(bars);
    EXPECT_EQ(v.Scale.Range, 9000000);
    ExpectPixels(v.Image, {
        {"bar 2's top row 20 + 22", 300, 42, Blue},
        {"above bar 2", 300, 41, Black},
        {"bar 2's foot", 300, 62, Blue},
        {"bar 3 reaches Top", 500, 20, Blue},
        {"bar 1 has no height", 100, 50, Black},
    });
}

} // namespace
