#pragma once

#include "analysis/chart_bars.h"

#include <cstdint>

// The four average/RSI passes: a short and a long window per chart length.
enum class TAverageInstance
{
    ShortWeek, // 7 weeks
    LongWeek,  // 13 weeks
    ShortDay,  // 7 days
    LongDay    // 25 days (its caption says 13, the window is 25)
};

struct TAverageParams
{
    int Period = 0;                                  // window length P
    std::int32_t TChartRec::*AverageField = nullptr; // written from index P - 1
    std::int32_t TChartRec::*RsiField = nullptr;
    bool IsShort = false; // picks the line colours
};

//! Window length and the fields one instance writes.
TAverageParams AverageParams(TAverageInstance instance);

//! Average of window [end - P + 1, end], rounded to whole yen with halves away from zero.
//! Records with an empty date inside the window add nothing; the divisor stays P.
std::int32_t WindowAverage(const TChartBars& bars, int end, int period);

//! RSI 0..99 of the same window, with the gain 1 / loss -1 seeds and truncating divisions.
std::int32_t WindowRsi(const TChartBars& bars, int end, int period);

//! Fills the instance's average and RSI fields for every window that fits in the filled
//! records and returns the newest average; 0 (and nothing written) with fewer than P records.
std::int32_t CalcAverageRsi(TChartBars& bars, TAverageInstance instance);
