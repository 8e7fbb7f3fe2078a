#pragma once

#include "common/exact_format.h"
#include "data/quote_page.h"
#include "data/todays_page.h"
#include "screener/screening.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a screening run leaves besides its rows, and the arithmetic over its rows. Texts are
// UTF-8, as the window shows them.

//! A list entry whose quote could not be read, so it was never screened.
struct TSkippedStock
{
    std::string Code;   // the code as screened: four digits, five for 67585
    std::string Market; // the market name of the result list ("東証"); empty for none
    TQuoteMiss Reason = TQuoteMiss::NoAnswer;
    std::uintmax_t PageBytes = 0; // the page's size where one was read
    std::string Name;             // the list file's second field (the name), as text; may be empty
};

enum class TRunEnd
{
    Completed,     // every entry screened
    StoppedAtCode, // a code outside the screened range ended the loop
    WindowClosed,  // the user closed the window
    DataError,     // an error ended the command
    NoPageRead,    // every stock was skipped because no fetch brought a page
    Interrupted,   // a batch run ended by SIGINT or SIGTERM
};

// Stocks whose quote was read but that were not listed, by the first rule that dropped them.
struct TNotListed
{
    int NoPurchase = 0;   // no purchase in the chart's window (and no RSI hit)
    int Over100k = 0;     // the trading unit costs more than 100,000 yen
    int NoNewestSignal = 0; // no buy signal in the newest period
};

struct TRunRecord
{
    std::string Sector; // the sector selector's text
    std::string Date;   // "yyyy/mm/dd", the day of the run
    bool HitsOnly = false;
    bool Under100k = false;
    bool Rsi30 = false;
    int Entries = 0;  // list entries read for the sector
    int Screened = 0; // entries whose quote was read
    std::vector<TSkippedStock> Skipped;
    TNotListed NotListed;
    TPageReads Pages; // page reads of this run
    TRunEnd End = TRunEnd::Completed;
    std::int32_t StopCode = 0; // the code that ended the loop, for StoppedAtCode
    std::string ErrorText;     // for DataError
    bool SampleData = false;   // the service served the synthetic sample market
};

//! NoPageRead in place of a normal end when entries were skipped and none was read because
//! every fetch brought nothing; any other record as it is.
TRunEnd SettledEnd(const TRunRecord& run);

// The back-test outcomes of the listed rows, read from their cells.
struct TOutcomes
{
    int Target = 0; // sold at the target: evaluated ◎, ○, △ or －
    int Stop = 0;   // sold at the stop: evaluated ×
    int Held = 0;   // still held: profit "継続保有"
    std::optional<TDecimal> ClosedWinRate;  // Target / (Target + Stop), 4 decimals
    std::optional<TDecimal> MeanRateClosed; // mean rise rate of closed trades, percent, 2 decimals
    std::optional<TDecimal> MeanReturnClosed; // mean of (sale - purchase) / purchase, percent, 4 decimals
    std::optional<TDecimal> MeanReturnShown;  // the same at 2 decimals, as the summary says it
    std::int64_t ProfitClosed = 0;          // sum of the closed trades' profit per share, yen
};

//! Counts and sums the outcomes of result rows (cells as the list shows them). Rates and
//! profits are read as the board figures are; throws TDataError when one does not convert.
TOutcomes SummariseOutcomes(const std::vector<TResultRow>& rows);

//! "completed", "stopped at code N", "stopped when the window was closed", "no page could
//! be read", "interrupted" or "data error: " and the error's text.
std::string EndedText(const TRunRecord& run);

//! How the run ended, as a sentence for a person (the report's and the log's words).
std::string EndedWords(const TRunRecord& run);

//! A fixed English token for the reason: "no answer", "empty page", "page size", ...
std::string SkipReasonToken(TQuoteMiss reason);

//! The reason in Japanese words, with the page's size where that was the fault.
std::string SkipReasonText(const TSkippedStock& stock);

//! The run and its outcomes in Japanese words, one fact per line, for the report's header
//! and the window's summary box. Lists at most `maxSkipped` skipped stocks by name.
std::string SummaryText(const TRunRecord& run, const std::vector<TResultRow>& rows, std::size_t maxSkipped);
