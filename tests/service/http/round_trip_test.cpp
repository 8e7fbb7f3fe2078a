// The sample market read back by the program itself: its retrieval, cache files and scrapers
// against the service on loopback give exactly the figures the service meant to serve.

#include "pages/page_writer.h"
#include "service_test_support.h"
#include "market/text_convert.h"
#include "common/service_contract.h"

#include "data/history_page.h"
#include "data/quote_page.h"
#include "data/todays_page.h"
#include "data/web_page.h"

#include <gtest/gtest.h>

namespace {

//! The key the program builds for a stock of the list: markets without a suffix of their own
//! are asked for with two blanks, which the address drops.
std::string ProgramKey(const TStock& stock)
{
    return stock.Code + std::string(MarketOfMasterName(stock.Market)->OpenedSuffix);
}

TKabuQuote ExpectedQuote(const TStock& stock, const TQuoteFigures& figures)
{
    TKabuQuote quote;
    quote.KabuNo = stock.Code;
    quote.KabuName = Utf8ToShiftJis(stock.Name); // the sample names hold no ASCII letters to lower
    quote.KabuKa = figures.Price * FixedPointOne;
    quote.Zenjitsuhi = figures.Change * FixedPointOne;
    quote.ZenjitsuhiRate = figures.RateHundredths * (FixedPointOne / 100);
    quote.OpenPrice = figures.Open * FixedPointOne;
    quote.HighPrice = figures.High * FixedPointOne;
    quote.LowPrice = figures.Low * FixedPointOne;
    quote.Dekidaka = figures.Volume * FixedPointOne;
    quote.Tani = 100 * FixedPointOne; // every quote page states 100株
    quote.KabuTime = figures.Traded ? QuoteTimeText(figures) : "";
    return quote;
}

THistoryRows ExpectedRows(const TStock& stock, bool weekly, TDate today)
{
    const TDate first = AddDays(today, weekly ? -330 : -60);
    THistoryRows rows;
    for (const TPriceBar& bar : HistoryRowsOf(HistoryBars(SampleMarket(), stock, weekly, first, today, today)))
        rows.push_back({FormatDate(bar.Date), static_cast<std::int32_t>(bar.Open), static_cast<std::int32_t>(bar.High),
                        static_cast<std::int32_t>(bar.Low), static_cast<std::int32_t>(bar.Close), bar.Volume});
    return rows;
}

} // namespace

TEST(RoundTrip, EverySampleStockReadsBackExactly)
{
    const std::filesystem::path work = FreshFolder("round_trip");
    std::filesystem::create_directories(work / "dat");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(work);

    TRunningService running(SampleMarket());
    ASSERT_GT(running.Port, 0);
    SetFinanceServiceAddress("http://127.0.0.1:" + std::to_string(running.Port));
    const TDate today = LocalToday(); // the program's addresses and the service both use it

    int checked = 0;
    for (const TStock& stock : SampleMarket().Stocks())
    {
        const std::string key = ProgramKey(stock);
        SCOPED_TRACE("key \"" + key + "\"");
        const std::optional<TKabuQuote> quote = LoadKabuQuote(key, {});
        ASSERT_TRUE(quote.has_value());
        EXPECT_EQ(*quote, ExpectedQuote(stock, QuoteFiguresOf(SampleMarket().QuoteDays(stock, today))));

        const THistoryRows weeks = LoadHistoryRows(key, TChartPeriod::Weekly, quote->KabuKa, {});
        EXPECT_GE(weeks.size(), 45u);
        EXPECT_EQ(weeks, ExpectedRows(stock, true, today));
        const THistoryRows days = LoadHistoryRows(key, TChartPeriod::Daily, quote->KabuKa, {});
        EXPECT_GE(days.size(), 35u);
        EXPECT_EQ(days, ExpectedRows(stock, false, today));
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(SampleMarket().Stocks().size()));

    SetFinanceServiceAddress(LoopbackServiceUrl(DefaultServicePort));
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(work);
}
