#include "http/finance_service.h"
#include "common/service_contract.h"

#include "pages/page_writer.h"
#include "sources/price_import.h"
#include "http/request_gate.h"
#include "service_test_support.h"
#include "market/text_convert.h"

#include "data/history_page.h"
#include "data/quote_page.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <sstream>

namespace {

constexpr std::string_view NotFoundEuc =
    "\xb8\xab\xa4\xc4\xa4\xab\xa4\xea\xa4\xde\xa4\xbb\xa4\xf3\xa4\xc7\xa4\xb7\xa4\xbf"; // 見つかりませんでした

std::string QuotePath(const std::string& key)
{
    return std::string(QuoteRoute) + "?qt=" + key + "&sv=MN&pg=mn_schart.html";
}

std::string HistoryPath(const std::string& key, TDate first, TDate last, char period)
{
    char text[160];
    std::snprintf(text, sizeof text, "?sv=MN&qt=%s&sy=%04d&sm=%02d&sd=%02d&ey=%04d&em=%02d&ed=%02d&k=%c", key.c_str(),
                  first.Year, first.Month, first.Day, last.Year, last.Month, last.Day, period);
    return HistoryRoute + std::string(text);
}

struct TPage
{
    int Status = 0;
    std::string Body;
};

TPage Fetch(int port, const std::string& path)
{
    httplib::Client client(ServiceHost, port);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(10, 0);
    const httplib::Result result = client.Get(path);
    if (!result)
        return {};
    return {result->status, result->body};
}

const TDate Today{2026, 12, 4};

// A raw TCP connection to the service on 127.0.0.1, closed when it goes.
class TRawConnection
{
public:
    explicit TRawConnection(int port) : Fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        Connected = ::connect(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~TRawConnection() { ::close(Fd); }
    TRawConnection(const TRawConnection&) = delete;
    TRawConnection& operator=(const TRawConnection&) = delete;

    bool Send(const std::string& bytes) const
    {
        return ::send(Fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

    //! What arrives until the service closes the connection or `waitMs` pass without a byte;
    //! `closed` tells which.
    std::string Receive(int waitMs, bool& closed) const
    {
        std::string bytes;
        closed = false;
        pollfd ready{Fd, POLLIN, 0};
        while (::poll(&ready, 1, waitMs) == 1)
        {
            char buffer[4096];
            const ssize_t got = ::recv(Fd, buffer, sizeof buffer, 0);
            if (got <= 0)
            {
                closed = true;
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(got));
        }
        return bytes;
    }

    int Fd;
    bool Connected = false;
};

} // namespace

TEST(FinanceService, AnswersBadRequestsWithoutFalling)
{
    TRunningService running(SampleMarket(), [] { return Today; });
    ASSERT_GT(running.Port, 0);
    const std::string range = "&sy=2026&sm=01&sd=05&ey=2026&em=12&ed=04";
    struct Row
    {
        const char* name;
        std::string path;
        int status;
    };
    const Row rows[] = {
        {"unknown stock", QuotePath("1234.t"), 200},
        {"unknown market suffix", QuotePath("7203.z"), 200},
        {"unknown stock's history", std::string(HistoryRoute) + "?sv=MN&qt=1234" + range + "&k=w", 200},
        {"missing qt", std::string(QuoteRoute) + "?sv=MN&pg=mn_schart.html", 400},
        {"missing sv", std::string(QuoteRoute) + "?qt=7203.t&pg=mn_schart.html", 400},
        {"other page", std::string(QuoteRoute) + "?qt=7203.t&sv=MN&pg=other.html", 400},
        {"letters in the code", QuotePath("72O3.t"), 400},
        {"six digits", QuotePath("720300"), 400},
        {"two-letter suffix", QuotePath("7203.tt"), 400},
        {"repeated qt", QuotePath("7203.t") + "&qt=6758.t", 400},
        {"bytes beyond ASCII", QuotePath("%ff%fe%00"), 400},
        {"missing end day", std::string(HistoryRoute) + "?sv=MN&qt=7203&sy=2026&sm=01&sd=05&ey=2026&em=12&k=w", 400},
        {"month 13", std::string(HistoryRoute) + "?sv=MN&qt=7203&sy=2026&sm=13&sd=05&ey=2026&em=12&ed=04&k=w", 400},
        {"February 30", std::string(HistoryRoute) + "?sv=MN&qt=7203&sy=2026&sm=02&sd=30&ey=2026&em=12&ed=04&k=w", 400},
        {"five-digit year", std::string(HistoryRoute) + "?sv=MN&qt=7203&sy=20266&sm=01&sd=05&ey=2026&em=12&ed=04&k=w",
         400},
        {"year 0000", std::string(HistoryRoute) + "?sv=MN&qt=7203&sy=0000&sm=01&sd=05&ey=2026&em=12&ed=04&k=w", 400},
        {"negative day", std::string(HistoryRoute) + "?sv=MN&qt=7203&sy=2026&sm=01&sd=-5&ey=2026&em=12&ed=04&k=w", 400},
        {"end before start", std::string(HistoryRoute) + "?sv=MN&qt=7203&sy=2026&sm=12&sd=05&ey=2026&em=01&ed=04&k=w",
         400},
        {"monthly period", std::string(HistoryRoute) + "?sv=MN&qt=7203" + range + "&k=m", 400},
        {"unknown path", std::string(QuoteRoute) + "/other.html", 404},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const TPage page = Fetch(running.Port, row.path);
        EXPECT_EQ(page.Status, row.status);
        if (row.status == 200)
        {
            EXPECT_NE(page.Body.find(NotFoundEuc), std::string::npos);
        }
    }

    // A 10 KB query is refused by its length; the service goes on serving.
    const TPage huge = Fetch(running.Port, QuotePath(std::string(10240, '7')));
    EXPECT_GE(huge.Status, 400);
    EXPECT_LT(huge.Status, 500);
    EXPECT_EQ(Fetch(running.Port, QuotePath("7203.t")).Status, 200);

    // One log line per request; the line is written after the answer, so wait for it boundedly.
    const std::size_t requests = std::size(rows) + 2;
    for (int i = 0; i < 200 && running.Log().size() < requests; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(running.Log().size(), requests);
}

TEST(FinanceService, HonoursTheDateRange)
{
    TRunningService running(SampleMarket(), [] { return Today; });
    const TStock& stock = *SampleMarket().Find("6758");
    struct Row
    {
        const char* name;
        TDate first;
        TDate last;
        char period;
    };
    const Row rows[] = {
        {"a fortnight, daily", {2026, 11, 16}, {2026, 11, 27}, 'd'},
        {"a range starting mid-week, weekly", {2026, 9, 2}, {2026, 11, 20}, 'w'},
        {"a range past today ends at today", {2026, 11, 20}, {2027, 1, 31}, 'd'},
        {"a range before the history begins", {1990, 1, 1}, {1999, 12, 31}, 'w'},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const TPage page = Fetch(running.Port, HistoryPath("6758.t", row.first, row.last, row.period));
        ASSERT_EQ(page.Status, 200);
        const THistoryRows read = ParseHistoryPage(page.Body, 0, {});
        const TPriceBars expected =
            HistoryRowsOf(HistoryBars(SampleMarket(), stock, row.period == 'w', row.first, row.last, Today));
        ASSERT_EQ(read.size(), expected.size());
        for (std::size_t i = 0; i < read.size(); ++i)
        {
            const std::optional<TDate> date = ParseDate(read[i].DateText);
            ASSERT_TRUE(date.has_value());
            EXPECT_GE(*date, row.first);
            EXPECT_LE(*date, std::min(row.last, Today));
            EXPECT_EQ(*date, expected[i].Date);
        }
    }
    // Hand-counted: 2026/11/16 to 11/27 has ten weekdays, the Monday 11/23 a holiday.
    EXPECT_EQ(
        ParseHistoryPage(Fetch(running.Port, HistoryPath("6758.t", {2026, 11, 16}, {2026, 11, 27}, 'd')).Body, 0, {})
            .size(),
        9u);
}

TEST(FinanceService, SyntheticPagesAreTheSameAcrossTwoStarts)
{
    const std::vector<std::string> paths{
        QuotePath("7203.t"), QuotePath("9984"), HistoryPath("7203.t", {2026, 1, 8}, Today, 'w'),
        HistoryPath("8306.t", {2026, 10, 5}, Today, 'd'), HistoryPath("4385", {2025, 6, 2}, {2025, 11, 28}, 'd')};
    std::vector<std::string> first;
    for (int start = 0; start < 2; ++start)
    {
        std::vector<std::string> warnings;
        const TMarket market = TMarket::Load(SampleDataFolder(), warnings);
        TRunningService running(market, [] { return Today; });
        for (std::size_t i = 0; i < paths.size(); ++i)
        {
            SCOPED_TRACE(paths[i]);
            const TPage page = Fetch(running.Port, paths[i]);
            ASSERT_EQ(page.Status, 200);
            if (start == 0)
                first.push_back(page.Body);
            else
                EXPECT_EQ(page.Body, first[i]);
        }
    }
}

TEST(FinanceService, ServesConcurrentClients)
{
    TRunningService running(SampleMarket(), [] { return Today; });
    const std::vector<std::string> keys{"7203.t", "6758.t", "9984", "8306.t", "4385", "9843.s"};
    std::vector<std::string> paths;
    for (const std::string& key : keys)
    {
        paths.push_back(QuotePath(key));
        paths.push_back(HistoryPath(key, AddDays(Today, -330), Today, 'w'));
        paths.push_back(HistoryPath(key, AddDays(Today, -60), Today, 'd'));
    }
    std::vector<std::string> expected;
    for (const std::string& path : paths)
        expected.push_back(Fetch(running.Port, path).Body);

    constexpr int Clients = 8;
    constexpr int Rounds = 3;
    std::atomic<int> matches{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < Clients; ++c)
    {
        clients.emplace_back([&, c] {
            for (int round = 0; round < Rounds; ++round)
                for (std::size_t i = 0; i < paths.size(); ++i)
                {
                    const std::size_t which = (i + static_cast<std::size_t>(c)) % paths.size();
                    const TPage page = Fetch(running.Port, paths[which]);
                    matches += page.Status == 200 && page.Body == expected[which] ? 1 : 0;
                }
        });
    }
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(matches.load(), Clients * Rounds * static_cast<int>(paths.size()));
}

TEST(FinanceService, ASecondServiceCannotShareThePort)
{
    // The HTTP library's default socket options include SO_REUSEPORT: a second service bound
    // the same port and the kernel split the requests between the two.
    TRunningService running(SampleMarket());
    TFinanceService second(SampleMarket());
    EXPECT_FALSE(second.Bind(running.Port));
    EXPECT_TRUE(ServiceAnswers(running.Port));
}

TEST(ImportPriceFolder, ImportsCheckedCsvsAndServesThem)
{
    const std::filesystem::path data = FreshFolder("import_data");
    const std::filesystem::path from = FreshFolder("import_from");
    std::filesystem::copy_file(SampleDataFolder() / "stocks.csv", data / "stocks.csv");

    // A stock the sample lacks, with its master line; the holiday week and the month-end week
    // of weekly aggregation; a last day without trades.
    WriteBytes(from / "stocks.csv",
               "2222,\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88\xe5\x95\x86\xe4\xba\x8b," // テスト商事
               "\xe6\x9d\xb1\xe8\xa8\xbc\xef\xbc\x92\xe9\x83\xa8,"                  // 東証２部
               "\xe5\x8d\xb8\xe5\xa3\xb2\xe6\xa5\xad\n");                           // 卸売業
    WriteBytes(from / "2222.csv", "Date,Open,High,Low,Close,Volume\n"
                                  "2026-11-24,100,104,99,103,1000\n2026-11-25,103,110,102,108,2000\n"
                                  "2026-11-26,108,109,95,96,1500\n2026-11-27,96,100,96,99,500\n"
                                  "2026-11-30,99,101,97,100,700\n2026-12-01,100,120,100,118,3000\n"
                                  "2026-12-03,118,119,110,111,800\n2026-12-04,111,115,108,114,600\n"
                                  "2026-12-07,114,114,114,114,0\n");
    WriteBytes(from / "7203.T.csv", "2026-12-03,2500,2550,2480,2540,1200000\n2026-12-04,2540,2600,2530,2590,900000\n");
    WriteBytes(from / "5555.csv", "2026-12-04,10,10,10,10,100\n");                       // not in the master
    WriteBytes(from / "6758.csv", "2026-12-04,10,10,10,10,100\n2026-12-05,x,1,1,1,1\n"); // a bad row

    std::ostringstream report;
    EXPECT_EQ(ImportPriceFolder(from, data, report), 2) << report.str();
    EXPECT_TRUE(std::filesystem::exists(data / "prices" / "2222.csv"));
    EXPECT_TRUE(std::filesystem::exists(data / "prices" / "7203.csv"));
    EXPECT_FALSE(std::filesystem::exists(data / "prices" / "6758.csv")) << "all of a file or nothing";
    EXPECT_FALSE(std::filesystem::exists(data / "prices" / "5555.csv"));
    const std::string list = ReadBytes(data / "KabuList.dat");
    EXPECT_NE(
        list.find(Utf8ToShiftJis("2222,\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88\xe5\x95\x86\xe4\xba\x8b,") + "\x93\x8c"),
        std::string::npos);

    std::vector<std::string> warnings;
    const TMarket market = TMarket::Load(data, warnings);
    EXPECT_TRUE(warnings.empty());
    TRunningService running(market, [] { return TDate{2026, 12, 7}; });

    const THistoryRows weeks =
        ParseHistoryPage(Fetch(running.Port, HistoryPath("2222", {2026, 11, 1}, {2026, 12, 7}, 'w')).Body, 0, {});
    const THistoryRows expectedWeeks{{"2026/11/30", 99, 120, 97, 114, 5100}, {"2026/11/24", 100, 110, 95, 99, 5000}};
    EXPECT_EQ(weeks, expectedWeeks);

    const std::optional<TKabuQuote> noTrades =
        ParseQuotePage(Fetch(running.Port, QuotePath("2222.t")).Body, "2222.t", {});
    ASSERT_TRUE(noTrades.has_value());
    EXPECT_EQ(noTrades->KabuKa, 0);
    EXPECT_EQ(noTrades->KabuTime, "");

    const std::optional<TKabuQuote> toyota =
        ParseQuotePage(Fetch(running.Port, QuotePath("7203.t")).Body, "7203.t", {});
    ASSERT_TRUE(toyota.has_value());
    EXPECT_EQ(toyota->KabuKa, 2590 * FixedPointOne);
    EXPECT_EQ(toyota->Zenjitsuhi, 50 * FixedPointOne);
    EXPECT_EQ(toyota->ZenjitsuhiRate, 19700); // 50 / 2540 = 1.9685 %, printed 1.97
    EXPECT_EQ(toyota->KabuTime, "12/04 15:00");
}

// Heavily traded stocks pass 2^31 shares a week (and some a day): the import refused such a
// day, and the program's 32-bit reading of the weekly sum raised its data error.
TEST(ImportPriceFolder, VolumesBeyondThirtyTwoBitsReadBack)
{
    const std::filesystem::path data = FreshFolder("heavy_data");
    const std::filesystem::path from = FreshFolder("heavy_from");
    std::filesystem::copy_file(SampleDataFolder() / "stocks.csv", data / "stocks.csv");
    WriteBytes(from / "8306.csv", "Date,Open,High,Low,Close,Volume\n"
                                  "2026-11-30,1000,1010,990,1000,2000000000\n"
                                  "2026-12-01,1000,1010,990,1000,2100000000\n"
                                  "2026-12-02,1000,1010,990,1000,2200000000\n"
                                  "2026-12-03,1000,1010,990,1000,2300000000\n"
                                  "2026-12-04,1000,1010,990,1005,3000000000\n");
    std::ostringstream report;
    ASSERT_EQ(ImportPriceFolder(from, data, report), 0) << report.str();

    std::vector<std::string> warnings;
    const TMarket market = TMarket::Load(data, warnings);
    TRunningService running(market, [] { return Today; });
    const THistoryRows weeks =
        ParseHistoryPage(Fetch(running.Port, HistoryPath("8306.t", {2026, 11, 30}, Today, 'w')).Body, 0, {});
    const THistoryRows expectedWeeks{{"2026/11/30", 1000, 1010, 990, 1005, 11600000000}};
    EXPECT_EQ(weeks, expectedWeeks);

    const std::optional<TKabuQuote> quote = ParseQuotePage(Fetch(running.Port, QuotePath("8306.t")).Body, "8306.t", {});
    ASSERT_TRUE(quote.has_value());
    EXPECT_EQ(quote->Dekidaka, 3000000000 * FixedPointOne);
}

TEST(RequestLogLine, EscapesEveryByteThatCouldSteerATerminal)
{
    struct Row
    {
        const char* name;
        std::string method;
        std::string target;
        std::string shown; // method and target as the line shows them
    };
    const Row rows[] = {
        {"plain request", "GET", "/MnStock?qt=7203.t", "GET /MnStock?qt=7203.t"},
        {"escape sequence and CR in the method", "G\x1b[2J\rET", "/", "G\\x1b[2J\\x0dET /"},
        {"NUL, LF, DEL and a C1 byte in the target", "GET", std::string("/a\0b\nc\x7f\x9b", 8),
         "GET /a\\x00b\\x0ac\\x7f\\x9b"},
        {"a backslash cannot fake an escape", "GET", "/\\x1b", "GET /\\x5cx1b"},
        {"a long method is cut", std::string(40, 'M'), "/", std::string(20, 'M') + "...(40 bytes) /"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::string line = RequestLogLine("127.0.0.1", row.method, row.target, 400, 12);
        EXPECT_NE(line.find(" 127.0.0.1 " + row.shown + " 400 12"), std::string::npos) << line;
        for (const char c : line)
            EXPECT_TRUE(c >= 0x20 && c < 0x7f) << static_cast<int>(static_cast<unsigned char>(c));
    }
}

// The service logged a client's method raw: ESC and CR went to the terminal that ran it.
TEST(FinanceService, LogsARawRequestLineEscaped)
{
    TRunningService running(SampleMarket(), [] { return Today; });
    {
        TRawConnection connection(running.Port);
        ASSERT_TRUE(connection.Connected);
        ASSERT_TRUE(connection.Send("G\x1b]0;owned\x07\rET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        bool closed = false;
        EXPECT_NE(connection.Receive(2000, closed).find(" 400 "), std::string::npos);
    }
    for (int i = 0; i < 200 && running.Log().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(running.Log().size(), 1u);
    const std::string line = running.Log()[0];
    EXPECT_NE(line.find(" G\\x1b]0;owned\\x07\\x0dET / 400 "), std::string::npos) << line;
}

// With 40 connections open and idle, a request waited 19.6 s: 8 workers, each held 5 s by
// an idle socket. The pool covers the program's connections with room to spare, and an idle
// kept-alive connection is let go after a second.
TEST(FinanceService, IdleConnectionsNeitherStarveARequestNorStayLong)
{
    TRunningService running(SampleMarket(), [] { return Today; });
    std::vector<std::unique_ptr<TRawConnection>> idle;
    for (int i = 0; i < 40; ++i)
    {
        idle.push_back(std::make_unique<TRawConnection>(running.Port));
        ASSERT_TRUE(idle.back()->Connected);
    }
    httplib::Client client(ServiceHost, running.Port);
    client.set_connection_timeout(3, 0);
    client.set_read_timeout(3, 0); // well below the 5 s an idle socket held a worker
    const httplib::Result answer = client.Get(QuotePath("7203.t"));
    ASSERT_TRUE(answer) << "no answer within 3 s";
    EXPECT_EQ(answer->status, 200);

    TRawConnection kept(running.Port);
    ASSERT_TRUE(kept.Connected);
    ASSERT_TRUE(kept.Send("GET " + QuotePath("7203.t") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    bool closed = false;
    const std::string reply = kept.Receive(3000, closed);
    EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_TRUE(closed) << "an idle kept-alive connection stayed open over 3 s";
}

// A request with thousands of byte ranges got a multipart answer repeating the page thousands
// of times (43 MB for one request); a malformed range got 416. Pages are always sent whole.
TEST(FinanceService, SendsEveryPageWholeWhateverRangeIsAsked)
{
    TRunningService running(SampleMarket(), [] { return Today; });
    const std::string path = QuotePath("7203.t");
    const TPage whole = Fetch(running.Port, path);
    ASSERT_EQ(whole.Status, 200);
    std::string thousands = "bytes=";
    for (int i = 0; i < 1500; ++i)
        thousands += std::to_string(i % 10) + "-" + std::to_string(i % 10 + 1) + ",";
    thousands.pop_back();
    struct Row
    {
        const char* name;
        std::string field;
        std::string value;
    };
    const Row rows[] = {
        {"1,500 ranges", "Range", thousands},
        {"one range", "Range", "bytes=0-99"},
        {"a suffix range", "Range", "bytes=-10"},
        {"a malformed range", "Range", "bytes=zz"},
        {"the field in lower case", "range", "bytes=0-0,5-5"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        TRawConnection connection(running.Port);
        ASSERT_TRUE(connection.Send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + row.field + ": " + row.value +
                                    "\r\nConnection: close\r\n\r\n"));
        bool closed = false;
        const std::string reply = connection.Receive(5000, closed);
        EXPECT_TRUE(closed);
        EXPECT_EQ(reply.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << reply.substr(0, 200);
        const std::size_t body = reply.find("\r\n\r\n");
        ASSERT_NE(body, std::string::npos);
        EXPECT_TRUE(reply.substr(body + 4) == whole.Body) << "an answer of " << reply.size() << " bytes";
    }
}

// Heads had no limit but 8 KB a line: any number of lines was read into memory and answered.
TEST(FinanceService, RefusesOversizedHeads)
{
    TRunningService running(SampleMarket(), [] { return Today; });
    const auto fields = [](int count, std::size_t length) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += "X-Field-" + std::to_string(i) + ": " + std::string(length, 'a') + "\r\n";
        return text;
    };
    struct Row
    {
        const char* name;
        std::string target;
        std::string fields;
        std::string status;
    };
    const std::string page = QuotePath("7203.t");
    const Row rows[] = {
        {"100 fields", page, fields(99, 10), "200"}, // and Host
        {"101 fields", page, fields(100, 10), "431"},
        {"a head of just under 16 KB", page, fields(2, 7000) + fields(1, 16384 - 14200), "200"},
        {"a head of 18 KB", page, fields(3, 6000), "431"},
        {"a 9 KB field, as the library refuses it", page, fields(1, 9000), "400"},
        {"a 10 KB request line", QuotePath(std::string(10240, '7')), "", "414"},
        {"a 17 KB request line", QuotePath(std::string(17408, '7')), "", "414"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        std::string head = "GET " + row.target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + row.fields + "\r\n";
        if (row.status == "200")
        {
            ASSERT_LE(head.size(), MaxRequestHead);
        }
        TRawConnection connection(running.Port);
        ASSERT_TRUE(connection.Send(head));
        bool closed = false;
        const std::string reply = connection.Receive(3000, closed);
        EXPECT_EQ(reply.substr(0, 12), "HTTP/1.1 " + row.status) << reply.substr(0, 100);
    }
    EXPECT_EQ(Fetch(running.Port, page).Status, 200);
}

// A 400 MB header flood was read into memory whole before it was answered.
TEST(ServiceProgram, AnswersAHeaderFloodWithoutHoldingIt)
{
    const std::filesystem::path folder = FreshFolder("flood");
    const int port = FreeLoopbackPort();
    TServiceProcess service({"--port", std::to_string(port), "--data", SampleDataFolder().string()}, folder);
    for (int i = 0; i < 500 && !ServiceAnswers(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(ServiceAnswers(port)) << service.Err();
    const long before = service.PeakMemoryKb();

    TRawConnection connection(port);
    ASSERT_TRUE(connection.Send("GET " + QuotePath("7203.t") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
    std::string chunk;
    for (int i = 0; i < 500; ++i)
        chunk += "X-Flood: " + std::string(120, 'f') + "\r\n";
    constexpr std::size_t FloodBytes = 64u << 20;
    std::size_t sent = 0;
    while (sent < FloodBytes && connection.Send(chunk))
        sent += chunk.size();
    connection.Send("\r\n");
    bool closed = false;
    const std::string reply = connection.Receive(5000, closed);
    EXPECT_EQ(reply.rfind("HTTP/1.1 431 ", 0), 0u) << reply.substr(0, 100);

    EXPECT_TRUE(ServiceAnswers(port));
    const long grown = service.PeakMemoryKb() - before;
    EXPECT_LT(grown, 8 * 1024) << "KiB more at the peak after a flood of " << sent << " bytes";
    ::kill(service.Pid, SIGTERM);
    EXPECT_EQ(service.Wait(), 143);
}

// 300 connections that never finished their heads held every worker for 5 s each, so a normal
// request waited about 30 s; a client sending a byte now and then held its worker for ever.
TEST(FinanceService, SlowClientsNeitherStarveARequestNorStayLong)
{
    TRunningService running(SampleMarket(), [] { return Today; });
    const std::string partial = "GET " + QuotePath("7203.t") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    {
        std::vector<std::unique_ptr<TRawConnection>> slow;
        for (int i = 0; i < 300; ++i)
        {
            slow.push_back(std::make_unique<TRawConnection>(running.Port));
            ASSERT_TRUE(slow.back()->Connected);
            slow.back()->Send(partial);
        }
        // The program's own connections: its chain and eight fetched ahead, all at once.
        std::atomic<int> answered{0};
        std::vector<std::thread> clients;
        for (const char* key : {"6758.t", "7203.t", "9984", "8306.t", "4385", "9843.s", "1301.t", "1332.t", "1333.t"})
            clients.emplace_back([&, key] {
                httplib::Client client(ServiceHost, running.Port);
                client.set_connection_timeout(5, 0);
                client.set_read_timeout(5, 0);
                const httplib::Result answer = client.Get(QuotePath(key));
                answered += answer && answer->status == 200 ? 1 : 0;
            });
        for (std::thread& client : clients)
            client.join();
        EXPECT_EQ(answered.load(), 9) << "requests without an answer within 5 s";
    }

    TRawConnection dribbling(running.Port);
    ASSERT_TRUE(dribbling.Send(partial));
    bool closed = false;
    for (int i = 0; i < 60 && !closed; ++i)
    { // at most 12 s, for a deadline of 5
        dribbling.Send("X");
        dribbling.Receive(200, closed);
    }
    EXPECT_TRUE(closed) << "a head sent a byte at a time stayed open over 12 s";
}
