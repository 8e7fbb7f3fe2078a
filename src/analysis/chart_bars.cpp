#include "analysis/chart_bars.h"

int FilledBarCount(const TChartBars& bars)
{
    int count = 0;
    for (const TChartRec& bar : bars)
        if (!bar.DateText.empty())
            ++count;
    return count;
}

int DrawnBarCount(const TChartBars& bars)
{
    for (int i = MaxChartBars - 1; i >= 0; --i)
        if (!bars[static_cast<std::size_t>(i)].DateText.empty())
            return i + 1;
    return 0;
}

void ClearChartDates(TChartBars& bars)
{
    for (TChartRec& bar : bars)
        bar.DateText.clear();
}

bool CopyHistoryRows(const THistoryRows& rows, TChartBars& bars)
{
    std::size_t next = 0;
    for (auto row = rows.rbegin(); row != rows.rend() && next < bars.size(); ++row)
    {
        if (row->DateText.empty())
            continue;
        TChartRec bar;
        bar.DateText = row->DateText;
        bar.OpenPrice = row->OpenPrice;
        bar.HighPrice = row->HighPrice;
        bar.LowPrice = row->LowPrice;
        bar.ClosePrice = row->ClosePrice;
        bar.Dekidaka = row->Dekidaka;
        bars[next++] = std::move(bar);
    }
    for (; next < bars.size(); ++next)
        bars[next].DateText.clear();
    return !rows.empty();
}
