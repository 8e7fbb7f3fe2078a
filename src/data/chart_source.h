#pragma once

#include "data/history_page.h"
#include "data/quote_page.h"

#include <cstdint>
#include <string>
#include <vector>

// Where the chart chain reads a stock's figures: its quote and its history, by key and period.
// The window reads today's pages of the finance service (TTodaysPages); a test hands the
// chain a table instead, so the chain's own rules are tested without a service.
class TChartSource
{
public:
    virtual ~TChartSource() = default;

    //! The quote of `kabuKey`, or why there is none. Throws TDataError on a figure that does
    //! not convert. `processEvents` and `cancelled` as the page loaders take them.
    virtual TQuoteRead Quote(const std::string& kabuKey, const TProcessEvents& processEvents,
                             const TCancelled& cancelled) = 0;

    //! The history rows of `kabuKey` for `period`, newest first; `kabuKa` (fixed-point current
    //! price) seeds the "-" cells of the first row. No rows when there is no history. Throws
    //! TDataError on a cell that does not convert.
    virtual THistoryRows History(const std::string& kabuKey, TChartPeriod period, std::int64_t kabuKa,
                                 const TProcessEvents& processEvents, const TCancelled& cancelled) = 0;

    //! A screening run is about to read the quote and the weekly history of `kabuKeys`, in
    //! this order; a source may fetch them ahead until EndRun.
    virtual void BeginRun(const std::vector<std::string>& kabuKeys);

    //! The window is closing: transfers made ahead of the chain are given up now, not when the
    //! run next looks at the closing flag.
    virtual void StopReadingAhead();

    //! The run is over: what was fetched ahead and not read is let go.
    virtual void EndRun();
};
