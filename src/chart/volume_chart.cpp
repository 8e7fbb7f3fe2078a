#include "chart/volume_chart.h"

#include "chart/chart_canvas.h"
#include "chart/period_marks.h"

#include <QPaintDevice>
#include <QPainter>

#include <algorithm>

namespace {

void DrawVolumeGrid(QPainter& painter, const TPaneScale& scale, const TChartPalette& palette)
{
    DrawValueGrid(painter, scale, VolumeGridStep(scale.MaxValue), QStringLiteral("\u5343\u682A"), Text7Point,
                  palette); // 千株
}

} // namespace

void DrawDekidakaData(QPainter& dekidaka, const TChartBars& bars, TPaneScale& chartScale,
                      const std::function<void()>& processEvents, const TChartPalette& palette)
{
    const QPaintDevice* device = dekidaka.device();
    FillRectangle(dekidaka, 0, 0, device->width(), device->height(), palette.PaneBackground);
    TextAt(dekidaka, 3, 1, QStringLiteral("\u51FA\u6765\u9AD8"), Text8Point, palette.Text); // 出来高

    TPaneScale scale = ComputeVolumeScale(bars, device->width(), device->height());
    scale.HalfStep = chartScale.HalfStep; // the price pane's centring stays for later passes
    chartScale = scale;

    if (scale.LastIndex > 0)
    {
        for (int index : MonthStarts(bars))
        {
            const int x = PeriodLeftX(scale, index);
            StyledRectangle(dekidaka, x, scale.Top, x + 1, scale.Bottom, palette.Grid, DotPattern);
        }
        DrawVolumeGrid(dekidaka, scale, palette);
    }
    OutlineRectangle(dekidaka, scale.Left, scale.Top, scale.Right, scale.Bottom, palette.Grid);

    for (int p = 1; p <= MaxChartBars; ++p)
    {
        const TChartRec& bar = bars[static_cast<std::size_t>(p - 1)];
        if (bar.DateText.empty())
            break;
        if (processEvents)
            processEvents();
        const std::int64_t v = RoundRatio(bar.Dekidaka, 1000, 0);
        std::int64_t a = scale.Range - (v - scale.MinValue);
        std::int64_t b = scale.Range;
        if (a > b)
            std::swap(a, b);
        FillRectangle(dekidaka, PeriodLeftX(scale, p - 1), scale.Top + UnitsDy(scale, a),
                      PeriodLeftX(scale, p), scale.Top + UnitsDy(scale, b), palette.Volume);
    }
}
