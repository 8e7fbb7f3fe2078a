// The market database as an interface: a file made with nothing but the contract's statements is
// read, what the fetch commits reads back exactly, and a bad file or row is refused by name.

#include "market/market_db.h"
#include "service_test_support.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

namespace {

const TDate Today{2026, 12, 4};
const std::string Prime = "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0"; // プライム
const std::string Fisheries = "\xe6\xb0\xb4\xe7\x94\xa3\xef\xbd\xa5\xe8\xbe\xb2\xe6\x9e\x97\xe6\xa5\xad"; // 水産･農林業

constexpr const char* ContractSql =
    "CREATE TABLE stocks (code TEXT PRIMARY KEY, name TEXT NOT NULL, market TEXT NOT NULL, sector TEXT NOT NULL, "
    "source_code TEXT);"
    "CREATE TABLE daily_bars (code TEXT NOT NULL, date TEXT NOT NULL, open REAL, high REAL, low REAL, close REAL,"
    "  volume INTEGER, turnover INTEGER, adj_factor TEXT NOT NULL DEFAULT '1', PRIMARY KEY (code, date)) WITHOUT ROWID;"
    "PRAGMA user_version = 1;";

//! Runs plain SQL on <folder>/market.db through SQLite alone, as a user's own tool would.
void Sql(const std::filesystem::path& folder, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder / MarketDbFileName).c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(code, SQLITE_OK) << (error ? error : "") << "\n" << sql;
    sqlite3_free(error);
    sqlite3_close(db);
}

std::filesystem::path ContractFolder(const std::string& name)
{
    const std::filesystem::path folder = FreshFolder(name);
    Sql(folder, ContractSql);
    ::chmod((folder / MarketDbFileName).c_str(), 0600);
    return folder;
}

TRawDay Traded(TDate date, std::int64_t open, std::int64_t high, std::int64_t low, std::int64_t close,
               std::int64_t volume, std::int64_t turnover = 0, std::string factor = "1")
{
    return {date, true, open, high, low, close, volume, turnover, std::move(factor)};
}

TEST(MarketDb, ADatabaseOfTheContractsStatementsAloneIsRead)
{
    const std::filesystem::path folder = ContractFolder("db_contract");
    Sql(folder, "INSERT INTO stocks VALUES ('7203', 'A', '" + Prime + "', '" + Fisheries +
                    "', '72030'), ('130A', 'B', '" + Prime + "', '" + Fisheries +
                    "', NULL);"
                    "INSERT INTO daily_bars VALUES ('7203', '2026-03-02', 515.9, 520, 510.1, 519.9, 1000, 515000, '1'),"
                    " ('7203', '2026-03-03', NULL, NULL, NULL, NULL, NULL, NULL, '1'),"
                    " ('7203', '2026-03-04', 258, 260.5, 257.1, 259.9, 2000, NULL, '0.5'),"
                    " ('130A', '2026-03-02', 0.29, 2.3, 0.1, 2.3, 5, 7, '1');");

    TMarketDb db(folder, TMarketDb::TMode::ReadOnly);
    TDbSkips skips;
    EXPECT_EQ(db.Stocks(skips), (std::vector<TDbStock>{{{"130A", "B", Prime, Fisheries}, ""},
                                                       {{"7203", "A", Prime, Fisheries}, "72030"}}));
    // The source's decimals come back as exact hundredths, also where ×100 is not exact in binary.
    EXPECT_EQ(db.DaysOf("7203", Today, skips),
              (TRawDays{Traded({2026, 3, 2}, 51590, 52000, 51010, 51990, 1000, 515000), TRawDay{{2026, 3, 3}},
                        Traded({2026, 3, 4}, 25800, 26050, 25710, 25990, 2000, 0, "0.5")}));
    EXPECT_EQ(db.DaysOf("130A", Today, skips), (TRawDays{Traded({2026, 3, 2}, 29, 230, 10, 230, 5, 7)}));
    EXPECT_EQ(skips.Stocks + skips.Bars, 0);
    EXPECT_TRUE(db.Requests().empty());
}

TEST(MarketDb, WhatTheFetchCommitsReadsBackAndAFailedCommitLeavesNothing)
{
    const std::filesystem::path folder = FreshFolder("db_commit");
    const TBarRequest first{TBarRequest::TKind::Date, "2026-03-02", 0, "next", {2026, 3, 5}, 2};
    const std::vector<TBarRow> rows{{"72030", Traded({2026, 3, 2}, 123456, 124000, 123000, 123900, 10, 20)},
                                    {"25935", TRawDay{{2026, 3, 2}}}};
    {
        TMarketDb db(folder, TMarketDb::TMode::Write);
        db.Commit(first, rows);
    }
    struct stat info
    {};
    ASSERT_EQ(::stat((folder / MarketDbFileName).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    TMarketDb db(folder, TMarketDb::TMode::Write);
    TDbSkips skips;
    EXPECT_EQ(db.DaysOf("7203", Today, skips), (TRawDays{rows[0].Day}));
    EXPECT_EQ(db.DaysOf("25935", Today, skips), (TRawDays{rows[1].Day}));
    EXPECT_EQ(db.Requests(), (std::vector<TBarRequest>{first}));
    TStatement journal(db.Db(), "PRAGMA journal_mode");
    ASSERT_TRUE(journal.Step());
    EXPECT_EQ(journal.Text(0), "wal");

    // A disk that fills in the middle of an answer: neither its rows nor its request stay.
    db.Db().Exec("PRAGMA max_page_count = 1");
    std::vector<TBarRow> many;
    for (int day = 1; day <= 28; ++day)
        for (const char* code : {"13010", "13020", "13030", "13040", "13050", "13060"})
            many.push_back({code, Traded({2026, 2, day}, 100, 100, 100, 100, 1)});
    const TBarRequest second{TBarRequest::TKind::Code, "13010", 0, "", {2026, 3, 5}, 168};
    try
    {
        db.Commit(second, many);
        ADD_FAILURE() << "the commit went through";
    }
    catch (const TDbError& error)
    {
        EXPECT_EQ(error.Code, SQLITE_FULL) << error.what();
    }
    EXPECT_EQ(db.Requests(), (std::vector<TBarRequest>{first}));
    EXPECT_TRUE(db.DaysOf("1301", Today, skips).empty());
}

TEST(MarketDb, ABadFileIsRefusedInOneLineNamingItAndNothingIsWritten)
{
    const struct
    {
        const char* Case;
        std::function<void(const std::filesystem::path&)> Make;
        const char* Says;
    } cases[] = {
        {"text", [](const auto& file) { WriteBytes(file, std::string(200, 'x')); },
         "SQLite のデータベースではありません"},
        {"cut short",
         [](const auto& file) {
             Sql(file.parent_path(), std::string(ContractSql) + "INSERT INTO stocks VALUES ('1301','" +
                                         std::string(5000, 'a') + "','x','y',NULL);");
             const std::string bytes = ReadBytes(file);
             WriteBytes(file, bytes.substr(0, bytes.size() / 2));
         },
         "途中で切れています"},
        {"newer",
         [](const auto& file) { Sql(file.parent_path(), std::string(ContractSql) + "PRAGMA user_version = 2;"); },
         "この版より新しい形式 (user_version 2) です"},
        {"no bars",
         [](const auto& file) { Sql(file.parent_path(), std::string(ContractSql) + "DROP TABLE daily_bars;"); },
         "表 daily_bars がありません"},
        {"no column",
         [](const auto& file) {
             Sql(file.parent_path(), "CREATE TABLE stocks (code TEXT, name TEXT, market TEXT, sector TEXT);"
                                     "CREATE TABLE daily_bars (code, date, open, high, low, close, volume, turnover, "
                                     "adj_factor); PRAGMA user_version = 1;");
         },
         "表 stocks に列 source_code がありません"},
        {"fifo", [](const auto& file) { ::mkfifo(file.c_str(), 0600); }, "通常のファイルではありません"},
        {"group-writable",
         [](const auto& file) {
             Sql(file.parent_path(), ContractSql);
             ::chmod(file.c_str(), 0620);
         },
         "ほかのユーザーも書き込めるファイルです"},
    };
    for (const auto& c : cases)
    {
        const std::filesystem::path folder = FreshFolder("db_bad");
        const std::filesystem::path file = folder / MarketDbFileName;
        c.Make(file);
        if (std::filesystem::is_regular_file(file) && std::string(c.Case) != "group-writable")
            ::chmod(file.c_str(), 0600);
        const std::string before = std::filesystem::is_regular_file(file) ? ReadBytes(file) : "";
        for (const TMarketDb::TMode mode : {TMarketDb::TMode::ReadOnly, TMarketDb::TMode::Write})
        {
            try
            {
                TMarketDb db(folder, mode);
                ADD_FAILURE() << c.Case << ": opened";
            }
            catch (const TDbError& error)
            {
                const std::string what = error.what();
                EXPECT_EQ(what.rfind(file.string() + ": ", 0), 0u) << c.Case << ": " << what;
                EXPECT_NE(what.find(c.Says), std::string::npos) << c.Case << ": " << what;
                EXPECT_EQ(what.find('\n'), std::string::npos) << c.Case;
            }
        }
        if (std::filesystem::is_regular_file(file))
        {
            EXPECT_TRUE(ReadBytes(file) == before) << c.Case;
        }
    }
}

TEST(MarketDb, RowsAgainstTheContractAreSkippedCountedAndNamedOncePerTable)
{
    const std::filesystem::path folder = ContractFolder("db_rows");
    Sql(folder, "INSERT INTO stocks VALUES ('7203', 'A', '" + Prime + "', '" + Fisheries +
                    "', NULL),"
                    " ('1301', 'B', 'NYSE', '" +
                    Fisheries +
                    "', NULL),"
                    " ('1302', 'C', '" +
                    Prime +
                    "', 'Tech', NULL),"
                    " ('13O3', 'D', '" +
                    Prime + "', '" + Fisheries +
                    "', NULL),"
                    " ('1304', 'E', '" +
                    Prime + "', '" + Fisheries +
                    "', '1304');"
                    "INSERT INTO daily_bars VALUES ('7203', '2026-03-02', 500, 510, 490, 505, 100, NULL, '1'),"
                    " ('7203', '2026-13-01', 500, 510, 490, 505, 100, NULL, '1'),"
                    " ('7203', '2026/03/03', 500, 510, 490, 505, 100, NULL, '1'),"
                    " ('7203', '2200-01-04', 500, 510, 490, 505, 100, NULL, '1'),"
                    " ('7203', '2026-03-05', -500, 510, 490, 505, 100, NULL, '1'),"
                    " ('7203', '2026-03-06', 500, 480, 490, 505, 100, NULL, '1'),"
                    " ('7203', '2026-03-09', 500, NULL, 490, 505, 100, NULL, '1'),"
                    " ('7203', '2026-03-10', 500, 510, 490, 505, -1, NULL, '1'),"
                    " ('7203', '2026-03-11', 'x', 510, 490, 505, 100, NULL, '1');");
    TMarketDb db(folder, TMarketDb::TMode::ReadOnly);
    TDbSkips skips;
    const std::vector<TDbStock> stocks = db.Stocks(skips);
    ASSERT_EQ(stocks.size(), 1u);
    EXPECT_EQ(stocks[0].Stock.Code, "7203");
    EXPECT_EQ(skips.Stocks, 4);
    EXPECT_EQ(db.DaysOf("7203", Today, skips), (TRawDays{Traded({2026, 3, 2}, 50000, 51000, 49000, 50500, 100)}));
    EXPECT_EQ(skips.Bars, 8);
    EXPECT_EQ(db.AllDays(Today, skips).at("7203").size(), 1u);

    const std::vector<std::string> warnings = SkipWarnings(db.File(), skips);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("表 stocks の 4 行"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("1301: 市場 \"NYSE\" は知らない市場です"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("表 daily_bars の 16 行"), std::string::npos) << warnings[1];
    EXPECT_NE(warnings[1].find("7203 2026-03-05: 値段が正の数ではありません"), std::string::npos) << warnings[1];
}

std::string StockSql(const char* code, const std::string& market)
{
    return std::string("INSERT INTO stocks VALUES ('") + code + "', 'A', '" + market + "', '" + Fisheries + "', NULL);";
}

//! Overwrites the database's third page, a page of its tables, leaving the header whole.
void DamageAPage(const std::filesystem::path& file)
{
    std::string bytes = ReadBytes(file);
    ASSERT_GE(bytes.size(), 3u * 4096);
    for (std::size_t i = 2 * 4096 + 8; i < 3 * 4096; i += 7)
        bytes[i] = static_cast<char>(i * 31);
    WriteBytes(file, bytes);
}

TEST(CheckData, TheWholeDatabaseIsScannedAndAnyProblemExitsOne)
{
    std::string goodRows = StockSql("7203", Prime) + StockSql("130A", Prime);
    for (int day = 2; day <= 6; ++day)
        goodRows += "INSERT INTO daily_bars VALUES ('7203', '2026-03-0" + std::to_string(day) +
                    "', 515.9, 520, 510.1, 519.9, 1000, NULL, '1');";
    goodRows += "INSERT INTO daily_bars VALUES ('130A', '2026-03-02', NULL, NULL, NULL, NULL, NULL, NULL, '1');";
    // Enough rows for pages of their own behind the schema's.
    std::string manyRows = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                           "INSERT INTO daily_bars SELECT '7203', date('2010-01-01', '+' || i || ' days'), 100, 100, "
                           "100, 100, i, NULL, '1' FROM n;";
    const struct
    {
        const char* Case;
        std::function<void(const std::filesystem::path&)> Make; // given the folder
        int Status;
        std::vector<std::string> Out;
        std::string Err;
    } cases[] = {
        {"sound",
         [&](const auto& folder) { Sql(folder, std::string(ContractSql) + goodRows); },
         0,
         {"quick_check: ok", "表 stocks: 2 行、うち形が合わない行 0", "表 daily_bars: 6 行、うち形が合わない行 0",
          "問題はありません"},
         ""},
        {"bad rows",
         [&](const auto& folder) {
             Sql(folder, std::string(ContractSql) + goodRows + StockSql("1301", "NYSE") +
                             "INSERT INTO daily_bars VALUES ('7203', '2026-03-09', 500, 480, 490, 505, 100, NULL, '1'),"
                             " ('7203', '2200-01-04', 500, 510, 490, 505, 100, NULL, '1'),"
                             " ('13O3', '2026-03-02', 500, 510, 490, 505, 100, NULL, '1');");
         },
         1,
         {"quick_check: ok", "表 stocks: 3 行、うち形が合わない行 1", "  1301: 市場 \"NYSE\" は知らない市場です",
          "表 daily_bars: 9 行、うち形が合わない行 3", "  13O3 2026-03-02: 銘柄コードではありません",
          "  7203 2026-03-09: 高値が安値より低くなっています", "  7203 2200-01-04: 今日より後の日付です",
          "問題があります"},
         ""},
        {"damaged page",
         [&](const auto& folder) {
             Sql(folder, std::string(ContractSql) + goodRows + manyRows);
             DamageAPage(folder / MarketDbFileName);
         },
         1,
         {"quick_check: 損傷があります", "  *** in database main ***", "問題があります"},
         ""},
        {"cut short",
         [&](const auto& folder) {
             Sql(folder, std::string(ContractSql) + goodRows + manyRows);
             const std::string bytes = ReadBytes(folder / MarketDbFileName);
             WriteBytes(folder / MarketDbFileName, bytes.substr(0, bytes.size() / 2));
         },
         1,
         {},
         "途中で切れています"},
        {"not a database",
         [](const auto& folder) { WriteBytes(folder / MarketDbFileName, std::string(200, 'x')); },
         1,
         {},
         "SQLite のデータベースではありません"},
        {"no database", [](const auto&) {}, 1, {"market.db: ありません"}, ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.Case);
        const std::filesystem::path folder = FreshFolder("check_data");
        c.Make(folder);
        if (std::filesystem::exists(folder / MarketDbFileName))
            ::chmod((folder / MarketDbFileName).c_str(), 0600);
        const TProgramRun run = RunServiceProgram({"--data", folder.string(), "--check-data"});
        EXPECT_EQ(run.Status, c.Status) << run.Out << run.Err;
        std::size_t at = 0;
        for (const std::string& line : c.Out)
        {
            const std::size_t found = run.Out.find(line + "\n", at);
            EXPECT_NE(found, std::string::npos) << line << "\n" << run.Out;
            at = found == std::string::npos ? at : found;
        }
        if (c.Err.empty())
            EXPECT_EQ(run.Err, "");
        else
        {
            // The open's one line, naming the file; nothing said on stdout.
            EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
            EXPECT_NE(run.Err.find((folder / MarketDbFileName).string() + ": "), std::string::npos) << run.Err;
            EXPECT_NE(run.Err.find(c.Err), std::string::npos) << run.Err;
            EXPECT_EQ(run.Out, "");
        }
    }
    EXPECT_EQ(RunServiceProgram({"--check-data", "--make-list"}).Status, 64);
}

} // namespace
