#pragma once

#include "market/calendar.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Daily and weekly price bars of one stock: read from a user's CSV, or made up
// deterministically for the sample market.

//! One period. Prices in whole yen, volume in shares; Volume 0 is a day without trades,
//! whose prices mean nothing.
struct TPriceBar
{
    TDate Date;
    std::int64_t Open = 0;
    std::int64_t High = 0;
    std::int64_t Low = 0;
    std::int64_t Close = 0;
    std::int64_t Volume = 0;

    bool operator==(const TPriceBar&) const = default;
};

using TPriceBars = std::vector<TPriceBar>; // oldest first, one bar per date

//! A CSV file that cannot be used; what() names the line.
class TCsvError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

//! Daily bars from CSV text "Date,Open,High,Low,Close,Volume". A header line names the
//! columns (any order, case-insensitive, extra columns ignored); without one the columns
//! are in that order. Dates "yyyy-mm-dd" or "yyyy/mm/dd", none after `latest` when given;
//! prices may carry decimals and are rounded to whole yen; rows with "null" prices are
//! skipped. A day with volume 0 is kept as a day without trades. Throws TCsvError, naming the
//! line, on anything else it cannot read.
TPriceBars ParsePriceCsv(std::string_view text, std::optional<TDate> latest = std::nullopt);

//! The bars as the service's own CSV, "Date,Open,High,Low,Close,Volume" with "yyyy-mm-dd".
std::string PriceCsvText(const TPriceBars& bars);

//! The made-up history of `code` for every synthetic trading day in [first, last]. A day's
//! figures depend only on the code and the date, not on the range asked for.
TPriceBars SyntheticBars(int code, TDate first, TDate last);

//! The bars dated within [first, last] that have trades.
TPriceBars TradedBarsInRange(const TPriceBars& days, TDate first, TDate last);

//! The traded days a quote page looks at, newest first: the quote's, the previous close's and
//! the rest of the five recent days with the close before the oldest.
constexpr std::size_t QuoteTradedDays = 7;

//! The first day of every synthetic history, whatever range is asked for.
constexpr TDate SyntheticOrigin{2000, 1, 4};

//! Monday-to-Friday weeks of traded days: open of the first day, highest high, lowest low,
//! close of the last day, summed volume, dated by the first trading day of the week.
TPriceBars WeeklyBars(const TPriceBars& tradedDays);

//! Calendar months of traded days, made and dated as the weeks are.
TPriceBars MonthlyBars(const TPriceBars& tradedDays);
