#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/page_events.h"

// The price history of one stock, cut out of the finance service's history page.

//! One row of the page's history table. Prices in whole yen (32 bits), volume in shares (64
//! bits: a heavily traded stock passes 2^31 shares a week).
struct THistoryRow
{
    std::string DateText; // the first cell as cut, lower-cased; may be empty
    std::int32_t OpenPrice = 0;
    std::int32_t HighPrice = 0;
    std::int32_t LowPrice = 0;
    std::int32_t ClosePrice = 0;
    std::int64_t Dekidaka = 0; // traded volume

    bool operator==(const THistoryRow&) const = default;
};

//! Rows in page order, newest period first; at most MaxHistoryRows.
using THistoryRows = std::vector<THistoryRow>;

constexpr std::size_t MaxHistoryRows = 50;
constexpr std::size_t HistoryPageBuffer = 50001;
constexpr std::size_t MinHistoryPageSize = 14001;

//! Which history a page holds: one row per trading day or per week.
enum class TChartPeriod
{
    Daily,
    Weekly,
};

//! "dat/k" + key + ".02" (weekly) or ".01" (daily); the key goes in unchanged.
std::string HistoryCacheFile(std::string_view kabuKey, TChartPeriod period);

//! The history page's address: 330 (weekly) or 60 (daily) days back from `today` to `today`.
std::string HistoryUrl(std::string_view serviceAddress, std::string_view kabuKey,
                       TChartPeriod period, std::chrono::year_month_day today);

//! Reads the history table of a page given as the cache file's bytes (at most the buffer's
//! 50,001 are looked at). No rows when the page has 14,000 bytes or fewer or carries the
//! not-found notice. `kabuKa` (fixed-point current price) seeds the "-" cells of the first row.
//! Throws TDataError when a cell does not convert or a date cell is neither empty nor
//! "yyyy/mm/dd" in digits. Calls `processEvents` before each row and once after the last.
THistoryRows ParseHistoryPage(std::string_view fileBytes, std::int64_t kabuKa,
                              const TProcessEvents& processEvents);

//! Whether the page's <title> names, in brackets ("（7203）" or "(7203)"), a stock code that is
//! neither the key's code (the part before its ".") nor that code's first four characters,
//! letters compared without regard to case. A title naming no code names no other stock.
bool HistoryPageNamesOtherStock(std::string_view fileBytes, std::string_view kabuKey);
