#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data/page_events.h"

// The current quote of one stock, cut out of the finance service's quote page.

//! Fixed-point: the value times 10,000.
constexpr std::int64_t FixedPointOne = 10000;

struct TKabuQuote
{
    std::string KabuNo;              // stock code of the page's title area, 4 or 5 bytes, letters upper-cased
    std::string KabuName;            // Shift_JIS; ASCII letters lower-cased
    std::int64_t KabuKa = 0;         // current price (kabuka), fixed-point whole yen; 0 when "-"
    std::int64_t Zenjitsuhi = 0;     // change from the previous close, fixed-point whole yen
    std::int64_t ZenjitsuhiRate = 0; // that change in percent, fixed-point, up to 4 decimals
    std::int64_t OpenPrice = 0;
    std::int64_t HighPrice = 0;
    std::int64_t LowPrice = 0;
    std::int64_t Dekidaka = 0; // traded volume, fixed-point whole shares
    std::int64_t Tani = 0;     // shares per trading unit as the page states it (1 to 100,000), else 1
    std::string KabuTime; // "first word, blank, five bytes" as printed; empty when the price is "-"

    bool operator==(const TKabuQuote&) const = default;
};

//! The quote board's texts as Shift_JIS bytes, one per label of the form.
struct TKabuBoardTexts
{
    std::string LabelKabuNo; // "%4s %s" of code and name
    std::string LabelKabuKa; // "%7.0n"
    std::string Label1;      // "%4.0n(%3.2f%%)" of change and rate
    std::string Label2;      // "%7.0n" open
    std::string Label3;      // "%7.0n" high
    std::string Label4;      // "%7.0n" low
    std::string Label5;      // "%10.0n" volume
    std::string LabelTani;   // "%10.0n" unit
    std::string LabelTime;   // "%s" quote time

    bool operator==(const TKabuBoardTexts&) const = default;
};

constexpr std::size_t MinQuotePageSize = 13000;
constexpr std::size_t MaxQuotePageSize = 45000;

//! "dat/k" + key + ".00"; the key goes in unchanged, blanks and all.
std::string QuoteCacheFile(std::string_view kabuKey);

//! The quote page's address for `kabuKey` (blanks trimmed) under `serviceAddress`.
std::string QuoteUrl(std::string_view serviceAddress, std::string_view kabuKey);

//! Reads the quote page of `kabuKey`, given as the whole cache file's bytes. Empty when the
//! page is no quote page (size outside 13,000-45,000 bytes, no footer marker, a not-found or
//! no-trade notice) or names another stock: its code (four characters, and a class digit where
//! the page has one) is not the key's KeyCode (letters compared without regard to case).
//! Throws TDataError when a figure does not convert; a quote is returned only when every
//! field converted. Calls `processEvents` once per byte position of the title-area
//! conversion and once when a page check fails.
std::optional<TKabuQuote> ParseQuotePage(std::string_view fileBytes, std::string_view kabuKey,
                                         const TProcessEvents& processEvents);

//! Why there is no quote: what the loader or the scraper found instead.
enum class TQuoteMiss
{
    None,       // a quote was read
    NoAnswer,   // the fetch brought nothing
    EmptyPage,  // the page has no byte
    PageSize,   // the page is shorter than 13,000 or longer than 45,000 bytes
    NoFooter,   // no footer marker: not a whole quote page
    NotFound,   // the service's notice that it knows no such stock
    NoTrade,    // the notice that no trade was made
    OtherStock, // the page names another stock's code
};

struct TQuoteRead
{
    std::optional<TKabuQuote> Quote;
    TQuoteMiss Miss = TQuoteMiss::None;
    std::uintmax_t PageBytes = 0; // the page's size, also when it was refused for its size
};

//! ParseQuotePage, saying why a page gave no quote.
TQuoteRead ReadQuotePage(std::string_view fileBytes, std::string_view kabuKey,
                         const TProcessEvents& processEvents);

//! The board texts of `quote` as Shift_JIS bytes.
TKabuBoardTexts KabuBoardTexts(const TKabuQuote& quote);
