#include "data/todays_page.h"
#include "common/service_contract.h"

#include "data/cache_file.h"
#include "data/data_error.h"
#include "data/fetch_ahead.h"
#include "test_pages.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

namespace {

constexpr std::int64_t Price1500 = 1500 * 10000; // fixed-point current price

// The service answers one page's path with `Page` and `Status`, which a test changes.
class TOnePageTest : public TLoopbackServiceTest
{
protected:
    TOnePageTest(std::string path, std::string page) : Path(std::move(path)), Page(std::move(page)) {}

    void AddRoutes(httplib::Server& routes) override
    {
        routes.Get(Path, [this](const httplib::Request&, httplib::Response& response) {
            response.status = Status;
            response.set_content(Page, "text/html");
        });
    }

    std::string Path;
    std::string Page;
    std::atomic<int> Status{200};
};

class LoadKabuQuoteTest : public TOnePageTest
{
protected:
    LoadKabuQuoteTest() : TOnePageTest(QuoteRoute, QuotePage({})) {}
};

TEST_F(LoadKabuQuoteTest, FetchesOncePerDay)
{
    const auto first = LoadKabuQuote("7751.t", {});
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, DefaultQuote());
    ASSERT_EQ(Server.Log().size(), 1u);
    EXPECT_EQ(Server.Log()[0].Target, std::string(QuoteRoute) + "?qt=7751.t&sv=MN&pg=mn_schart.html");
    EXPECT_EQ(ReadFileBytes("dat/k7751.t.00"), Page);

    Page = "changed";
    EXPECT_EQ(LoadKabuQuote("7751.t", {}), first);
    EXPECT_EQ(Server.Log().size(), 1u); // the same day: read from the cache file

    MakeYesterdays("dat/k7751.t.00");
    EXPECT_FALSE(LoadKabuQuote("7751.t", {}).has_value()); // fetched again: "changed" is too short
    EXPECT_EQ(Server.Log().size(), 2u);
    EXPECT_EQ(ReadFileBytes("dat/k7751.t.00"), "changed");
}

TEST_F(LoadKabuQuoteTest, SaysWhyThereIsNoQuoteAndCountsItsPageReads)
{
    const TPageReads start = PageReads();
    const TQuoteRead read = ReadKabuQuote("7751.t", {});
    ASSERT_TRUE(read.Quote.has_value());
    EXPECT_EQ(*read.Quote, DefaultQuote());
    EXPECT_EQ(read.Miss, TQuoteMiss::None);
    EXPECT_EQ(ReadKabuQuote("7751.t", {}).Quote, read.Quote);
    EXPECT_EQ(PageReads().Fetched - start.Fetched, 1);
    EXPECT_EQ(PageReads().FromCache - start.FromCache, 1);

    TQuotePageFields notFound;
    notFound.TitleNoticeEuc = NotFoundEuc;
    const struct
    {
        const char* Name;
        std::string Page;
        TQuoteMiss Miss;
        std::uintmax_t PageBytes;
    } rows[] = {
        {"an empty answer", "", TQuoteMiss::NoAnswer, 0},
        {"a short page", QuotePage({}, 12999), TQuoteMiss::PageSize, 12999},
        {"a long page", QuotePage({}, 45001), TQuoteMiss::PageSize, 45001},
        {"a page as large as may be stored", QuotePage({}, 65536), TQuoteMiss::PageSize, 65536},
        {"a page too large to store", QuotePage({}, 65537), TQuoteMiss::NoAnswer, 0},
        {"the not-found page", QuotePage(notFound), TQuoteMiss::NotFound, 16000},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        Page = row.Page;
        MakeYesterdays("dat/k7751.t.00");
        const TQuoteRead miss = ReadKabuQuote("7751.t", {});
        EXPECT_FALSE(miss.Quote.has_value());
        EXPECT_EQ(miss.Miss, row.Miss);
        EXPECT_EQ(miss.PageBytes, row.PageBytes);
    }

    // An empty file of today, as an answer without a byte used to leave behind.
    WriteFileBytes("dat/k7751.t.00", "");
    EXPECT_EQ(ReadKabuQuote("7751.t", {}).Miss, TQuoteMiss::EmptyPage);

    SetFinanceServiceAddress("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()));
    EXPECT_EQ(ReadKabuQuote("1301.t", {}).Miss, TQuoteMiss::NoAnswer);
    EXPECT_EQ(PageReads().Fetched - start.Fetched, 5)
        << "pages received: not the empty answer, the page too large to keep, nor the closed port";
}

// A 404 or 500 page was cached as today's, so the stock read "no data" for the rest of the
// day and no later lookup asked again, even after the right service was back.
TEST_F(LoadKabuQuoteTest, AnErrorStatusIsNoAnswerAndTheRightAnswerIsFetchedLaterThatDay)
{
    for (const int status : {404, 500})
    {
        SCOPED_TRACE(status);
        Status = status; // with a whole quote page as its body
        EXPECT_EQ(ReadKabuQuote("7751.t", {}).Miss, TQuoteMiss::NoAnswer);
        EXPECT_FALSE(std::filesystem::exists("dat/k7751.t.00"));
    }
    Status = 200;
    EXPECT_EQ(LoadKabuQuote("7751.t", {}), DefaultQuote());
    EXPECT_TRUE(IsCacheFresh("dat/k7751.t.00"));
    EXPECT_EQ(Server.Log().size(), 3u);
}

TEST_F(LoadKabuQuoteTest, KeyWithBlankSuffixIsTrimmedInTheAddressOnly)
{
    ASSERT_TRUE(LoadKabuQuote("7751  ", {}).has_value());
    EXPECT_EQ(Server.Log().at(0).Target, std::string(QuoteRoute) + "?qt=7751&sv=MN&pg=mn_schart.html");
    EXPECT_TRUE(std::filesystem::exists("dat/k7751  .00"));
}

TEST_F(LoadKabuQuoteTest, UnreachableServiceKeepsTheOldCacheFile)
{
    SetFinanceServiceAddress("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()));
    WriteFileBytes("dat/k7751.t.00", Page);
    MakeYesterdays("dat/k7751.t.00");
    int events = 0;

    EXPECT_FALSE(LoadKabuQuote("7751.t", [&] { ++events; }).has_value());
    EXPECT_EQ(events, 2); // before connecting, and after the failed fetch
    EXPECT_EQ(ReadFileBytes("dat/k7751.t.00"), Page);
    EXPECT_FALSE(IsCacheFresh("dat/k7751.t.00"));
}

// The record used to be overwritten field by field, so a figure that failed to convert left
// a quote mixing two stocks behind, which the chart read-out later put on the board.
TEST_F(LoadKabuQuoteTest, ConversionErrorLeavesThePreviousQuote)
{
    TKabuQuote kabuQuote = *LoadKabuQuote("7751.t", {});
    TQuotePageFields broken;
    broken.NameEuc = "\xa5\xa2\xa5\xb5\xa5\xd2";
    broken.Code = "2502";
    broken.Price = "1,234.5";
    Page = QuotePage(broken);

    EXPECT_THROW(kabuQuote = LoadKabuQuote("2502.t", {}).value(), TDataError);
    EXPECT_EQ(kabuQuote, DefaultQuote());
}

TEST_F(LoadKabuQuoteTest, MissingCacheFolderThrows)
{
    std::filesystem::remove_all("dat");
    EXPECT_THROW(LoadKabuQuote("7751.t", {}), TDataError);
}

class LoadHistoryRowsTest : public TOnePageTest
{
protected:
    LoadHistoryRowsTest()
        : TOnePageTest(HistoryRoute, HistoryPage({Cells("2007/01/09", "1,500", "1,490", "1,510", "1,480", "7,000")}))
    {}
};

TEST_F(LoadHistoryRowsTest, FetchesEachPeriodOncePerDay)
{
    int events = 0;
    EXPECT_EQ(LoadHistoryRows("1301  ", TChartPeriod::Weekly, Price1500, [&] { ++events; }).size(), 1u);
    EXPECT_GE(events, 5); // connect, chunk, after the fetch, row, after the rows
    const auto log = Server.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].Target, HistoryUrl("", "1301", TChartPeriod::Weekly, TodayLocal()));
    EXPECT_EQ(ReadFileBytes("dat/k1301  .02"), Page);

    EXPECT_EQ(LoadHistoryRows("1301  ", TChartPeriod::Weekly, Price1500, {}).size(), 1u);
    EXPECT_EQ(Server.Log().size(), 1u); // the same day: from the cache file

    EXPECT_EQ(LoadHistoryRows("1301  ", TChartPeriod::Daily, Price1500, {}).size(), 1u);
    ASSERT_EQ(Server.Log().size(), 2u); // the daily history has a file of its own
    EXPECT_NE(Server.Log()[1].Target.find("&k=d"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists("dat/k1301  .01"));

    MakeYesterdays("dat/k1301  .02");
    LoadHistoryRows("1301  ", TChartPeriod::Weekly, Price1500, {});
    EXPECT_EQ(Server.Log().size(), 3u);
}

TEST_F(LoadHistoryRowsTest, FailedFetchOnALaterDayGivesNoRowsAndKeepsTheFile)
{
    const std::string yesterdays = HistoryPage({Cells("2007/01/05", "1,400", "1,390", "1,410", "1,380", "6,000")});
    WriteFileBytes("dat/k1301.t.02", yesterdays);
    MakeYesterdays("dat/k1301.t.02");
    Status = 500; // with a whole history page as its body
    EXPECT_TRUE(LoadHistoryRows("1301.t", TChartPeriod::Weekly, Price1500, {}).empty());
    EXPECT_EQ(ReadFileBytes("dat/k1301.t.02"), yesterdays);

    SetFinanceServiceAddress("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()));
    EXPECT_TRUE(LoadHistoryRows("1301.t", TChartPeriod::Weekly, Price1500, {}).empty());
    EXPECT_EQ(ReadFileBytes("dat/k1301.t.02"), yesterdays);
    EXPECT_FALSE(IsCacheFresh("dat/k1301.t.02"));
}

TEST_F(LoadHistoryRowsTest, AnotherStocksPageGivesNoRows)
{
    Page = HistoryPage({Cells("2007/01/09", "1,500", "1,490", "1,510", "1,480", "7,000")}, 16000, false,
                       "\xa5\xad\xa5\xe4\xa5\xce\xa5\xf3\xa1\xca"
                       "7203"
                       "\xa1\xcb"); // キヤノン（7203）
    EXPECT_TRUE(LoadHistoryRows("7751.t", TChartPeriod::Weekly, Price1500, {}).empty());
    EXPECT_EQ(LoadHistoryRows("7203.t", TChartPeriod::Weekly, Price1500, {}).size(), 1u);
}

TEST_F(LoadHistoryRowsTest, UnreadableCacheFileThrows)
{
    std::filesystem::create_directory("dat/k1301.t.02"); // fresh by its date, but no file to read
    EXPECT_THROW(LoadHistoryRows("1301.t", TChartPeriod::Weekly, Price1500, {}), TDataError);
}

// The chart chain's source of today's pages, with a run's pages fetched ahead or not: each
// page is asked for once, and the chain reads what it would read without the source.
class TodaysPagesTest : public TLoopbackServiceTest
{
protected:
    void AddRoutes(httplib::Server& routes) override
    {
        routes.Get(QuoteRoute, [](const httplib::Request& request, httplib::Response& response) {
            TQuotePageFields fields;
            fields.Code = request.get_param_value("qt").substr(0, 4);
            response.set_content(QuotePage(fields), "text/html");
        });
        routes.Get(HistoryRoute, [](const httplib::Request&, httplib::Response& response) {
            response.set_content(HistoryPage({Cells("2007/01/09", "1,500", "1,490", "1,510", "1,480", "7,000"),
                                              Cells("2007/01/02", "1,400", "1,390", "1,410", "1,380", "6,000")}),
                                 "text/html");
        });
    }
};

TEST_F(TodaysPagesTest, ARunReadsEachPageOnceWithOrWithoutFetchingAhead)
{
    const std::vector<std::string> keys{"6301.t", "6302.t", "6303.t"};
    struct Row
    {
        const char* name;
        int connections;
        bool stopFirst; // the window closes before the chain reads a page
    };
    const Row rows[] = {{"one page after another", 0, false}, {"four fetched ahead", 4, false},
                        {"fetching ahead given up", 4, true}};
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        for (const std::string& key : keys)
            for (const char* suffix : {".00", ".02"})
                std::filesystem::remove("dat/k" + key + suffix);
        const std::size_t requestsBefore = Server.Log().size();
        SetFetchAheadConnections(row.connections);
        TTodaysPages source;
        source.BeginRun(keys);
        if (row.stopFirst)
            source.StopReadingAhead();
        for (const std::string& key : keys)
        {
            const TQuoteRead quote = source.Quote(key, {}, {});
            ASSERT_TRUE(quote.Quote.has_value()) << key;
            EXPECT_EQ(quote.Quote->KabuNo, key.substr(0, 4));
            const THistoryRows history = source.History(key, TChartPeriod::Weekly, Price1500, {}, {});
            ASSERT_EQ(history.size(), 2u) << key;
            EXPECT_EQ(history[0].DateText, "2007/01/09") << "newest first";
            EXPECT_EQ(history[1].ClosePrice, 1400);
        }
        source.EndRun();
        SetFetchAheadConnections(DefaultFetchAheadConnections);
        const std::vector<TLoopbackServer::TRequest> log = Server.Log();
        std::vector<std::string> targets;
        for (std::size_t i = requestsBefore; i < log.size(); ++i)
            targets.push_back(log[i].Target);
        std::sort(targets.begin(), targets.end());
        EXPECT_EQ(std::adjacent_find(targets.begin(), targets.end()), targets.end()) << "a page asked for twice";
        EXPECT_EQ(targets.size(), 6u);
        // The same day, a second source reads the cache.
        TTodaysPages again;
        EXPECT_TRUE(again.Quote("6302.t", {}, {}).Quote.has_value());
        EXPECT_EQ(Server.Log().size(), log.size());
    }
}

} // namespace
