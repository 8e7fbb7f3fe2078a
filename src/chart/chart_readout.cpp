#include "chart/chart_readout.h"

#include "common/exact_format.h"

std::optional<TReadoutText> ChartReadout(const TChartBars& bars, const TPaneScale& chartScale, int x,
                                         TChartLength length)
{
    const int period = PeriodUnderPointer(chartScale, x);
    if (period < 1 || period > MaxChartBars)
        return std::nullopt;
    const TChartRec& bar = bars[static_cast<std::size_t>(period - 1)];
    if (bar.DateText.empty())
        return std::nullopt;
    const bool weekly = length == TChartLength::Weekly;
    TReadoutText text;
    text.LabelTime = bar.DateText;
    text.Label2 = FormatD(bar.OpenPrice, 6);
    text.Label3 = FormatD(bar.HighPrice, 6);
    text.Label4 = FormatD(bar.LowPrice, 6);
    text.Label5 = FormatD(bar.Dekidaka, 6);
    text.LabelKabuKa = FormatD(bar.ClosePrice, 6);
    text.LabelKaikaShort = FormatD(weekly ? bar.AvgShortWeek : bar.AvgShortDay, 6);
    text.LabelKaikaLong = FormatD(weekly ? bar.AvgLongWeek : bar.AvgLongDay, 6);
    return text;
}
