#include "chart/price_chart.h"

#include "chart/chart_canvas.h"
#include "chart/period_marks.h"
#include "data/stock_code.h"

#include <QPaintDevice>
#include <QPainter>

namespace {

// More grid lines than this cannot fit a pane; only nonsense prices ask for them.
QString Latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void ClearImage(QPainter& painter, const TChartPalette& palette)
{
    const QPaintDevice* device = painter.device();
    FillRectangle(painter, 0, 0, device->width(), device->height(), palette.PaneBackground);
}

void DrawPriceGrid(QPainter& chart, const TPaneScale& scale, const TChartPalette& palette)
{
    DrawValueGrid(chart, scale, PriceGridStep(scale.MaxValue), QStringLiteral("\u5186"), Text8Point, palette); // 円
}

void DrawRsiLevels(QPainter& rsi, const TPaneScale& scale, const TChartPalette& palette)
{
    OutlineRectangle(rsi, scale.Left, scale.Top, scale.Right, scale.Bottom, palette.Grid);
    struct TLevel
    {
        int Units; // distance from the top in RSI points
        std::span<const int> Pattern;
        const char* Label;
    };
    const TLevel levels[] = {
        {70, DotPattern, "30%"}, {50, DashDotDotPattern, "50%"}, {30, DotPattern, "70%"}};
    // "30%" is 23 pixels wide in IPA P Gothic: narrowed, it ends before the frame.
    constexpr int LabelOffset = 20;
    const int stretch = FittingStretch(ChartFont(Text8Point), QStringLiteral("30%"), LabelOffset - 1);
    for (const TLevel& level : levels)
    {
        const int dy = UnitsDy(scale, level.Units);
        StyledRectangle(rsi, scale.Left, scale.Top + dy, scale.Right, scale.Top + dy + 1, palette.Grid,
                        level.Pattern);
        TextAt(rsi, scale.Left - LabelOffset, scale.Top + dy - 4, QString::fromLatin1(level.Label), Text8Point,
               palette.Text, stretch);
    }
}

} // namespace

void DrawChartData(QPainter& chart, QPainter& rsi, const TChartBars& bars, std::string_view chartCode,
                   TChartLength length, TDecimal kabuKa, TPaneScale& chartScale, TPaneScale& rsiScale,
                   const std::function<void()>& processEvents, const TChartPalette& palette)
{
    ClearImage(chart, palette);
    TextAt(chart, 60, 1,
           QStringLiteral("\u9298\u67C4\u30B3\u30FC\u30C9\uFF1A") + Latin1(KeyCode(chartCode)), // 銘柄コード：
           Text8Point, palette.Text);
    ClearImage(rsi, palette);
    TextAt(rsi, 3, 1, QStringLiteral("RSI"), Text8Point, palette.Text);

    const TPaneScale scale =
        ComputePriceScale(bars, chart.device()->width(), chart.device()->height(), kabuKa);
    chartScale = scale;
    rsiScale = ComputeRsiScale(scale.LastIndex, rsi.device()->width(), rsi.device()->height());

    for (const TPeriodMark& mark : PeriodMarks(bars, length))
    {
        const int x = PeriodLeftX(scale, mark.Index);
        StyledRectangle(chart, x, scale.Top, x + 1, scale.Bottom, palette.Grid, DotPattern);
        TextAt(chart, x, scale.Bottom + 1, QString::fromLatin1(mark.Label), Text8Point, palette.Text);
        if (!mark.YearText.empty())
            TextAt(chart, x - 6, scale.Bottom + 9, Latin1(mark.YearText), Text8Point, palette.Text);
    }
    DrawPriceGrid(chart, scale, palette);
    OutlineRectangle(chart, scale.Left, scale.Top, scale.Right, scale.Bottom, palette.Grid);

    for (int k = 0; k < MaxChartBars; ++k)
    {
        const TChartRec& bar = bars[static_cast<std::size_t>(k)];
        if (bar.DateText.empty())
            break;
        if (processEvents)
            processEvents();
        const QColor& colour = bar.OpenPrice > bar.ClosePrice ? palette.CandleDown : palette.CandleUp;
        const int centre = PeriodX(scale, k);
        FillRectangle(chart, centre, ValueY(scale, bar.HighPrice), centre + 1, ValueY(scale, bar.LowPrice),
                      colour);
        FillRectangle(chart, PeriodLeftX(scale, k), ValueY(scale, bar.OpenPrice), PeriodLeftX(scale, k + 1),
                      ValueY(scale, bar.ClosePrice), colour);
    }

    DrawRsiLevels(rsi, rsiScale, palette);
}

void DrawAverageRsiLines(QPainter& chart, QPainter& rsi, const TChartBars& bars, TAverageInstance instance,
                         const TPaneScale& chartScale, const TPaneScale& rsiScale, const TChartPalette& palette)
{
    const TAverageParams params = AverageParams(instance);
    const int filled = FilledBarCount(bars);
    if (filled < params.Period)
        return;
    const QColor& lineColour = params.IsShort ? palette.ShortAverage : palette.LongAverage;
    const QColor& hotColour = params.IsShort ? palette.ShortRsiHot : palette.LongRsiHot;
    QPoint lastAverage;
    QPoint lastRsi;
    for (int e = params.Period - 1; e < filled; ++e)
    {
        const TChartRec& bar = bars[static_cast<std::size_t>(e)];
        const QPoint average(PeriodX(chartScale, e), ValueY(chartScale, bar.*params.AverageField));
        const QPoint strength(PeriodX(rsiScale, e), ValueY(rsiScale, bar.*params.RsiField));
        if (e == params.Period - 1)
        {
            lastAverage = average;
            lastRsi = strength;
        }
        LineSegment(chart, lastAverage.x(), lastAverage.y(), average.x(), average.y(), lineColour);
        LineSegment(rsi, lastRsi.x(), lastRsi.y(), strength.x(), strength.y(),
                    bar.*params.RsiField >= 70 ? hotColour : lineColour);
        lastAverage = average;
        lastRsi = strength;
    }
}

void DrawBuySignalMarkers(QPainter& chart, const TPaneScale& chartScale,
                          const std::vector<TBuySignalMarker>& markers,
                          const std::function<void()>& processEvents, const TChartPalette& palette)
{
    for (const TBuySignalMarker& marker : markers)
    {
        // The marker point relative to the plot corner, 5 pixels up and left to the circle's box.
        const int x0 = PeriodX(chartScale, marker.Index) - chartScale.Left - 5;
        const int y0 = ValueDy(chartScale, marker.ShortAverage) - 5;
        const int left = chartScale.Left + x0;
        const int top = chartScale.Top + y0;
        EllipseOutline(chart, left, top, left + 10, top + 10, palette.SignalMarker);
        const QString caption = marker.Kind == TSignalKind::Rising
                                    ? QStringLiteral("\u4E0A\u6607\u30DD\u30A4\u30F3\u30C8") // 上昇ポイント
                                    : QStringLiteral("\u4E56\u96E2\u30DD\u30A4\u30F3\u30C8"); // 乖離ポイント
        TextAt(chart, left - 40, top + 10, caption, Text8Point, palette.Text);
        if (processEvents)
            processEvents();
        TextAt(chart, left - 20, top + 20,
               QString::fromLatin1(FormatD(marker.BuyPrice)) + QStringLiteral("\u5186"), // 円
               Text8Point, palette.Text);
    }
}
