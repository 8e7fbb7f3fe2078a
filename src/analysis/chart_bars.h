#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "data/history_page.h"

// One period of the chart on show. Prices are whole yen, volumes whole shares in 64 bits.
struct TChartRec
{
    std::string DateText; // "yyyy/mm/dd" as cut from the history page; empty marks an unused record
    std::int32_t OpenPrice = 0;
    std::int32_t HighPrice = 0;
    std::int32_t LowPrice = 0;
    std::int32_t ClosePrice = 0;
    std::int64_t Dekidaka = 0; // traded volume in shares
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

//! Empties every DateText and keeps the numbers: the table a load starts from, which
//! readers running meanwhile see as empty.
void ClearChartDates(TChartBars& bars);

//! Copies history rows (page order, newest first) into `bars`, oldest at index 0, dropping
//! rows without a date so the used records stay contiguous. Each copy is a whole record, so
//! every derived field is 0; the records after the last copied one get an empty DateText.
//! True when at least one row was read (ChartCode is then to be set), dated or not.
bool CopyHistoryRows(const THistoryRows& rows, TChartBars& bars);
