#include "data/chart_source.h"

#include "data/fetch_ahead.h"

void TChartSource::BeginRun(const std::vector<std::string>&)
{
}

void TChartSource::StopReadingAhead()
{
}

void TChartSource::EndRun()
{
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
