#pragma once

#include "market/calendar.h"

#include <cstdint>
#include <string>
#include <vector>

// Daily figures of one stock as the exchange's data API gives them, before any adjustment:
// the fetch stores these, and pages are made from them with the adjustment applied then, so
// a split announced after a fetch still adjusts the older days.

//! One business day of one stock. Prices are in hundredths of a yen (the source quotes 0.1-yen
//! ticks), volume in shares, turnover in yen.
struct TRawDay
{
    TDate Date;
    bool Traded = false; // false: the source gave null prices and volume (no trades that day)
    std::int64_t Open = 0;
    std::int64_t High = 0;
    std::int64_t Low = 0;
    std::int64_t Close = 0;
    std::int64_t Volume = 0;
    std::int64_t Turnover = 0;
    std::string AdjFactor = "1"; // the source's decimal text, positive: "1", "0.5", "2", "0.9878"

    bool operator==(const TRawDay&) const = default;
};

using TRawDays = std::vector<TRawDay>; // oldest first, one per date

// A data folder that holds real data carries two small files beside stocks.csv:
//   real-data      present once --fetch or --listing wrote the master; one line naming the source.
//                  The service then serves that folder alone and makes up no history.
//   data-version   one line, an opaque token replaced (temp file and rename) by every command
//                  that changes what is served; the serving process reloads when it changes.
constexpr const char* RealDataFileName = "real-data";
constexpr const char* DataVersionFileName = "data-version";
