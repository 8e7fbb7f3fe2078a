// A market of real data as the program reads it: stored raw days adjusted for later ex-dates,
// whole yen rounded half up, nothing made up, split rows with raw prices.

#include "market/adjusted_days.h"
#include "service_test_support.h"
#include "common/service_contract.h"

#include "data/history_page.h"
#include "data/quote_page.h"

#include <httplib.h>

#include <gtest/gtest.h>

namespace {

const std::string Prime = "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0"; // プライム
const std::string Fisheries = "\xe6\xb0\xb4\xe7\x94\xa3\xef\xbd\xa5\xe8\xbe\xb2\xe6\x9e\x97\xe6\xa5\xad"; // 水産･農林業
constexpr std::string_view NotFoundEuc =
    "\xb8\xab\xa4\xc4\xa4\xab\xa4\xea\xa4\xde\xa4\xbb\xa4\xf3\xa4\xc7\xa4\xb7\xa4\xbf"; // 見つかりませんでした

TRawDay Day(int day, std::int64_t open, std::int64_t high, std::int64_t low, std::int64_t close, std::int64_t volume,
            std::string factor = "1")
{
    return {TDate{2026, 3, day}, true, open, high, low, close, volume, 0, std::move(factor)};
}

TRawDay Idle(int day)
{
    return {TDate{2026, 3, day}, false, 0, 0, 0, 0, 0, 0, "1"};
}

// 7203: a 1:2 split on 3/4 (factor 0.5) and a rights issue on 3/5 (factor 0.9878); 3/3 without
// trades. 130A: a 2:1 consolidation on 3/3 (factor 2). Prices in hundredths of a yen.
std::map<std::string, TRawDays> StoredDays()
{
    return {
        {"7203",
         {Day(2, 300000, 310000, 290000, 300100, 1001), Idle(3), Day(4, 150000, 151000, 149000, 150050, 2000, "0.5"),
          Day(5, 301000, 302000, 300000, 301500, 999, "0.9878"), Day(6, 301000, 302000, 300000, 300350, 500)}},
        {"130A", {Day(2, 100025, 100100, 100000, 100025, 5), Day(3, 200000, 200000, 200000, 200000, 7, "2")}},
    };
}

TMarket RealMarket(bool rawPrices)
{
    std::vector<std::string> warnings;
    TMarket market = TMarket::FromRawDays(
        {{"7203", "A", Prime, Fisheries}, {"130A", "B", Prime, Fisheries}, {"1301", "C", Prime, Fisheries}},
        StoredDays(), rawPrices, warnings);
    EXPECT_TRUE(warnings.empty());
    return market;
}

std::string Get(int port, const std::string& path)
{
    httplib::Client client(ServiceHost, port);
    client.set_read_timeout(10, 0);
    const httplib::Result result = client.Get(path);
    EXPECT_TRUE(result && result->status == 200) << path;
    return result ? result->body : std::string();
}

THistoryRows DailyRows(int port, const std::string& key)
{
    const std::string body =
        Get(port, std::string(HistoryRoute) + "?sv=MN&qt=" + key + "&sy=2026&sm=03&sd=01&ey=2026&em=03&ed=31&k=d");
    return ParseHistoryPage(body, 0, [] {});
}

THistoryRow Row(const char* date, std::int32_t open, std::int32_t high, std::int32_t low, std::int32_t close,
                std::int64_t volume)
{
    return {date, open, high, low, close, volume};
}

TEST(RealMarket, PagesShowDaysAdjustedForLaterExDates)
{
    const TMarket market = RealMarket(false);
    TRunningService running(market, [] { return TDate{2026, 12, 4}; });

    // Worked by hand: 3/4 × 0.9878, 3/2 × 0.9878 × 0.5 = 0.4939; volumes divided by the same.
    // 3003.5 and (for 130A) 2000.5 yen and 2.5 shares round up; 3/3 had no trades.
    EXPECT_EQ(DailyRows(running.Port, "7203.t"), (THistoryRows{
                                                     Row("2026/03/06", 3010, 3020, 3000, 3004, 500),
                                                     Row("2026/03/05", 3010, 3020, 3000, 3015, 999),
                                                     Row("2026/03/04", 1482, 1492, 1472, 1482, 2025),
                                                     Row("2026/03/02", 1482, 1531, 1432, 1482, 2027),
                                                 }));
    EXPECT_EQ(DailyRows(running.Port, "130A.t"), (THistoryRows{
                                                     Row("2026/03/03", 2000, 2000, 2000, 2000, 7),
                                                     Row("2026/03/02", 2001, 2002, 2000, 2001, 3),
                                                 }));
    // Lower-case letters are the same stock.
    EXPECT_EQ(DailyRows(running.Port, "130a.t").size(), 2u);

    const std::optional<TKabuQuote> quote = ParseQuotePage(
        Get(running.Port, std::string(QuoteRoute) + "?qt=7203.t&sv=MN&pg=mn_schart.html"), "7203.t", [] {});
    ASSERT_TRUE(quote.has_value());
    EXPECT_EQ(quote->KabuKa, 3004 * FixedPointOne);
    EXPECT_EQ(quote->Zenjitsuhi, -11 * FixedPointOne);

    // A stock of the master without stored days is not made up: the not-found page, status 200.
    for (const std::string& path :
         {std::string(QuoteRoute) + "?qt=1301.t&sv=MN&pg=mn_schart.html",
          std::string(HistoryRoute) + "?sv=MN&qt=1301.t&sy=2026&sm=03&sd=01&ey=2026&em=03&ed=31&k=w"})
        EXPECT_NE(Get(running.Port, path).find(NotFoundEuc), std::string::npos) << path;
}

TEST(RealMarket, RawPricesMarkEachExDateWithASplitRow)
{
    const TMarket market = RealMarket(true);
    TRunningService running(market, [] { return TDate{2026, 12, 4}; });
    // The program reads a split row as the row above's prices and no volume.
    EXPECT_EQ(DailyRows(running.Port, "7203.t"), (THistoryRows{
                                                     Row("2026/03/06", 3010, 3020, 3000, 3004, 500),
                                                     Row("2026/03/05", 3010, 3020, 3000, 3015, 999),
                                                     Row("2026/03/05", 3010, 3020, 3000, 3015, 0),
                                                     Row("2026/03/04", 1500, 1510, 1490, 1501, 2000),
                                                     Row("2026/03/04", 1500, 1510, 1490, 1501, 0),
                                                     Row("2026/03/02", 3000, 3100, 2900, 3001, 1001),
                                                 }));
    // The oldest row of a page is a split row too, and still read.
    EXPECT_EQ(DailyRows(running.Port, "130A.t"), (THistoryRows{
                                                     Row("2026/03/03", 2000, 2000, 2000, 2000, 7),
                                                     Row("2026/03/03", 2000, 2000, 2000, 2000, 0),
                                                     Row("2026/03/02", 1000, 1001, 1000, 1000, 5),
                                                 }));
}

TEST(SampleMarket, ServesLetterCodesWithAHistoryOfTheirOwn)
{
    const TMarket market({{"130A", "A", Prime, Fisheries}, {"0130", "B", Prime, Fisheries}}, {});
    TRunningService running(market, [] { return TDate{2026, 12, 4}; });
    // The board's price, as the page prints it.
    const auto price = [&](const std::string& key) {
        const std::string page = Get(running.Port, std::string(QuoteRoute) + "?qt=" + key + "&sv=MN&pg=mn_schart.html");
        const std::size_t at = page.find("<td class=\"now\"><b>");
        return at == std::string::npos ? std::string() : page.substr(at + 20, page.find("</b>", at) - at - 20);
    };
    EXPECT_FALSE(price("130A.t").empty());
    EXPECT_EQ(price("130a.t"), price("130A.t")) << "letters in either case";
    EXPECT_NE(price("130A.t"), price("0130.t")) << "not the history of the number its digits read as";

    // Codes of no known form are bad requests, as before.
    httplib::Client client(ServiceHost, running.Port);
    for (const char* key : {"13OA.t", "1E00.t", "130AA.t", "130.t"})
    {
        const httplib::Result result = client.Get(std::string(QuoteRoute) + "?qt=" + key + "&sv=MN&pg=mn_schart.html");
        EXPECT_TRUE(result && result->status == 400) << key;
    }
}

TEST(AdjustedDays, FactorsAreReadExactly)
{
    const struct
    {
        const char* text;
        bool valid;
    } rows[] = {{"1", true},     {"0.5", true}, {"10", true},    {"0.9878", true}, {"1.000", true}, {"0", false},
                {"-0.5", false}, {"", false},   {"1e-1", false}, {"0.5.1", false}, {"nan", false}};
    for (const auto& row : rows)
        EXPECT_EQ(ParseFactor(row.text).has_value(), row.valid) << row.text;

    // A factor that cannot be read is 1 and counted; the days stay served.
    int bad = 0;
    const TServedDays served = AdjustedDays(
        {Day(2, 100000, 100000, 100000, 100000, 10), Day(3, 100000, 100000, 100000, 100000, 10, "x")}, false, bad);
    EXPECT_EQ(bad, 1);
    EXPECT_EQ(served.Days.front().Close, 1000);
}

} // namespace
