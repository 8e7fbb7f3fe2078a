// orvanta-service --fetch against the loopback stand-in of the data API, run as a process: the
// bars it stores against values worked out by hand, resuming after kills, the rate, the exits.
#include "fetch_process.h"
#include "jquants_standin.h"
#include "service_process.h"
#include "market/bar_store.h"

#include "data/history_page.h"
#include "common/service_contract.h"
#include "data/quote_page.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

const TDate MarketFirst{2025, 1, 6};
const TDate MarketLast{2026, 2, 6};

std::string Dashed(TDate date)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.Year, date.Month, date.Day);
    return text;
}

std::vector<std::string> Args(const TJQuantsStandin& standin, const std::filesystem::path& data,
                              std::vector<std::string> more)
{
    std::vector<std::string> args = {"--data", data.string(), "--fetch", "--source", standin.Url(), "--rate", "10000"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// The bars requests of the stand-in's log, as sent.
std::vector<std::string> BarQueries(const TJQuantsStandin& standin)
{
    std::vector<std::string> queries;
    for (const TStandinRequest& request : standin.Requests())
        if (request.Path == "/v2/equities/bars/daily")
            queries.push_back(request.Query);
    return queries;
}

std::set<std::string> AskedDays(const std::vector<std::string>& queries)
{
    std::set<std::string> days;
    for (const std::string& query : queries)
        if (query.starts_with("?date=") && query.find("pagination_key") == std::string::npos)
            days.insert(query.substr(6, 10));
    return days;
}

TRawDay Bar(TDate date, double close, std::int64_t volume, std::string factor = "1")
{
    const auto hundredths = [](double yen) { return static_cast<std::int64_t>(yen * 100); };
    return {date,
            true,
            hundredths(close - 10),
            hundredths(close + 20),
            hundredths(close - 30),
            hundredths(close),
            volume,
            static_cast<std::int64_t>(close * static_cast<double>(volume)),
            std::move(factor)};
}

TEST(FetchCommandTest, AFirstFetchStoresTheWholeMarketAsTheSourceGaveIt)
{
    const std::filesystem::path folder = FreshFolder("fetch_first");
    TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 10);
    const TFetchResult result =
        RunFetch(folder, Args(standin, folder / "data", {"--from", Dashed(MarketFirst), "--to", Dashed(MarketLast)}),
                 TJQuantsStandin::Key);
    ASSERT_EQ(result.Exit, 0) << result.Stderr;

    // 277 trading days; 7203 splits 1:2 on 2025-05-16, 8233 consolidates 2:1 on 2025-09-26,
    // 5555 lists on 2025-07-22, 1306 trades on no day t % 7 == 0 (40 days).
    const std::map<std::string, TRawDays> days = LoadRawDays(folder / "data");
    const std::set<std::string> codes = [&] {
        std::set<std::string> keys;
        for (const auto& [code, stockDays] : days)
            keys.insert(code);
        return keys;
    }();
    EXPECT_EQ(codes, (std::set<std::string>{"7203", "130A", "25935", "1306", "9199", "8233", "5555"}));
    const TRawDays& toyota = days.at("7203");
    ASSERT_EQ(toyota.size(), 277u);
    EXPECT_EQ(toyota.front(), Bar(MarketFirst, 1000, 1000));
    EXPECT_EQ(toyota[91], Bar({2025, 5, 15}, 1091, 92000));
    EXPECT_EQ(toyota[92], Bar({2025, 5, 16}, 546, 186000, "0.5"));
    EXPECT_EQ(toyota[93].AdjFactor, "1");
    EXPECT_EQ(days.at("8233")[184], Bar({2025, 9, 26}, 7368, 92500, "2"));
    const TRawDays& etf = days.at("1306");
    EXPECT_EQ(std::count_if(etf.begin(), etf.end(), [](const TRawDay& day) { return !day.Traded; }), 40);
    EXPECT_FALSE(etf.front().Traded);
    EXPECT_EQ(etf.front().Close, 0);
    ASSERT_EQ(days.at("5555").size(), 139u);
    EXPECT_EQ(days.at("5555").front(), Bar({2025, 7, 22}, 4138, 139000));
    EXPECT_EQ(days.at("25935").size(), 277u);

    // 285 weekdays, each asked once: 276 of one page, the junk day of two, 8 holidays; and the
    // master. Paging through a day is the kill test's.
    const std::vector<std::string> queries = BarQueries(standin);
    EXPECT_EQ(queries.size(), 276u + 2 + 8);
    EXPECT_EQ(std::set<std::string>(queries.begin(), queries.end()).size(), queries.size()) << "a page asked twice";
    EXPECT_EQ(AskedDays(queries).size(), 285u);
    EXPECT_EQ(standin.RequestCount(), queries.size() + 1);

    ASSERT_FALSE(result.Progress.empty());
    const std::regex line(R"(request=\d+ left=\d+ days=\d+/285 rows=\d+ eta=\d+ http=200)");
    EXPECT_TRUE(std::regex_match(result.Progress.front(), line)) << result.Progress.front();
    EXPECT_EQ(result.Progress[result.Progress.size() - 2].substr(0, 13), "request=287 l");
    const size_t rows = 277 * 6 + 139;
    EXPECT_EQ(result.Progress.back(),
              "end exit=0 days=285 stocks=7 rows=" + std::to_string(rows) + " requests=287 refused=5 reason=done");
    EXPECT_NE(result.Stderr.find("受け付けなかった行 5\n"), std::string::npos) << result.Stderr;
    // The counts agree: the master serves 6 of the 7 stocks with bars, and the summary says which
    // one it does not.
    EXPECT_NE(result.Stderr.find("銘柄マスター: 6 銘柄を配信します"), std::string::npos) << result.Stderr;
    EXPECT_NE(result.Stderr.find("285/285 日、7 銘柄 (うち配信しないもの: TOKYO PRO MARKET の銘柄 1)、"),
              std::string::npos)
        << result.Stderr;
}

TEST(FetchCommandTest, ALaterRunAsksOnlyForTheDaysAfterThoseHeld)
{
    const std::filesystem::path folder = FreshFolder("fetch_later");
    TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 10);
    const std::filesystem::path data = folder / "data";
    ASSERT_EQ(
        RunFetch(folder, Args(standin, data, {"--from", "2025-03-03", "--to", "2025-03-31"}), TJQuantsStandin::Key)
            .Exit,
        0);
    const size_t first = BarQueries(standin).size();
    EXPECT_EQ(first, 21u);

    const TFetchResult later = RunFetch(folder, Args(standin, data, {"--to", "2025-04-11"}), TJQuantsStandin::Key);
    ASSERT_EQ(later.Exit, 0) << later.Stderr;
    const std::vector<std::string> all = BarQueries(standin);
    const std::set<std::string> asked = AskedDays({all.begin() + static_cast<long>(first), all.end()});
    EXPECT_EQ(asked, (std::set<std::string>{"2025-04-01", "2025-04-02", "2025-04-03", "2025-04-04", "2025-04-07",
                                            "2025-04-08", "2025-04-09", "2025-04-10", "2025-04-11"}));
    EXPECT_EQ(LoadRawDays(data).at("7203").size(), 21u + 8u);

    const TFetchResult nothingNew = RunFetch(folder, Args(standin, data, {"--to", "2025-04-11"}), TJQuantsStandin::Key);
    EXPECT_EQ(nothingNew.Exit, 0);
    EXPECT_EQ(BarQueries(standin).size(), all.size()) << "only the master is asked";
    EXPECT_EQ(nothingNew.Progress.back(), "end exit=0 days=0 stocks=0 rows=0 requests=1 refused=0 reason=done");
}

TEST(FetchCommandTest, TheDryRunSaysWhatIsHeldAndWhatAFetchWouldAsk)
{
    const std::filesystem::path folder = FreshFolder("fetch_dry");
    TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 10);
    const std::filesystem::path data = folder / "data";
    ASSERT_EQ(
        RunFetch(folder, Args(standin, data, {"--from", "2025-03-03", "--to", "2025-03-14"}), TJQuantsStandin::Key)
            .Exit,
        0);
    const size_t asked = standin.RequestCount();
    const TFetchResult result =
        RunFetch(folder, {"--data", data.string(), "--fetch", "--to", "2025-03-21", "--rate", "2", "--dry-run"}, "");
    ASSERT_EQ(result.Exit, 0) << result.Stderr;
    EXPECT_EQ(standin.RequestCount(), asked);
    // Held 03-03..03-14 (10 days, 7 stocks); asks 03-17..03-21: 5 days and the master, 6
    // requests at 2 a minute: 2 at once, 4 over two more minutes and their margins of 0.25 s.
    EXPECT_EQ(result.Stdout,
              "{\"held_first\":\"2025-03-03\",\"held_last\":\"2025-03-14\",\"stocks\":6,"
              "\"from\":\"2025-03-03\",\"to\":\"2025-03-21\",\"days\":5,\"requests\":6,\"seconds\":121}\n");
}

// The estimate said 288 requests and under a minute, then its requests left grew from 287 to
// 527 and its seconds with them. Now: pages a day are those of the last day answered, seconds
// those of the limiter's waits, and both only fall but when a day proves to take more pages.
TEST(FetchCommandTest, TheEstimateCountsDownFromWhatTheDryRunSays)
{
    const std::filesystem::path folder = FreshFolder("fetch_estimate");
    const TStandinMarket market = TStandinMarket::Small(MarketFirst, MarketLast);
    const std::filesystem::path data = folder / "data";
    const auto at2AMinute = [&](const TJQuantsStandin& standin, std::vector<std::string> more) {
        std::vector<std::string> args = Args(standin, data, std::move(more));
        args[6] = "2"; // --rate
        return args;
    };
    {
        TJQuantsStandin onePage(market, 10);
        ASSERT_EQ(RunFastFetch(folder, at2AMinute(onePage, {"--from", "2025-03-03", "--to", "2025-03-07"}),
                               TJQuantsStandin::Key)
                      .Exit,
                  0);
    }
    // The source now pages by 2: three pages a day of its 6 stocks, four for the master's 7.
    TJQuantsStandin threePages(market, 2);
    const auto dryRun = [&](const char* to) {
        std::vector<std::string> args = at2AMinute(threePages, {"--to", to, "--dry-run"});
        return RunFastFetch(folder, args, "").Stdout;
    };
    // 5 days of one page as the days held, and the master: 2 at once, 4 in two more minutes.
    EXPECT_NE(dryRun("2025-03-14").find("\"days\":5,\"requests\":6,\"seconds\":121}"), std::string::npos);

    const TFetchResult run = RunFastFetch(folder, at2AMinute(threePages, {"--to", "2025-03-14"}), TJQuantsStandin::Key);
    ASSERT_EQ(run.Exit, 0) << run.Stderr;
    std::vector<long long> left, seconds;
    for (const std::string& line : run.Progress)
        if (const std::optional<TFetchProgress> progress = ParseFetchProgress(line))
        {
            left.push_back(progress->RequestsLeft);
            seconds.push_back(progress->SecondsLeft);
        }
    // After each answer: the master's four pages (it counts one until its last), the first
    // day's three (one estimated), which re-estimate the days ahead at three pages each.
    EXPECT_EQ(left, (std::vector<long long>{6, 6, 6, 5, 5, 5, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
    ASSERT_EQ(seconds.size(), left.size());
    for (size_t i = 1; i < seconds.size(); ++i)
    {
        if (left[i] <= left[i - 1])
        {
            EXPECT_LE(seconds[i], seconds[i - 1]) << "line " << i;
        }
    }
    EXPECT_GT(seconds[6], seconds[5]) << "re-estimated with the longer days";
    EXPECT_GE(seconds[6], 6 * 60) << "twelve requests at 2 a minute";
    EXPECT_EQ(seconds.back(), 0);

    // The next estimate takes the pages of the last day answered.
    EXPECT_NE(dryRun("2025-03-21").find("\"days\":5,\"requests\":16,"), std::string::npos);
}

//! The fetch with its stderr on a terminal, as a user runs it by hand: what the terminal showed.
std::string OnATerminal(const std::filesystem::path& folder, const std::vector<std::string>& args)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return "no terminal";
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    std::string shown;
    std::thread reader([&] { // the terminal must be read while the fetch writes to it
        char buffer[4096];
        for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;)
            shown.append(buffer, static_cast<size_t>(got));
    });
    {
        TFetchProcess fetch(folder, args, TJQuantsStandin::Key, {}, ORVANTA_SERVICE_BINARY, terminal);
        ::close(terminal);
        fetch.Wait();
    }
    reader.join(); // ends once no one holds the terminal
    ::close(master);
    return shown;
}

// On a terminal the master's line followed the progress text on the same line.
TEST(FetchCommandTest, OnATerminalEachMessageHasALineOfItsOwn)
{
    const std::filesystem::path folder = FreshFolder("fetch_terminal");
    TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 10);
    const std::string shown =
        OnATerminal(folder, Args(standin, folder / "data", {"--from", "2025-03-03", "--to", "2025-03-07"}));
    ASSERT_NE(shown.find("\rorvanta-service: 0/5 日、要求 1 回、"), std::string::npos) << shown;
    for (const char* message : {"orvanta-service: 銘柄マスター: ", "orvanta-service: 5/5 日、"})
    {
        SCOPED_TRACE(message);
        const size_t at = shown.rfind(message); // the progress text starts alike
        ASSERT_NE(at, std::string::npos) << shown;
        ASSERT_GT(at, 0u);
        EXPECT_EQ(shown[at - 1], '\n') << shown;
    }
}

TEST(FetchCommandTest, KilledAtAnyPointItLosesNothingAndAsksAtMostTheRequestInFlightAgain)
{
    const std::filesystem::path folder = FreshFolder("fetch_kill");
    const TStandinMarket market = TStandinMarket::Small(MarketFirst, MarketLast);
    const std::vector<std::string> range = {"--from", "2025-03-03", "--to", "2025-04-30"};
    std::map<std::string, TRawDays> whole;
    {
        TJQuantsStandin reference(market, 3);
        ASSERT_EQ(RunFetch(folder, Args(reference, folder / "whole", range), TJQuantsStandin::Key).Exit, 0);
        whole = LoadRawDays(folder / "whole");
    }

    TJQuantsStandin standin(market, 3);
    standin.SetDelay(10ms);
    const std::filesystem::path data = folder / "data";
    // A SIGTERM first, answered in words and kept; then hard kills, which nothing can answer.
    int interruptions = 0;
    for (const auto& [afterRequests, signal] :
         std::vector<std::pair<size_t, int>>{{12, SIGTERM}, {35, SIGKILL}, {60, SIGKILL}, {80, SIGINT}})
    {
        TFetchProcess fetch(folder, Args(standin, data, range), TJQuantsStandin::Key);
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (standin.RequestCount() < afterRequests && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        fetch.Signal(signal);
        const TFetchResult result = fetch.Wait();
        ++interruptions;
        if (signal == SIGKILL)
        {
            EXPECT_EQ(result.Exit, 128 + SIGKILL);
        }
        else
        {
            EXPECT_EQ(result.Exit, 128 + signal) << result.Stderr;
            EXPECT_NE(result.Stderr.find("中断しました。今回取得した "), std::string::npos) << result.Stderr;
            EXPECT_EQ(result.Progress.back().substr(0, 13), "end exit=" + std::to_string(128 + signal) + " ");
            EXPECT_TRUE(result.Progress.back().ends_with(" reason=interrupted")) << result.Progress.back();
        }
    }
    standin.SetDelay(0ms);
    const TFetchResult last = RunFetch(folder, Args(standin, data, range), TJQuantsStandin::Key);
    ASSERT_EQ(last.Exit, 0) << last.Stderr;
    EXPECT_EQ(LoadRawDays(data), whole);

    std::map<std::string, int> times;
    for (const std::string& query : BarQueries(standin))
        ++times[query];
    int repeated = 0;
    for (const auto& [query, count] : times)
        repeated += count - 1;
    EXPECT_LE(repeated, interruptions) << "only a request in flight is asked again";
}

// At --rate 10 the source saw 11 requests within one minute: the rate was counted at sending,
// and a request that travelled faster than the one ten before it arrived within the minute.
TEST(FetchCommandTest, NoWindowOfTheSourcesMinuteHoldsMoreThanTheRateWhateverTheTravel)
{
    const std::filesystem::path folder = FreshFolder("fetch_rate");
    TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 4);
    // Tens of milliseconds each way, the later request of each window the faster.
    standin.SetTravel({40ms, 10ms, 30ms, 0ms, 2ms, 35ms});
    std::vector<std::string> args = Args(standin, folder / "data", {"--from", "2025-03-03", "--to", "2025-03-07"});
    args[6] = "4"; // --rate
    // A minute of a second, so that four requests fill less than one.
    const TFetchResult result = RunFastFetch(folder, args, TJQuantsStandin::Key, 60);
    ASSERT_EQ(result.Exit, 0) << result.Stderr;
    const std::vector<TStandinRequest> requests = standin.Requests();
    ASSERT_EQ(requests.size(), 12u); // two master pages, five days of two pages
    for (size_t i = 0; i + 4 < requests.size(); ++i)
        EXPECT_GT(requests[i + 4].Time - requests[i].Time, 1000ms) << "requests " << i << " to " << i + 4;
}

TEST(FetchCommandTest, AnEmptyDayIsAskedAgainOnlyWhileItIsRecent)
{
    const std::filesystem::path folder = FreshFolder("fetch_recent");
    const TDate today = LocalToday();
    // The source has bars up to three days ago: the days after are empty until its update.
    TJQuantsStandin standin(TStandinMarket::Small(AddDays(today, -40), AddDays(today, -3)), 10);
    const std::filesystem::path data = folder / "data";
    const std::vector<std::string> args =
        Args(standin, data, {"--plan", "light", "--from", Dashed(AddDays(today, -40))});
    ASSERT_EQ(RunFetch(folder, args, TJQuantsStandin::Key).Exit, 0);
    const size_t first = BarQueries(standin).size();
    ASSERT_EQ(RunFetch(folder, args, TJQuantsStandin::Key).Exit, 0);
    const std::vector<std::string> all = BarQueries(standin);
    const std::set<std::string> again = AskedDays({all.begin() + static_cast<long>(first), all.end()});

    std::set<std::string> expected; // weekdays of the last 7 days that brought nothing
    const std::map<std::string, TRawDays> held = LoadRawDays(data);
    for (TDate date = AddDays(today, -7); date <= today; date = AddDays(date, 1))
    {
        const bool brought = std::any_of(held.at("7203").begin(), held.at("7203").end(),
                                         [&](const TRawDay& day) { return day.Date == date; });
        if (Weekday(date) < 5 && !brought)
            expected.insert(Dashed(date));
    }
    EXPECT_EQ(again, expected);
}

TEST(FetchCommandTest, AnEmptyDayLastAskedWhileRecentIsAskedOnceMore)
{
    const std::filesystem::path folder = FreshFolder("fetch_aged");
    const TDate today = LocalToday();
    const auto weekdayOnOrBefore = [](TDate date) {
        while (Weekday(date) >= 5)
            date = AddDays(date, -1);
        return date;
    };
    // Asked two days after it, before the source's update had it: it may yet bring bars.
    const TDate early = weekdayOnOrBefore(AddDays(today, -10));
    // Asked long after it: a holiday.
    const TDate holiday = weekdayOnOrBefore(AddDays(early, -1));
    const std::filesystem::path data = folder / "data";
    {
        TBarStore store(data);
        store.Commit({TBarRequest::TKind::Date, Dashed(early), 0, "", AddDays(early, 2), 0}, {});
        store.Commit({TBarRequest::TKind::Date, Dashed(holiday), 0, "", AddDays(holiday, 9), 0}, {});
    }
    TJQuantsStandin standin(TStandinMarket::Small(AddDays(holiday, -3), AddDays(today, -3)), 10);
    ASSERT_EQ(
        RunFetch(folder, Args(standin, data, {"--from", Dashed(holiday), "--to", Dashed(early)}), TJQuantsStandin::Key)
            .Exit,
        0);
    const std::set<std::string> asked = AskedDays(BarQueries(standin));
    EXPECT_TRUE(asked.contains(Dashed(early)));
    EXPECT_FALSE(asked.contains(Dashed(holiday)));
}

struct TErrorCase
{
    const char* Name;
    std::function<void(TJQuantsStandin&, const std::filesystem::path& folder)> Setup;
    std::vector<std::string> Extra;
    std::string Key;
    int Exit;
    std::string Says;
    size_t DaysKept;
    std::string Reason = {}; // the end line's reason word; empty: no end line (ended before asking)
};

TEST(FetchCommandTest, EveryFailureHasItsExitAndSaysWhatToDo)
{
    const auto keyFile = [](mode_t mode) {
        return [mode](TJQuantsStandin&, const std::filesystem::path& folder) {
            // Where the window keeps it for the child it starts with XDG_CONFIG_HOME set.
            const std::filesystem::path config = ConfigFolder((folder / "config").c_str(), nullptr);
            std::filesystem::create_directories(config);
            const std::filesystem::path file = ApiKeyFile(config);
            WriteBytes(file, std::string(TJQuantsStandin::Key) + "\n");
            ::chmod(file.c_str(), mode);
        };
    };
    const auto none = [](TJQuantsStandin&, const std::filesystem::path&) {};
    const auto standinSays = [](int status, std::string body) {
        return [status, body](TJQuantsStandin& s, const std::filesystem::path&) { s.AnswerWith(1, status, body); };
    };
    const std::string closedPort = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/v2";
    const std::vector<TErrorCase> cases = {
        {"wrong key", none, {}, "wrong-key-not-a-real-key", 2, "キーが誤っているか期限切れです", 0, "key-refused"},
        {"no key", none, {}, "", 64, "API キーがありません: " + std::string(ApiKeyVariable) + " を設定するか", 0},
        {"key file others can read", keyFile(0644), {}, "", 64, "chmod 600", 0},
        {"key file of the user", keyFile(0600), {}, "", 0, "5/5 日、", 5, "done"},
        // Without a network it said the source had stopped it and what was fetched was kept.
        {"no network",
         none,
         {"--source", closedPort},
         TJQuantsStandin::Key,
         2,
         "に接続できません: Couldn't connect to server。ネットワークかプロキシーの設定を確かめて、もう一度実行して"
         "ください。今回は株価を何も保存していません",
         0,
         "no-network"},
        {"429 after the retries",
         [](TJQuantsStandin& s, const std::filesystem::path&) { s.Answer429(4); },
         {},
         TJQuantsStandin::Key,
         2,
         "5 分待って",
         0,
         "rate-limited"},
        {"429 twice",
         [](TJQuantsStandin& s, const std::filesystem::path&) { s.Answer429(2); },
         {},
         TJQuantsStandin::Key,
         0,
         "5/5 日、",
         5,
         "done"},
        {"an answer echoing the key",
         standinSays(400, R"({"message":"bad key test-key-not-a-real-key"})"),
         {},
         TJQuantsStandin::Key,
         2,
         "bad key (キー)",
         0,
         "source-failed"},
        // The source's words reached the terminal raw: a C1 CSI in its message started a control sequence.
        {"an answer with a control sequence",
         standinSays(400, R"({"message":"bad \u009b2J query"})"),
         {},
         TJQuantsStandin::Key,
         2,
         "bad \\x9b2J query",
         0,
         "source-failed"},
        {"server error", standinSays(500, "{}"), {}, TJQuantsStandin::Key, 2, "HTTP 500", 0, "source-failed"},
        {"not the published JSON",
         standinSays(200, "<html>"),
         {},
         TJQuantsStandin::Key,
         2,
         "公開されている JSON の形ではありません",
         0,
         "source-failed"},
        {"past the plan",
         [](TJQuantsStandin& s, const std::filesystem::path&) {
             s.RefuseDaysAfter({2025, 3, 5});
         },
         {},
         TJQuantsStandin::Key,
         0,
         "2025-03-05 までを配信しています。2025-03-06 からはプランの範囲外のため拒否されました (403)。今回取得した 3 日分",
         3,
         "plan-end"},
        {"bars folder is a file",
         [](TJQuantsStandin&, const std::filesystem::path& f) {
             std::filesystem::create_directories(f / "data");
             WriteBytes(f / "data" / "bars", "x");
         },
         {},
         TJQuantsStandin::Key,
         1,
         "data/bars",
         0},
        {"bad argument", none, {"--rate", "0"}, TJQuantsStandin::Key, 64, "--rate には", 0},
        {"bad code", none, {"--codes", "72O3"}, TJQuantsStandin::Key, 64, "は銘柄コードではありません", 0},
        // Usage errors echoed the argument raw, escape sequences and all.
        {"bad code with an escape sequence",
         none,
         {"--codes", "72\x1b]0;x"},
         TJQuantsStandin::Key,
         64,
         "\"72\\x1b]0;x\"",
         0},
    };
    for (const TErrorCase& row : cases)
    {
        SCOPED_TRACE(row.Name);
        const std::filesystem::path folder = FreshFolder("fetch_errors");
        TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 10);
        row.Setup(standin, folder);
        std::vector<std::string> extra = {"--from", "2025-03-03", "--to", "2025-03-07"};
        extra.insert(extra.end(), row.Extra.begin(), row.Extra.end());
        // On the fast clock the waits after a 429 take a fifth of a second.
        const TFetchResult result = RunFastFetch(folder, Args(standin, folder / "data", extra), row.Key);
        EXPECT_EQ(result.Exit, row.Exit) << result.Stderr;
        EXPECT_NE(result.Stderr.find(row.Says), std::string::npos) << result.Stderr;
        EXPECT_EQ(result.Stderr.find("not-a-real-key"), std::string::npos) << "the key shows";
        const std::map<std::string, TRawDays> days = LoadRawDays(folder / "data");
        EXPECT_EQ(days.empty() ? 0 : days.at("7203").size(), row.DaysKept);
        const std::string endLine = result.Progress.empty() ? "" : result.Progress.back();
        EXPECT_TRUE(row.Reason.empty() ? endLine.empty() : endLine.ends_with(" reason=" + row.Reason)) << endLine;
    }
}

TEST(FetchCommandTest, CodesAreFetchedOneStockAtATimeOverTheRange)
{
    const std::filesystem::path folder = FreshFolder("fetch_codes");
    TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 10);
    const std::filesystem::path data = folder / "data";
    const TFetchResult result =
        RunFetch(folder, Args(standin, data, {"--from", "2025-03-03", "--to", "2025-04-30", "--codes", "130a,25935"}),
                 TJQuantsStandin::Key);
    ASSERT_EQ(result.Exit, 0) << result.Stderr;
    const std::map<std::string, TRawDays> days = LoadRawDays(data);
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days.at("130A").size(), 42u); // 43 weekdays but 2025-04-01
    EXPECT_EQ(days.at("25935").size(), 42u);
    EXPECT_EQ(BarQueries(standin).size(), 2u * 5); // 10 a page
    EXPECT_EQ(BarQueries(standin)[0], "?code=130A0&from=2025-03-03&to=2025-04-30");
}

// The pages the service makes of what a fetch stored, read with the program's own scrapers.
THistoryRows ServedRows(const TServingProcess& service, const std::string& key, const std::string& range, char kind)
{
    const auto [status, body] = service.Get(std::string(HistoryRoute) + "?sv=MN&qt=" + key + range + "&k=" + kind);
    EXPECT_EQ(status, 200) << key << range;
    return ParseHistoryPage(body, 0, [] {});
}

THistoryRow Row(const char* date, std::int32_t open, std::int32_t high, std::int32_t low, std::int32_t close,
                std::int64_t volume)
{
    return {date, open, high, low, close, volume};
}

TEST(FetchCommandTest, TheServiceServesTheFetchedMarketAdjustedOrRaw)
{
    const std::filesystem::path folder = FreshFolder("fetch_served");
    TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 10);
    const std::filesystem::path data = folder / "data";
    ASSERT_EQ(RunFetch(folder, Args(standin, data, {"--from", Dashed(MarketFirst), "--to", "2026-02-05"}),
                       TJQuantsStandin::Key)
                  .Exit,
              0);
    // 7203 (base 1000) splits 1:2 on t = 92, 2025-05-16; 8233 (base 3500) consolidates 2:1 on
    // t = 184, 2025-09-26. Raw close = base + t, open -10, high +20, low -30, volume 1000 (t + 1).
    const std::string splitWeek = "&sy=2025&sm=05&sd=12&ey=2025&em=05&ed=16";
    const std::string consolidationDays = "&sy=2025&sm=09&sd=25&ey=2025&em=09&ed=26";
    constexpr std::string_view SplitText =
        "\xb3\xf4\xbc\xb0\xca\xac\xb3\xe4\xa1\xca\xca\xbb\xb9\xe7\xa1\xcb"; // 株式分割（併合）, EUC-JP
    const auto takashimaya = [](const TServingProcess& service) {
        return ParseQuotePage(service.Get(std::string(QuoteRoute) + "?qt=8233.t&sv=MN&pg=mn_schart.html").second,
                              "8233.t", [] {});
    };
    {
        const TServingProcess service({"--data", data.string()});
        ASSERT_TRUE(service.Answers());
        ASSERT_TRUE(takashimaya(service).has_value());
        EXPECT_EQ(takashimaya(service)->KabuKa, 7550 * FixedPointOne); // t = 275: 3775 × 2
        // The last day, 2026-02-06 (t = 276), fetched while it serves: the status names the new
        // data only once the pages come from it. Regression: it read the folder's version while
        // the pages came from the market loaded up to a second before, and a client keyed its
        // cache on that version.
        const std::string version = service.Get(StatusRoute).second;
        ASSERT_EQ(RunFetch(folder, Args(standin, data, {"--to", Dashed(MarketLast)}), TJQuantsStandin::Key).Exit, 0);
        EXPECT_NE(service.Get(StatusRoute).second, version);
        const std::optional<TKabuQuote> lastDay = takashimaya(service);
        ASSERT_TRUE(lastDay.has_value());
        EXPECT_EQ(lastDay->KabuKa, 7552 * FixedPointOne); // 3776 × 2
        EXPECT_EQ(lastDay->Zenjitsuhi, 2 * FixedPointOne);
        // Days before the ex-date × 0.5, halves up (1091 / 2 = 545.5 -> 546), volumes ÷ 0.5:
        // the split does not show as a price halving.
        EXPECT_EQ(ServedRows(service, "7203.t", splitWeek, 'd'), (THistoryRows{
                                                                     Row("2025/05/16", 536, 566, 516, 546, 186000),
                                                                     Row("2025/05/15", 541, 556, 531, 546, 184000),
                                                                     Row("2025/05/14", 540, 555, 530, 545, 182000),
                                                                     Row("2025/05/13", 540, 555, 530, 545, 180000),
                                                                     Row("2025/05/12", 539, 554, 529, 544, 178000),
                                                                 }));
        // The week: Monday's open, the split day's high and low, Friday's close, the sum of volumes.
        EXPECT_EQ(ServedRows(service, "7203.t", splitWeek, 'w'),
                  (THistoryRows{Row("2025/05/12", 539, 566, 516, 546, 910000)}));
        // Days before the consolidation × 2, volumes ÷ 2.
        EXPECT_EQ(ServedRows(service, "8233.t", consolidationDays, 'd'),
                  (THistoryRows{
                      Row("2025/09/26", 7358, 7388, 7338, 7368, 92500),
                      Row("2025/09/25", 7346, 7406, 7306, 7366, 92000),
                  }));
        EXPECT_EQ(
            service.Get(std::string(HistoryRoute) + "?sv=MN&qt=7203.t" + splitWeek + "&k=d").second.find(SplitText),
            std::string::npos);

        const std::optional<TKabuQuote> toyota = ParseQuotePage(
            service.Get(std::string(QuoteRoute) + "?qt=7203.t&sv=MN&pg=mn_schart.html").second, "7203.t", [] {});
        ASSERT_TRUE(toyota.has_value());
        EXPECT_EQ(toyota->KabuKa, 638 * FixedPointOne); // 1276 / 2
    }
    {
        const TServingProcess service({"--data", data.string(), "--raw-prices"});
        ASSERT_TRUE(service.Answers());
        // Traded prices, and the split row on the ex-date, read as the row above with no volume.
        EXPECT_EQ(ServedRows(service, "7203.t", "&sy=2025&sm=05&sd=15&ey=2025&em=05&ed=16", 'd'),
                  (THistoryRows{
                      Row("2025/05/16", 536, 566, 516, 546, 186000),
                      Row("2025/05/16", 536, 566, 516, 546, 0),
                      Row("2025/05/15", 1081, 1111, 1061, 1091, 92000),
                  }));
        EXPECT_EQ(ServedRows(service, "8233.t", consolidationDays, 'd'),
                  (THistoryRows{
                      Row("2025/09/26", 7358, 7388, 7338, 7368, 92500),
                      Row("2025/09/26", 7358, 7388, 7338, 7368, 0),
                      Row("2025/09/25", 3673, 3703, 3653, 3683, 184000),
                  }));
        EXPECT_NE(
            service.Get(std::string(HistoryRoute) + "?sv=MN&qt=7203.t" + splitWeek + "&k=d").second.find(SplitText),
            std::string::npos);
    }
}

} // namespace
