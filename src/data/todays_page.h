#pragma once

#include "data/chart_source.h"
#include "data/history_page.h"
#include "data/page_events.h"
#include "data/quote_page.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Today's copy of a page: the cache policy between the scrapers and the transport, and the
// loaders that read a stock's pages through it.

class TFetchAhead;

//! Where a loader found today's page.
enum class TPageSource
{
    Cache,    // the cache file was written today and is used as it is
    Fetched,  // fetched into the cache file
    NoAnswer, // a fetch brought nothing; the cache file is as it was
};

//! Today's copy of a page in `cacheFile`: the page `ahead` fetched for a screening run when
//! it did (waited for while under way), else the file when it was written today, else
//! fetched from `url` through GetWebPage. Counted in PageReads: a page fetched ahead counts
//! as fetched when it is read. Throws as GetWebPage does.
TPageSource TodaysPage(const std::string& url, const std::filesystem::path& cacheFile,
                       const TProcessEvents& processEvents, const TCancelled& cancelled = {},
                       TFetchAhead* ahead = nullptr);

//! Page reads by TodaysPage since the program started: pages received from the service (a
//! request that brought nothing is not counted) and pages taken from today's cache.
struct TPageReads
{
    std::int64_t Fetched = 0;
    std::int64_t FromCache = 0;
};
TPageReads PageReads();

//! The quote of `kabuKey`: today's cache file, fetched through GetWebPage when missing or
//! older than today. Empty when there is no usable quote; throws TDataError on a figure
//! that does not convert or a cache file that cannot be written or read.
//! Event points: GetWebPage's (before connecting, after each chunk), then once when the
//! fetch brought nothing, then ParseQuotePage's. `cancelled` gives up a fetch under way.
//! During a screening run `ahead` may be fetching the page already: it is waited for then.
std::optional<TKabuQuote> LoadKabuQuote(std::string_view kabuKey, const TProcessEvents& processEvents,
                                        const TCancelled& cancelled = {}, TFetchAhead* ahead = nullptr);

//! LoadKabuQuote, saying why there is no quote.
TQuoteRead ReadKabuQuote(std::string_view kabuKey, const TProcessEvents& processEvents,
                         const TCancelled& cancelled = {}, TFetchAhead* ahead = nullptr);

//! The history rows of `kabuKey`: today's cache file, fetched through GetWebPage when missing
//! or older than today. No rows when nothing could be fetched, the page holds none, or it is
//! another stock's page (HistoryPageNamesOtherStock).
//! Throws TDataError on a cache file that cannot be written or read, or a cell that does not
//! convert. Event points: GetWebPage's (before connecting, after each chunk), once after the
//! fetch step (also when the cache was fresh), then ParseHistoryPage's. `cancelled` gives up
//! a fetch under way. During a screening run `ahead` may be fetching the page already: it is
//! waited for then.
THistoryRows LoadHistoryRows(std::string_view kabuKey, TChartPeriod period, std::int64_t kabuKa,
                             const TProcessEvents& processEvents, const TCancelled& cancelled = {},
                             TFetchAhead* ahead = nullptr);

//! Today's pages of the finance service: the day's cache file, else a fetch (ReadKabuQuote,
//! LoadHistoryRows). During a screening run the pages of the stocks ahead are fetched while
//! the chain works on one, with FetchAheadConnections() transfers (none when 0).
class TTodaysPages final : public TChartSource
{
public:
    TTodaysPages();
    ~TTodaysPages() override;

    TQuoteRead Quote(const std::string& kabuKey, const TProcessEvents& processEvents,
                     const TCancelled& cancelled) override;
    THistoryRows History(const std::string& kabuKey, TChartPeriod period, std::int64_t kabuKa,
                         const TProcessEvents& processEvents, const TCancelled& cancelled) override;
    void BeginRun(const std::vector<std::string>& kabuKeys) override;
    void StopReadingAhead() override;
    void EndRun() override;

private:
    std::unique_ptr<TFetchAhead> Ahead; // during a run only
};
