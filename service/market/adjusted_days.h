#pragma once

#include "market/raw_days.h"
#include "market/price_history.h"

#include <optional>
#include <string_view>
#include <vector>

// A stock's stored raw days as the pages show them: whole yen and whole shares, each day before
// an ex-date multiplied by that date's adjustment factor (the product of every later ex-date's
// factor), so a split does not show as a crash of the price. Exact decimal arithmetic throughout.

//! A positive decimal factor as mantissa × 10^-Scale.
struct TFactor
{
    __extension__ __int128 Mantissa = 1;
    int Scale = 0;
};

//! The factor of the source's text ("1", "0.5", "2", "0.9878"); nothing unless it is a plain
//! positive decimal.
std::optional<TFactor> ParseFactor(std::string_view text);

struct TServedDays
{
    TPriceBars Days;          // oldest first; a day without trades has Volume 0
    std::vector<TDate> Splits; // the ex-dates (factor other than 1), oldest first
};

//! The days adjusted (or, with `raw`, as stored, only rounded to whole yen). Prices round half
//! up to whole yen, volumes divided by the factor round half up to whole shares. A factor that
//! cannot be read counts as 1 and is counted in `badFactors`.
TServedDays AdjustedDays(const TRawDays& days, bool raw, int& badFactors);
