#include "data/fetch_ahead.h"
#include "common/service_contract.h"

#include "data/cache_file.h"
#include "data/data_error.h"
#include "data/history_page.h"
#include "data/quote_page.h"
#include "data/todays_page.h"
#include "test_pages.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::vector<THistoryCells> Weeks()
{
    std::vector<THistoryCells> rows;
    for (int i = 0; i < 20; ++i)
        rows.push_back({"2026/0" + std::to_string(1 + i / 5) + "/1" + std::to_string(i % 5), std::to_string(1000 + i),
                        "990", "1010", "980", "5000"});
    return rows;
}

std::string QuoteFor(const std::string& code, const std::string& price = "1,234")
{
    TQuotePageFields fields;
    fields.Code = code;
    fields.Price = price;
    return QuotePage(fields);
}

//! Waits, a bounded time, for `condition`; the test then checks what it needs for itself.
template <class TCondition>
void WaitFor(TCondition condition)
{
    for (int i = 0; i < 2000 && !condition(); ++i)
        std::this_thread::sleep_for(5ms);
}

// A gate a server handler waits at until the test opens it, never longer than a bound, and
// noting when the bound ran out, so that a transfer the client should have given up shows.
class TGate
{
public:
    void Open()
    {
        {
            const std::lock_guard lock(Mutex);
            IsOpen = true;
        }
        Opened.notify_all();
    }
    //! False when the bound ran out first.
    bool Wait()
    {
        std::unique_lock lock(Mutex);
        return Opened.wait_for(lock, 20s, [this] { return IsOpen; });
    }

private:
    std::mutex Mutex;
    std::condition_variable Opened;
    bool IsOpen = false;
};

// A small market: 1301, 1303 and 1304 have quotes, 1302 is unknown to the service, 1305's price
// is not a whole number (the chain's scrape raises the data error there).
class FetchAheadTest : public TLoopbackServiceTest
{
protected:
    void TearDown() override
    {
        SetTransferDeadline(120s);
        TLoopbackServiceTest::TearDown();
    }

    void AddRoutes(httplib::Server& routes) override
    {
        routes.set_keep_alive_max_count(1000);
        routes.Get(QuoteRoute, [this](const httplib::Request& request, httplib::Response& response) {
            const std::string code = request.get_param_value("qt").substr(0, 4);
            if (QuoteHandler && QuoteHandler(code, response))
                return;
            TQuotePageFields fields;
            fields.Code = code;
            if (code == "1302")
                fields.TitleNoticeEuc = NotFoundEuc;
            if (code == "1305")
                fields.Price = "1,234.5";
            response.set_content(QuotePage(fields), "text/html");
        });
        routes.Get(HistoryRoute, [](const httplib::Request&, httplib::Response& response) {
            response.set_content(HistoryPage(Weeks()), "text/html");
        });
    }

    //! How many requests asked for a path starting with `prefix`.
    int Requests(const std::string& prefix) const
    {
        const auto log = Server.Log();
        return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const auto& request) {
            return request.Target.rfind(prefix, 0) == 0;
        }));
    }

    static std::string QuotePath(const std::string& key) { return std::string(QuoteRoute) + "?qt=" + key + "&"; }
    static std::string HistoryPath(const std::string& key)
    {
        return std::string(HistoryRoute) + "?sv=MN&qt=" + key + "&";
    }

    // Answers a quote request itself when it returns true.
    std::function<bool(const std::string& code, httplib::Response&)> QuoteHandler;
};

// The chain of one stock as a screening run goes: quote, then the weekly history when there is
// a quote.
std::optional<TKabuQuote> ReadStock(const std::string& key, TFetchAhead* ahead)
{
    std::optional<TKabuQuote> quote = LoadKabuQuote(key, {}, {}, ahead);
    if (quote)
        LoadHistoryRows(key, TChartPeriod::Weekly, quote->KabuKa, {}, {}, ahead);
    return quote;
}

TEST_F(FetchAheadTest, FetchesEachPageTheChainAsksForOnceAndNothingElse)
{
    // 1304's quote is in today's cache already, so only its history is fetched; the keys
    // 1301 and 1304 come twice.
    WriteFileBytes(QuoteCacheFile("1304.t"), QuoteFor("1304"));
    const std::vector<std::string> keys = {"1301.t", "1302.t", "1301.t", "1303.t", "1304.t", "1304.t"};
    TFetchAhead ahead(keys, 3);
    WaitFor([&] { return !ahead.Running(); });
    ASSERT_FALSE(ahead.Running());

    EXPECT_EQ(Requests(QuotePath("1301.t")), 1);
    EXPECT_EQ(Requests(QuotePath("1302.t")), 1);
    EXPECT_EQ(Requests(QuotePath("1303.t")), 1);
    EXPECT_EQ(Requests(QuotePath("1304.t")), 0) << "in today's cache";
    EXPECT_EQ(Requests(HistoryPath("1301.t")), 1);
    EXPECT_EQ(Requests(HistoryPath("1302.t")), 0) << "no quote, so the chain never asks for its history";
    EXPECT_EQ(Requests(HistoryPath("1303.t")), 1);
    EXPECT_EQ(Requests(HistoryPath("1304.t")), 1) << "its cached page is a quote";
    for (const auto& request : Server.Log())
    {
        const auto agent = request.Headers.find("User-Agent");
        ASSERT_NE(agent, request.Headers.end());
        EXPECT_EQ(agent->second, "Microsoft Internet\x81\x40"
                                 "Explorer");
    }
    // The URLs are the chain's own: the history page of today's range.
    const std::string expected = HistoryUrl("", "1303.t", TChartPeriod::Weekly, TodayLocal());
    EXPECT_EQ(Requests(expected), 1) << expected;
    EXPECT_EQ(DatFiles(), std::vector<std::string>{"k1304.t.00"}) << "pages wait until the chain asks";

    // The chain then reads every page from the cache, each fetched page handed over once.
    const int before = static_cast<int>(Server.Log().size());
    int handedOver = 0;
    for (const std::string& key : keys)
    {
        handedOver += ahead.AwaitPage(QuoteCacheFile(key), {}, {});
        ReadStock(key, &ahead);
    }
    EXPECT_EQ(static_cast<int>(Server.Log().size()), before);
    EXPECT_EQ(ReadFileBytes(QuoteCacheFile("1303.t")), QuoteFor("1303"));
    EXPECT_EQ(ReadFileBytes(HistoryCacheFile("1301.t", TChartPeriod::Weekly)), HistoryPage(Weeks()));
    EXPECT_EQ(DatFiles(), (std::vector<std::string>{"k1301.t.00", "k1301.t.02", "k1302.t.00", "k1303.t.00",
                                                   "k1303.t.02", "k1304.t.00", "k1304.t.02"}));
    EXPECT_EQ(handedOver, 3) << "1301, 1302 and 1303 were fetched ahead, each counted once";
}

TEST_F(FetchAheadTest, NothingIsFetchedPastAQuoteThatEndsTheRunAndNothingUnaskedIsKept)
{
    {
        TFetchAhead ahead({"1301.t", "1305.t", "1303.t"}, 1);
        WaitFor([&] { return !ahead.Running(); });
        ASSERT_FALSE(ahead.Running());
        EXPECT_EQ(Requests(QuotePath("1305.t")), 1);
        EXPECT_EQ(Requests(HistoryPath("1305.t")), 0);
        EXPECT_EQ(Requests(QuotePath("1303.t")), 0) << "the run ends at 1305 with the data error";

        EXPECT_TRUE(ReadStock("1301.t", &ahead));
        EXPECT_THROW(ReadStock("1305.t", &ahead), TDataError);
    }
    {
        // The run ends after the first stock: what was fetched for the second goes.
        TFetchAhead ahead({"1303.t", "1304.t"}, 2);
        WaitFor([&] { return !ahead.Running(); });
        EXPECT_TRUE(ReadStock("1303.t", &ahead));
    }
    EXPECT_EQ(Requests(QuotePath("1304.t")), 1);
    EXPECT_EQ(DatFiles(), (std::vector<std::string>{"k1301.t.00", "k1301.t.02", "k1303.t.00", "k1303.t.02",
                                                   "k1305.t.00"}));
}

TEST_F(FetchAheadTest, AFailedFetchLeavesThePageAndItsHistoryToTheChain)
{
    // The first answer for each stock fails; the chain's own request then gets the page.
    std::mutex mutex;
    std::set<std::string> answered;
    QuoteHandler = [&](const std::string& code, httplib::Response& response) {
        {
            const std::lock_guard lock(mutex);
            if (!answered.insert(code).second)
                return false;
        }
        if (code == "1301")
        {
            response.set_content_provider(20000, "text/html", [](std::size_t, std::size_t, httplib::DataSink& sink) {
                sink.write("<html>", 6);
                return false; // breaks off in the middle of the page
            });
            return true;
        }
        if (code == "1304")
        {
            // The whole page, a chunk every 100 ms: 2 s in all, past the transfer's deadline.
            response.set_chunked_content_provider("text/html", [code](std::size_t offset, httplib::DataSink& sink) {
                const std::string page = QuoteFor(code);
                if (offset >= page.size())
                {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(100ms);
                return sink.write(page.data() + offset, std::min<std::size_t>(800, page.size() - offset));
            });
            return true;
        }
        // A whole quote page, but as an error: held and handed over, it would be read as a quote.
        response.status = 500;
        response.set_content(QuoteFor(code), "text/html");
        return true;
    };
    const auto stop = Server.StopBeforeLeaving();
    SetTransferDeadline(1s);
    for (const std::string key : {"1301.t", "1303.t", "1304.t"})
    {
        SCOPED_TRACE(key);
        TFetchAhead ahead({key}, 2);
        WaitFor([&] { return !ahead.Running(); });
        ASSERT_EQ(Requests(QuotePath(key)), 1);
        EXPECT_EQ(Requests(HistoryPath(key)), 0) << "no quote was read ahead";
        EXPECT_FALSE(std::filesystem::exists(QuoteCacheFile(key)));

        const std::optional<TKabuQuote> quote = ReadStock(key, &ahead);
        ASSERT_TRUE(quote);
        EXPECT_EQ(quote->KabuNo, key.substr(0, 4));
        EXPECT_EQ(Requests(QuotePath(key)), 2) << "the chain fetched it itself";
        EXPECT_EQ(Requests(HistoryPath(key)), 1) << "by the chain, once it had the quote";
    }
}

TEST_F(FetchAheadTest, StopGivesUpTransfersUnderWayAndLeavesNoFile)
{
    TGate gate;
    std::atomic<int> waiting{0};
    std::atomic<int> outwaited{0};
    QuoteHandler = [&](const std::string&, httplib::Response& response) {
        response.set_content_provider(20000, "text/html", [&](std::size_t, std::size_t, httplib::DataSink& sink) {
            sink.write("<html>", 6);
            ++waiting;
            outwaited += gate.Wait() ? 0 : 1;
            return false;
        });
        return true;
    };
    const auto stop = Server.StopBeforeLeaving([&] { gate.Open(); });
    TFetchAhead ahead({"1301.t", "1303.t", "1304.t"}, 2);
    WaitFor([&] { return waiting == 2; });
    ASSERT_EQ(waiting, 2) << "two transfers under way";

    ahead.Stop(); // returns before the service lets go of the pages
    EXPECT_FALSE(ahead.Running());
    EXPECT_TRUE(DatFiles().empty());
    gate.Open();
    EXPECT_EQ(outwaited, 0);
    EXPECT_EQ(Requests(QuotePath("1304.t")), 0);

    // What was not fetched is the chain's: it asks for it itself.
    QuoteHandler = nullptr;
    EXPECT_TRUE(ReadStock("1304.t", &ahead));
    EXPECT_EQ(Requests(QuotePath("1304.t")), 1);
}

TEST_F(FetchAheadTest, TheChainWaitsForAPageUnderWayHandlingEventsAndCanGiveUp)
{
    // 1301's page comes in two parts, the second only once the waiting chain handled its
    // events; 1303's never comes whole.
    TGate gate;
    TGate never;
    std::atomic<bool> sent{false};
    std::atomic<bool> settled{false};
    QuoteHandler = [&](const std::string& code, httplib::Response& response) {
        const std::string page = QuoteFor(code);
        if (code == "1303")
        {
            response.set_content_provider(20000, "text/html", [&](std::size_t, std::size_t, httplib::DataSink& sink) {
                sink.write("<html>", 6);
                sent = true;
                never.Wait();
                settled = true;
                return false;
            });
            return true;
        }
        response.set_chunked_content_provider("text/html", [&gate, page](std::size_t offset, httplib::DataSink& sink) {
            if (offset == 0)
            {
                sink.write(page.data(), 100);
                return true;
            }
            if (!gate.Wait())
                return false;
            sink.write(page.data() + offset, page.size() - offset);
            sink.done();
            return true;
        });
        return true;
    };
    // Handlers still waiting when the test ends would wait on gates that are gone.
    const auto stop = Server.StopBeforeLeaving([&] {
        gate.Open();
        never.Open();
    });
    {
        TFetchAhead ahead({"1301.t"}, 1);
        WaitFor([&] { return Requests(QuotePath("1301.t")) == 1; });
        // Without events while waiting, the page would break off at the service's bound and
        // the chain would ask for it again.
        const std::optional<TKabuQuote> quote = LoadKabuQuote("1301.t", [&] { gate.Open(); }, {}, &ahead);
        ASSERT_TRUE(quote);
        EXPECT_EQ(quote->KabuNo, "1301");
        EXPECT_EQ(Requests(QuotePath("1301.t")), 1) << "no second request";
    }

    // The window is closed while the chain waits: it gives up at once, while the page is still
    // under way, and its own fetch asks nothing.
    TFetchAhead ahead({"1303.t"}, 1);
    WaitFor([&] { return sent.load(); });
    bool closing = false;
    const std::optional<TKabuQuote> none =
        LoadKabuQuote("1303.t", [&] { closing = true; }, [&] { return closing; }, &ahead);
    EXPECT_FALSE(settled) << "the chain waited for the transfer to end";
    EXPECT_TRUE(ahead.Running());
    EXPECT_FALSE(none);
    EXPECT_EQ(Requests(QuotePath("1303.t")), 1);
    ahead.Stop();
    EXPECT_FALSE(std::filesystem::exists(QuoteCacheFile("1303.t")));
}

// The chain at stock 0 lets stocks 1 to 32 be fetched ahead, each a quote and a history page;
// as it moves on, so does the bound.
TEST_F(FetchAheadTest, FetchesNoFurtherThanThirtyTwoStocksAheadOfTheChain)
{
    std::vector<std::string> keys;
    for (int code = 1310; code < 1350; ++code)
        keys.push_back(std::to_string(code) + ".t");
    TFetchAhead ahead(keys, 8);
    WaitFor([&] { return ahead.Waiting(); });
    ASSERT_TRUE(ahead.Waiting());
    EXPECT_EQ(Server.Log().size(), 66u);
    EXPECT_EQ(Requests(QuotePath("1342.t")), 1);
    EXPECT_EQ(Requests(HistoryPath("1342.t")), 1);
    EXPECT_EQ(Requests(QuotePath("1343.t")), 0);

    EXPECT_TRUE(ahead.AwaitPage(QuoteCacheFile("1315.t"), {}, {}));
    WaitFor([&] { return ahead.Waiting(); });
    EXPECT_EQ(Server.Log().size(), 76u);
    EXPECT_EQ(Requests(QuotePath("1347.t")), 1);
    EXPECT_EQ(Requests(QuotePath("1348.t")), 0);
    EXPECT_TRUE(ahead.Running());
}

// A page asked for before midnight is not today's page after it: the chain asks again, as it
// would for yesterday's file.
TEST_F(FetchAheadTest, APageFetchedBeforeMidnightIsNotHandedOverAfterIt)
{
    std::atomic<int> daysLater{0};
    TFetchAhead ahead({"1301.t"}, 1, [&] {
        return std::chrono::year_month_day{std::chrono::sys_days{TodayLocal()} + std::chrono::days{daysLater}};
    });
    WaitFor([&] { return !ahead.Running(); });
    ASSERT_EQ(Requests(QuotePath("1301.t")), 1);
    ASSERT_EQ(Requests(HistoryPath("1301.t")), 1);
    daysLater = 1;

    EXPECT_FALSE(ahead.AwaitPage(QuoteCacheFile("1301.t"), {}, {}));
    EXPECT_TRUE(DatFiles().empty());
    ASSERT_TRUE(ReadStock("1301.t", &ahead));
    EXPECT_EQ(Requests(QuotePath("1301.t")), 2);
    EXPECT_EQ(Requests(HistoryPath("1301.t")), 2);
}

TEST_F(FetchAheadTest, KeepsToItsConnectionsAndUsesThemAgain)
{
    std::mutex mutex;
    int underWay = 0;
    int most = 0;
    QuoteHandler = [&](const std::string& code, httplib::Response& response) {
        {
            const std::lock_guard lock(mutex);
            most = std::max(most, ++underWay);
        }
        std::this_thread::sleep_for(2ms); // lets transfers overlap
        response.set_content(QuoteFor(code), "text/html");
        const std::lock_guard lock(mutex);
        --underWay;
        return true;
    };
    const auto stop = Server.StopBeforeLeaving();
    std::vector<std::string> keys;
    for (int code = 1310; code < 1330; ++code)
        keys.push_back(std::to_string(code) + ".t");
    // The owner's check on each new connection keeps them in use.
    SetServiceOwner(::geteuid());
    TFetchAhead ahead(keys, 2);
    WaitFor([&] { return !ahead.Running(); });
    SetServiceOwner(std::nullopt);
    ASSERT_FALSE(ahead.Running());
    std::set<int> clientPorts;
    for (const auto& request : Server.Log())
        clientPorts.insert(request.RemotePort);
    EXPECT_EQ(Server.Log().size(), 40u);
    EXPECT_LE(clientPorts.size(), 2u) << "40 pages over the same two connections";
    const std::lock_guard lock(mutex);
    EXPECT_LE(most, 2);
}

TEST_F(FetchAheadTest, NothingIsAskedOfAnotherUsersPeer)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to answer as another user";
    TLoopbackServer foreign;
    foreign.Routes().Get(QuoteRoute, [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(QuoteFor(request.get_param_value("qt").substr(0, 4)), "text/html");
    });
    SetFinanceServiceAddress(foreign.Start(65534));
    SetServiceOwner(::geteuid());
    {
        TFetchAhead ahead({"1301.t", "1303.t"}, 2);
        WaitFor([&] { return !ahead.Running(); });
        EXPECT_FALSE(ahead.Running());
        EXPECT_FALSE(ahead.AwaitPage(QuoteCacheFile("1301.t"), {}, {}));
    }
    SetServiceOwner(std::nullopt);
    EXPECT_TRUE(foreign.Log().empty());
    EXPECT_TRUE(DatFiles().empty());
}

TEST(FetchAheadConnections, DefaultsToFourAndStaysWithinZeroToEight)
{
    EXPECT_EQ(FetchAheadConnections(), 4);
    SetFetchAheadConnections(12);
    EXPECT_EQ(FetchAheadConnections(), 8);
    SetFetchAheadConnections(-1);
    EXPECT_EQ(FetchAheadConnections(), 0);
    SetFetchAheadConnections(DefaultFetchAheadConnections);
}

} // namespace
