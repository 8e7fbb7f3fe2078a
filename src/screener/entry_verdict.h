#pragma once

#include "analysis/buy_signals.h"
#include "analysis/chart_bars.h"
#include "analysis/chart_length.h"
#include "screener/screening.h"

#include <cstdint>

// Whether a screened stock gets a row of the result list, from what its chart chain left.

//! The list view's conditions of a run.
struct TEntryConditions
{
    bool HitsOnly = false;  // 条件一致のみ表示: only signals on the newest period
    bool Under100k = false; // 10万円以内の低位株のみ: a trading unit of at most 100,000 yen
    bool Rsi30 = false;     // RSI 30%以下: both RSI lines at 30 or less also list a stock
};

//! What becomes of a screened stock, in the order the tests are made.
enum class TEntryOutcome
{
    Listed,
    NoPurchase,     // neither a purchase in the back-test nor, when asked, the RSI condition
    Over100k,       // a trading unit above 100,000 yen
    NoNewestSignal, // no signal on the newest period
};

struct TEntryVerdict
{
    TEntryOutcome Outcome = TEntryOutcome::NoPurchase;
    THitLevel HitLevel = THitLevel::None; // why the stock is listed, when it is

    bool operator==(const TEntryVerdict&) const = default;
};

//! The verdict on a stock whose chain ran: a purchase in `backTest` lists it; with Rsi30 so
//! does a period, newest first down to index 7, whose two RSI values of `length`'s view are
//! both 30 or less (the hit level then says RSI). Under100k refuses a unit price, board unit
//! times board price, above 100,000 yen; HitsOnly refuses a `signalResult` of 0. Throws
//! TDataError when a board figure the test needs does not convert.
TEntryVerdict EntryVerdict(const TBuySignalResult& backTest, std::int32_t signalResult, const TChartBars& bars,
                           TChartLength length, const TBoardTexts& board, const TEntryConditions& conditions);
