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
