#pragma once

#include <array>
#include <cstdint>
#include <string>

// One period of the chart on show. Prices are whole yen, volumes whole shares.
struct TChartRec
{
    std::string DateText; // "yyyy/mm/dd" as cut from the history page; empty marks an unused record
    std::int32_t OpenPrice = 0;
    std::int32_t HighPrice = 0;
    std::int32_t LowPrice = 0;
    std::int32_t ClosePrice = 0;
    std::int32_t Dekidaka = 0; // traded volume in shares
    std::int32_t AvgShortWeek = 0;
    std::int32_t AvgLongWeek = 0;
    std::int32_t AvgShortDay = 0;
    std::int32_t AvgLongDay = 0;
    std::int32_t RsiShortWeek = 0;
    std::int32_t RsiLongWeek = 0;
    std::int32_t RsiShortDay = 0;
    std::int32_t RsiLongDay = 0;
};

constexpr int MaxChartBars = 50;

// Oldest period at index 0; used records are contiguous from there.
using TChartBars = std::array<TChartRec, MaxChartBars>;

//! Number of records with a non-empty DateText (the analysis passes' count).
int FilledBarCount(const TChartBars& bars);

//! One more than the highest index with a non-empty DateText (the drawing passes' count).
int DrawnBarCount(const TChartBars& bars);
