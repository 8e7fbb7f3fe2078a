#pragma once

#include "market/price_history.h"
#include "market/stock_master.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The finance service's pages, EUC-JP HTML laid out the way the program's scrapers walk them:
// the title area after the "pagetitle&nabi" mark, the figures after "main contents", the
// "Start FooterWord" mark, and the history table as the third table after "main contents".

constexpr int MaxPageRows = 50;

//! What the quote page shows, taken from the newest day.
struct TQuoteFigures
{
    bool Traded = false; // false: the newest day had no trades and the page shows "-"
    TDate Date;
    std::int64_t Price = 0;
    std::int64_t Change = 0;         // against the previous traded day's close
    std::int64_t RateHundredths = 0; // the change in percent, two decimals, times 100
    std::int64_t Open = 0;
    std::int64_t High = 0;
    std::int64_t Low = 0;
    std::int64_t Volume = 0;
};

//! A stock's texts as the pages print them, EUC-JP: made once per stock, not per page.
struct TStockPageTexts
{
    std::string Name;
    std::string Code;
    std::string Market;
    std::string Sector; // its half-width kana made full-width
};
TStockPageTexts PageTextsOf(const TStock& stock);

//! The quote of the newest of `days` (oldest first, not empty).
TQuoteFigures QuoteFiguresOf(const TPriceBars& days);

//! The quote time as the page prints it: "mm/dd 15:00", the close of the newest day.
std::string QuoteTimeText(const TQuoteFigures& quote);

//! The quote page of a stock; `key` is the stock key as asked for, `days` the days the quote
//! was taken from (oldest first), whose last five traded days the page lists too.
std::string QuotePage(const TStock& stock, std::string_view key, const TQuoteFigures& quote, const TPriceBars& days);
std::string QuotePage(const TStockPageTexts& stock, std::string_view key, const TQuoteFigures& quote,
                      const TPriceBars& days);

//! The history page: the newest MaxPageRows of `bars` (oldest first), newest first. Each of
//! `splits` (ex-dates, oldest first) is a split row "株式分割（併合）" below the rows dated on or
//! after it and above the older ones.
std::string HistoryPage(const TStock& stock, std::string_view key, const TPriceBars& bars, bool weekly, TDate first,
                        TDate last, const std::vector<TDate>& splits = {});
std::string HistoryPage(const TStockPageTexts& stock, std::string_view key, const TPriceBars& bars, bool weekly,
                        TDate first, TDate last, const std::vector<TDate>& splits = {});

//! The page for a stock key the service does not know. Between 13,000 and 14,000 bytes, so the
//! program's quote check finds the not-found text and its history check stops at the size.
std::string NotFoundPage(std::string_view key);

//! The rows the history page holds: the newest MaxPageRows of `bars`, newest first.
TPriceBars HistoryRowsOf(const TPriceBars& bars);
