// A stock's whole history as CSV: adjusted as the pages adjust, weeks and months made of all
// their days, and a plain one-line reason for anything else.

#include "service_test_support.h"
#include "common/service_contract.h"

#include "data/history_page.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace {

const std::string Prime = "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0"; // プライム
const std::string Fisheries = "\xe6\xb0\xb4\xe7\x94\xa3\xef\xbd\xa5\xe8\xbe\xb2\xe6\x9e\x97\xe6\xa5\xad"; // 水産･農林業
const TDate Today{2026, 12, 4};

TRawDay Day(TDate date, std::int64_t open, std::int64_t high, std::int64_t low, std::int64_t close, std::int64_t volume,
            std::string factor = "1")
{
    return {date, true, open, high, low, close, volume, 0, std::move(factor)};
}

// 130A across a month end and three weeks (2026-03-02 is a Monday): no trades on 3/3, a 1:2
// split on 3/4 (factor 0.5). Prices in hundredths of a yen.
TMarket RealMarket()
{
    const std::map<std::string, TRawDays> days{
        {"130A",
         {Day({2026, 2, 26}, 100000, 101000, 99000, 100500, 100),
          Day({2026, 2, 27}, 100600, 102000, 100000, 101550, 200),
          Day({2026, 3, 2}, 101600, 103000, 101200, 102000, 300), TRawDay{{2026, 3, 3}},
          Day({2026, 3, 4}, 51000, 51500, 50500, 51230, 800, "0.5"),
          Day({2026, 3, 9}, 51300, 52000, 51100, 51800, 400)}},
    };
    std::vector<std::string> warnings;
    TMarket market =
        TMarket::FromRawDays({{"130A", "B", Prime, Fisheries}, {"1301", "C", Prime, Fisheries}}, days, false, warnings);
    EXPECT_TRUE(warnings.empty());
    return market;
}

struct TAnswer
{
    int Status = 0;
    std::string Type;
    std::string Body;
};

TAnswer Get(int port, const std::string& query)
{
    httplib::Client client(ServiceHost, port);
    client.set_read_timeout(10, 0);
    const httplib::Result result = client.Get(std::string(BarsRoute) + query);
    if (!result)
        return {};
    return {result->status, result->get_header_value("Content-Type"), result->body};
}

std::string Csv(std::initializer_list<const char*> lines)
{
    std::string text = std::string(BarsHeader) + "\n";
    for (const char* line : lines)
        text += std::string(line) + "\n";
    return text;
}

TEST(BarsRoute, WholeHistoriesAreAdjustedAndGroupedByWeekAndMonth)
{
    const TMarket market = RealMarket();
    TRunningService running(market, [] { return Today; });

    // Worked by hand: the days before 3/4 halved (1005.0 → 502.5 → 503, 1015.5 → 507.75 → 508)
    // and their volumes doubled; 3/3 had no trades and is no bar.
    const struct
    {
        const char* Query;
        std::string Csv;
    } cases[] = {
        {"?code=130A&period=daily",
         Csv({"2026-02-26,500,505,495,503,200", "2026-02-27,503,510,500,508,400", "2026-03-02,508,515,506,510,600",
              "2026-03-04,510,515,505,512,800", "2026-03-09,513,520,511,518,400"})},
        {"?code=130a&period=weekly",
         Csv({"2026-02-26,500,510,495,508,600", "2026-03-02,508,515,505,512,1400", "2026-03-09,513,520,511,518,400"})},
        {"?code=130A&period=monthly", Csv({"2026-02-26,500,510,495,508,600", "2026-03-02,508,520,505,518,1800"})},
        // `from` keeps whole bars dated on or after it; a bar is still made of all its days.
        {"?code=130A&period=daily&from=2026-03-03",
         Csv({"2026-03-04,510,515,505,512,800", "2026-03-09,513,520,511,518,400"})},
        {"?code=130A&period=weekly&from=2026-03-03", Csv({"2026-03-09,513,520,511,518,400"})},
        {"?code=130A&period=monthly&from=2026-03-02", Csv({"2026-03-02,508,520,505,518,1800"})},
        {"?code=130A&period=monthly&from=2026-03-03", Csv({})},
    };
    for (const auto& c : cases)
    {
        const TAnswer answer = Get(running.Port, c.Query);
        EXPECT_EQ(answer.Status, 200) << c.Query;
        EXPECT_EQ(answer.Type, BarsType) << c.Query;
        EXPECT_EQ(answer.Body, c.Csv) << c.Query;
    }
}

TEST(BarsRoute, AnythingElseGetsAOneLineReason)
{
    const TMarket market = RealMarket();
    TRunningService running(market, [] { return Today; });

    const struct
    {
        const char* Query;
        int Status;
        const char* Reason;
    } cases[] = {
        {"?code=1301&period=daily", 404, "no such stock: 1301\n"}, // listed, but without days
        {"?code=9999&period=daily", 404, "no such stock: 9999\n"},
        {"?code=13O1&period=daily", 400, "malformed code\n"},
        {"?period=daily", 400, "missing code\n"},
        {"?code=130A&code=1301&period=daily", 400, "repeated code\n"},
        {"?code=130A&period=yearly", 400, "period must be daily, weekly or monthly\n"},
        {"?code=130A&period=daily&from=2026/03/01", 400, "from must be a date yyyy-mm-dd\n"},
        {"?code=130A&period=daily&from=2026-02-30", 400, "from must be a date yyyy-mm-dd\n"},
        // Loaded days are whole yen already: the source's decimals are gone.
        {"?code=130A&period=daily&raw=1", 400, "raw prices are not kept by this market\n"},
    };
    for (const auto& c : cases)
    {
        const TAnswer answer = Get(running.Port, c.Query);
        EXPECT_EQ(answer.Status, c.Status) << c.Query;
        EXPECT_EQ(answer.Type, "text/plain; charset=utf-8") << c.Query;
        EXPECT_EQ(answer.Body, c.Reason) << c.Query;
    }
}

std::vector<std::string> CsvLinesOfRows(THistoryRows rows)
{
    std::vector<std::string> lines;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
    {
        std::string date = row->DateText;
        std::replace(date.begin(), date.end(), '/', '-');
        lines.push_back(date + "," + std::to_string(row->OpenPrice) + "," + std::to_string(row->HighPrice) + "," +
                        std::to_string(row->LowPrice) + "," + std::to_string(row->ClosePrice) + "," +
                        std::to_string(row->Dekidaka));
    }
    return lines;
}

std::vector<std::string> LinesFrom(const std::string& body, std::string_view until)
{
    std::vector<std::string> lines;
    std::istringstream in(body);
    std::string line;
    std::getline(in, line); // the header
    while (std::getline(in, line) && line.substr(0, 10) <= until)
        lines.push_back(line);
    return lines;
}

TEST(BarsRoute, TheSampleMarketsHistoryIsWhatItsPagesShowFromItsFirstDay)
{
    TRunningService running(SampleMarket(), [] { return Today; });
    const TAnswer daily = Get(running.Port, "?code=7203&period=daily");
    ASSERT_EQ(daily.Status, 200);
    EXPECT_EQ(daily.Body.substr(std::strlen(BarsHeader) + 1, 11), "2000-01-04,");
    EXPECT_EQ(daily.Body.substr(daily.Body.rfind('\n', daily.Body.size() - 2) + 1, 11), "2026-12-04,");

    // From a Monday to a Friday, so the pages' weeks are whole.
    for (const auto& [period, k] : {std::pair{"daily", 'd'}, std::pair{"weekly", 'w'}})
    {
        httplib::Client client(ServiceHost, running.Port);
        const std::string path =
            std::string(HistoryRoute) + "?sv=MN&qt=7203.t&sy=2026&sm=03&sd=02&ey=2026&em=04&ed=24&k=" + k;
        const httplib::Result history = client.Get(path);
        ASSERT_TRUE(history && history->status == 200) << path;
        const TAnswer bars = Get(running.Port, std::string("?code=7203&from=2026-03-02&period=") + period);
        EXPECT_EQ(LinesFrom(bars.Body, "2026-04-24"), CsvLinesOfRows(ParseHistoryPage(history->body, 0, [] {})))
            << period;
    }
}

} // namespace
