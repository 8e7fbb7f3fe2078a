#include "data/todays_page.h"

#include "data/cache_file.h"
#include "data/fetch_ahead.h"
#include "data/web_page.h"

#include <atomic>

namespace {

std::atomic<std::int64_t> PagesFetched{0};
std::atomic<std::int64_t> PagesFromCache{0};

} // namespace

TPageSource TodaysPage(const std::string& url, const std::filesystem::path& cacheFile,
                       const TProcessEvents& processEvents, const TCancelled& cancelled, TFetchAhead* ahead)
{
    // A page fetched ahead goes into the cache as the chain reads it: this run fetched it.
    if (AwaitPageAhead(ahead, cacheFile.string(), processEvents, cancelled))
    {
        ++PagesFetched;
        return TPageSource::Fetched;
    }
    if (IsCacheFresh(cacheFile))
    {
        ++PagesFromCache;
        return TPageSource::Cache;
    }
    // Only a page that came counts as fetched: a run where nothing answered reads no page.
    if (GetWebPage(url, cacheFile, processEvents, cancelled) == 0)
        return TPageSource::NoAnswer;
    ++PagesFetched;
    return TPageSource::Fetched;
}

TPageReads PageReads()
{
    return {PagesFetched.load(), PagesFromCache.load()};
}

TQuoteRead ReadKabuQuote(std::string_view kabuKey, const TProcessEvents& processEvents, const TCancelled& cancelled,
                         TFetchAhead* ahead)
{
    const std::string cacheFile = QuoteCacheFile(kabuKey);
    if (TodaysPage(QuoteUrl(FinanceServiceAddress(), kabuKey), cacheFile, processEvents, cancelled, ahead) ==
        TPageSource::NoAnswer)
    {
        if (processEvents)
            processEvents();
        return {std::nullopt, TQuoteMiss::NoAnswer, 0};
    }
    // A page of the wrong size is refused before it is read.
    const std::uintmax_t size = CacheFileSize(cacheFile);
    if (size < MinQuotePageSize || size > MaxQuotePageSize)
        return {std::nullopt, size == 0 ? TQuoteMiss::EmptyPage : TQuoteMiss::PageSize, size};
    return ReadQuotePage(ReadCacheFile(cacheFile, MaxQuotePageSize + 1), kabuKey, processEvents);
}

std::optional<TKabuQuote> LoadKabuQuote(std::string_view kabuKey, const TProcessEvents& processEvents,
                                        const TCancelled& cancelled, TFetchAhead* ahead)
{
    return ReadKabuQuote(kabuKey, processEvents, cancelled, ahead).Quote;
}

THistoryRows LoadHistoryRows(std::string_view kabuKey, TChartPeriod period, std::int64_t kabuKa,
                             const TProcessEvents& processEvents, const TCancelled& cancelled, TFetchAhead* ahead)
{
    const std::string cacheFile = HistoryCacheFile(kabuKey, period);
    const bool present = TodaysPage(HistoryUrl(FinanceServiceAddress(), kabuKey, period, TodayLocal()), cacheFile,
                                    processEvents, cancelled, ahead) != TPageSource::NoAnswer;
    if (processEvents)
        processEvents();
    if (!present)
        return {};
    const std::string bytes = ReadCacheFile(cacheFile, HistoryPageBuffer);
    if (bytes.empty() || HistoryPageNamesOtherStock(bytes, kabuKey))
        return {};
    return ParseHistoryPage(bytes, kabuKa, processEvents);
}

TTodaysPages::TTodaysPages() = default;

TTodaysPages::~TTodaysPages() = default;

TQuoteRead TTodaysPages::Quote(const std::string& kabuKey, const TProcessEvents& processEvents,
                               const TCancelled& cancelled)
{
    return ReadKabuQuote(kabuKey, processEvents, cancelled, Ahead.get());
}

THistoryRows TTodaysPages::History(const std::string& kabuKey, TChartPeriod period, std::int64_t kabuKa,
                                   const TProcessEvents& processEvents, const TCancelled& cancelled)
{
    return LoadHistoryRows(kabuKey, period, kabuKa, processEvents, cancelled, Ahead.get());
}

void TTodaysPages::BeginRun(const std::vector<std::string>& kabuKeys)
{
    Ahead.reset();
    if (FetchAheadConnections() > 0)
        Ahead = std::make_unique<TFetchAhead>(kabuKeys, FetchAheadConnections());
}

void TTodaysPages::StopReadingAhead()
{
    if (Ahead)
        Ahead->Stop();
}

void TTodaysPages::EndRun()
{
    Ahead.reset();
}
