#pragma once

#include "analysis/buy_signals.h"
#include "analysis/chart_bars.h"
#include "chart/pane_scale.h"
#include "data/quote_page.h"

#include <cstdint>
#include <string>

// What the chart chain leaves behind for one chart: the quote, the bar table, the pane scales
// and the buy-signal results, which the read-out, the screening run and the reports read.
struct TChartState
{
    TKabuQuote KabuQuote;
    TChartBars ChartBars{};
    std::string ChartCode;
    TPaneScale ChartScale; // the price pane's, then the volume pane's after a chain
    TPaneScale RsiScale;
    TBuySignalResult BuySignals; // BuyDate, BuyPrice, ... of the latest scan
    // Why the latest quote pass found no quote, and the size of the page it refused.
    TQuoteMiss QuoteMiss = TQuoteMiss::None;
    std::uintmax_t QuotePageBytes = 0;
};
