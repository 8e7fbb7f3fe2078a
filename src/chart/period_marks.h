#pragma once

#include "analysis/chart_bars.h"
#include "analysis/chart_length.h"

#include <string>
#include <vector>

// A dotted line at the left edge of a period with its label under the price plot.
struct TPeriodMark
{
    int Index = 0;        // 0-based period
    std::string Label;    // month ("11") weekly, "month/day" ("1/5") daily
    std::string YearText; // written under the label, or empty
};

//! Marks of the price chart: weekly at each change of month (the year under January),
//! daily at the first period of the day bands 1-9, 10-19 and 20-29 (the year under 10-19).
//! Throws TDataError when a used record's date is not "yyyy/mm/dd".
std::vector<TPeriodMark> PeriodMarks(const TChartBars& bars, TChartLength length);

//! 0-based periods that start a new month, in both chart lengths (the volume pane's lines).
std::vector<int> MonthStarts(const TChartBars& bars);
