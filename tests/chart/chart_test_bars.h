#pragma once

#include "analysis/chart_bars.h"

#include <cstdio>
#include <string>

// Weekly dates from 2025/11/03 on, one bar per week, for chart tests.
inline std::string WeekDate(int index)
{
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int year = 2025;
    int month = 11;
    int day = 3 + 7 * index;
    while (day > monthDays[month - 1])
    {
        day -= monthDays[month - 1];
        if (++month == 13)
        {
            month = 1;
            ++year;
        }
    }
    char text[48];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", year, month, day);
    return text;
}

// `count` weekly bars with the same prices: low 1000, high 1195, so a price pane of 195
// pixels has ScaleY exactly 1 and value v lies on row 10 + 1195 - v.
inline TChartBars FlatBars(int count, int open = 1100, int close = 1050)
{
    TChartBars bars{};
    for (int i = 0; i < count; ++i)
    {
        TChartRec& bar = bars[static_cast<std::size_t>(i)];
        bar.DateText = WeekDate(i);
        bar.OpenPrice = open;
        bar.ClosePrice = close;
        bar.HighPrice = 1195;
        bar.LowPrice = 1000;
        bar.Dekidaka = (i + 1) * 1000;
    }
    return bars;
}
