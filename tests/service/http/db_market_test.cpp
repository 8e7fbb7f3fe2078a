// A market database, written with plain SQL as a user's own tool would, is served page for page
// as the same days held in memory are: quotes, histories of any range, whole histories.

#include "market/data_version.h"
#include "market/live_market.h"
#include "market/market_db.h"
#include "service_test_support.h"
#include "common/service_contract.h"

#include <httplib.h>
#include <sqlite3.h>

#include <gtest/gtest.h>

namespace {

const TDate Today{2026, 12, 4};
const std::string Prime = "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0"; // プライム
const std::string Fisheries = "\xe6\xb0\xb4\xe7\x94\xa3\xef\xbd\xa5\xe8\xbe\xb2\xe6\x9e\x97\xe6\xa5\xad"; // 水産･農林業

const std::vector<TStock> Master{{"7203", "A", Prime, Fisheries},
                                 {"130A", "B", Prime, Fisheries},
                                 {"25935", "C", Prime, Fisheries},
                                 {"1301", "D", Prime, Fisheries}};

// Three months of weekdays from 2026-01-05: 7203 with 0.1-yen ticks, a 1:2 split on 2/16 and a
// rights issue on 3/2; 130A with a 2:1 consolidation on 2/2 and every fifth day without trades;
// 25935 plain. 1301 has no days.
std::map<std::string, TRawDays> Days()
{
    std::map<std::string, TRawDays> days;
    int t = 0;
    for (TDate date{2026, 1, 5}; date <= TDate{2026, 3, 31}; date = AddDays(date, 1))
    {
        if (Weekday(date) > 4)
            continue;
        ++t;
        const auto day = [&](std::int64_t base, std::int64_t volume, std::string factor) {
            const std::int64_t close = base + t * 37 % 450;
            return TRawDay{date,
                           true,
                           close - 150,
                           close + 310,
                           close - 420,
                           close,
                           volume + t,
                           (close / 100) * volume,
                           std::move(factor)};
        };
        const bool beforeSplit = date < TDate{2026, 2, 16};
        days["7203"].push_back(day(beforeSplit ? 301010 : 150505, 1000,
                                   date == TDate{2026, 2, 16}  ? "0.5"
                                   : date == TDate{2026, 3, 2} ? "0.9878"
                                                               : "1"));
        days["130A"].push_back(
            t % 5 == 0 ? TRawDay{date}
                       : day(date < TDate{2026, 2, 2} ? 10000 : 20000, 5, date == TDate{2026, 2, 2} ? "2" : "1"));
        days["25935"].push_back(day(250000, 300, "1"));
    }
    return days;
}

std::string Decimal(std::int64_t hundredths)
{
    return std::to_string(hundredths / 100) + "." + std::to_string(hundredths % 100 / 10) +
           std::to_string(hundredths % 10);
}

//! A real-data folder whose market.db is made by plain SQL: the contract's statements and `rows`.
std::filesystem::path PlainSqlFolder(const std::string& rows)
{
    const std::filesystem::path folder = FreshFolder("db_market");
    const std::string sql = "CREATE TABLE stocks (code TEXT PRIMARY KEY, name TEXT NOT NULL, market TEXT NOT NULL, "
                            "sector TEXT NOT NULL, source_code TEXT);"
                            "CREATE TABLE daily_bars (code TEXT NOT NULL, date TEXT NOT NULL, open REAL, high REAL, "
                            "low REAL, close REAL, volume INTEGER, turnover INTEGER, adj_factor TEXT NOT NULL DEFAULT "
                            "'1', PRIMARY KEY (code, date)) WITHOUT ROWID; PRAGMA user_version = 1;" +
                            rows;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open((folder / MarketDbFileName).c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    std::filesystem::permissions(folder / MarketDbFileName,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    WriteBytes(folder / RealDataFileName, "by hand\n");
    return folder;
}

std::string StockRows(const std::vector<TStock>& stocks)
{
    std::string sql;
    for (const TStock& stock : stocks)
        sql += "INSERT INTO stocks VALUES ('" + stock.Code + "', '" + stock.Name + "', '" + stock.Market + "', '" +
               stock.Sector + "', NULL);";
    return sql;
}

std::filesystem::path DatabaseFolder()
{
    std::string sql = StockRows(Master);
    for (const auto& [code, stockDays] : Days())
        for (const TRawDay& day : stockDays)
            sql += "INSERT INTO daily_bars VALUES ('" + code + "', '" + DashedDate(day.Date) + "', " +
                   (day.Traded ? Decimal(day.Open) + ", " + Decimal(day.High) + ", " + Decimal(day.Low) + ", " +
                                     Decimal(day.Close) + ", " + std::to_string(day.Volume) + ", " +
                                     std::to_string(day.Turnover)
                               : std::string("NULL, NULL, NULL, NULL, NULL, NULL")) +
                   ", '" + day.AdjFactor + "');";
    return PlainSqlFolder(sql);
}

std::vector<std::string> Paths()
{
    std::vector<std::string> paths;
    for (const char* key : {"7203.t", "130A.t", "25935.t", "1301.t", "9999.t"})
    {
        paths.push_back(std::string(QuoteRoute) + "?qt=" + key + "&sv=MN&pg=mn_schart.html");
        for (const char* range : {"sy=2026&sm=01&sd=01&ey=2026&em=12&ed=04", "sy=2026&sm=02&sd=10&ey=2026&em=03&ed=03",
                                  "sy=2026&sm=03&sd=02&ey=2026&em=03&ed=02"})
            for (const char* period : {"d", "w"})
                paths.push_back(std::string(HistoryRoute) + "?sv=MN&qt=" + key + "&" + range + "&k=" + period);
    }
    for (const char* code : {"7203", "130A", "25935", "1301"})
        for (const char* query :
             {"&period=daily", "&period=weekly", "&period=monthly", "&period=weekly&from=2026-02-16"})
            paths.push_back(std::string(BarsRoute) + "?code=" + code + query);
    return paths;
}

void ExpectTheSamePages(const TMarket& reference, const TMarket& fromDb)
{
    TRunningService expected(reference, [] { return Today; });
    TRunningService served(fromDb, [] { return Today; });
    httplib::Client left(ServiceHost, expected.Port);
    httplib::Client right(ServiceHost, served.Port);
    for (const std::string& path : Paths())
    {
        const httplib::Result a = left.Get(path);
        const httplib::Result b = right.Get(path);
        ASSERT_TRUE(a && b) << path;
        EXPECT_EQ(b->status, a->status) << path;
        EXPECT_TRUE(b->body == a->body) << path << "\n" << b->body.substr(0, 300);
    }
}

TEST(DbMarket, AHandWrittenDatabaseIsServedAsTheSameDaysInMemory)
{
    const std::filesystem::path folder = DatabaseFolder();
    for (const bool raw : {false, true})
    {
        SCOPED_TRACE(raw ? "raw prices" : "adjusted");
        std::vector<std::string> warnings;
        const TMarket reference = TMarket::FromRawDays(Master, Days(), raw, warnings);
        const TMarket fromDb = TMarket::Load(std::vector<std::filesystem::path>{folder}, warnings, raw);
        EXPECT_TRUE(warnings.empty());
        ASSERT_EQ(fromDb.Stocks().size(), Master.size());
        ExpectTheSamePages(reference, fromDb);
    }
}

TEST(DbMarket, AChangeByAnotherProgramIsServedWithoutARestart)
{
    const std::filesystem::path folder = DatabaseFolder();
    TLiveMarket live({folder}, false, [](const std::string&) {});
    const auto newestClose = [&] {
        const TMarket& market = *live.Current();
        return market.QuoteDays(*market.Find("25935"), Today).back().Close;
    };
    const std::int64_t before = newestClose();
    const std::string version = ReadDataVersion(folder);
    EXPECT_FALSE(live.ReloadIfChanged());

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder / MarketDbFileName).c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode = WAL; UPDATE daily_bars SET close = 9999, high = 9999 "
                           "WHERE code = '25935' AND date = '2026-03-31';",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_NE(ReadDataVersion(folder), version);
    EXPECT_TRUE(live.ReloadIfChanged());
    EXPECT_EQ(newestClose(), 9999);
    EXPECT_NE(before, 9999);
    sqlite3_close(db);
}

TEST(DbMarket, RawBarsAreTheStoredDaysWithTheSourcesDecimals)
{
    // 130A: a 1:2 split on 3/4 that raw bars leave as traded, and no trades on 3/3.
    const std::filesystem::path folder = PlainSqlFolder(
        StockRows({{"130A", "B", Prime, Fisheries}, {"1301", "D", Prime, Fisheries}, {"7203", "A", Prime, Fisheries}}) +
        "INSERT INTO daily_bars VALUES ('130A', '2026-03-02', 515.9, 516.05, 515, 515.5, 1200, NULL, '1');"
        "INSERT INTO daily_bars VALUES ('130A', '2026-03-03', NULL, NULL, NULL, NULL, NULL, NULL, '1');"
        "INSERT INTO daily_bars VALUES ('130A', '2026-03-04', 258, 260.1, 257.9, 259, 2400, NULL, '0.5');"
        "INSERT INTO daily_bars VALUES ('1301', '2026-03-02', 0.3, 0.31, 0.29, 0.3, 5000000, NULL, '1');");
    std::vector<std::string> warnings;
    const TMarket market = TMarket::Load(std::vector<std::filesystem::path>{folder}, warnings);
    ASSERT_TRUE(warnings.empty());
    TRunningService running(market, [] { return Today; });
    httplib::Client client(ServiceHost, running.Port);

    const std::string header = std::string(BarsHeader) + "\n";
    const struct
    {
        const char* Query;
        int Status;
        std::string Body;
    } cases[] = {
        {"?code=130A&period=daily&raw=1", 200,
         header + "2026-03-02,515.9,516.05,515,515.5,1200\n2026-03-04,258,260.1,257.9,259,2400\n"},
        {"?code=130a&period=daily&raw=1&from=2026-03-03", 200, header + "2026-03-04,258,260.1,257.9,259,2400\n"},
        {"?code=1301&period=daily&raw=1", 200, header + "2026-03-02,0.3,0.31,0.29,0.3,5000000\n"},
        // Without raw the same days are adjusted: 515.9 halved is 257.95, 258; the volume doubled.
        {"?code=130A&period=daily", 200, header + "2026-03-02,258,258,258,258,2400\n2026-03-04,258,260,258,259,2400\n"},
        {"?code=7203&period=daily&raw=1", 404, "no such stock: 7203\n"},
        {"?code=130A&period=weekly&raw=1", 400, "raw prices are daily only\n"},
        {"?code=130A&period=monthly&raw=1", 400, "raw prices are daily only\n"},
        {"?code=130A&period=daily&raw=0", 400, "raw must be 1\n"},
        {"?code=130A&period=daily&raw=", 400, "raw must be 1\n"},
        {"?code=130A&period=daily&raw=1&raw=0", 400, "repeated raw\n"},
    };
    for (const auto& c : cases)
    {
        const httplib::Result answer = client.Get(std::string(BarsRoute) + c.Query);
        ASSERT_TRUE(answer) << c.Query;
        EXPECT_EQ(answer->status, c.Status) << c.Query;
        EXPECT_EQ(answer->body, c.Body) << c.Query;
    }
}

} // namespace
