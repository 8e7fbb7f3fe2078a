#pragma once

#include "market/fetch_requests.h"
#include "market/raw_days.h"
#include "market/sqlite_db.h"
#include "market/stock_master.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The market of a data folder in one SQLite file, <data>/market.db. Its two tables are an
// interface of their own: users read them with any tool and may fill them by hand, so a
// database made with nothing but these statements is accepted, and every row is checked as it
// is read, never trusted:
//   CREATE TABLE stocks (code TEXT PRIMARY KEY, name TEXT NOT NULL, market TEXT NOT NULL,
//     sector TEXT NOT NULL, source_code TEXT);
//   CREATE TABLE daily_bars (code TEXT NOT NULL, date TEXT NOT NULL, open REAL, high REAL, low REAL,
//     close REAL, volume INTEGER, turnover INTEGER, adj_factor TEXT NOT NULL DEFAULT '1',
//     PRIMARY KEY (code, date)) WITHOUT ROWID;
//   PRAGMA user_version = 1;
// Prices are yen as traded (the source's 0.1-yen ticks), null on a day without trades. Tables
// of the program's own are named orvanta_*.

constexpr const char* MarketDbFileName = "market.db";
constexpr int MarketDbSchema = 1;

//! A stock of the database: the master's fields and the data API's 5-character code, or empty.
struct TDbStock
{
    TStock Stock;
    std::string SourceCode;

    bool operator==(const TDbStock&) const = default;
};

//! Rows read against the contract and skipped, per table, with the first one's reason.
struct TDbSkips
{
    long long Stocks = 0;
    long long Bars = 0;
    std::string FirstStock; // "7203: 市場 … は知らない市場です"
    std::string FirstBar;   // "7203 2026-13-01: 日付ではありません"
    //! How many reasons per table to keep below, the first included; a full check lists them.
    std::size_t Listed = 0;
    std::vector<std::string> StockReasons;
    std::vector<std::string> BarReasons;
};

class TMarketDb
{
public:
    enum class TMode
    {
        ReadOnly,
        Write
    };

    //! Whether <folder>/market.db exists (as anything: what it is, opening says).
    static bool ExistsIn(const std::filesystem::path& folder);

    //! Opens <folder>/market.db. Write makes it when missing, readable by the user alone, with the
    //! schema. Throws TDbError, one line naming the file, for anything but a database of ours or
    //! of the contract: not a regular file, another user's or writable by others, not SQLite,
    //! damaged or cut short, a newer schema, a table or column of the contract missing.
    TMarketDb(const std::filesystem::path& folder, TMode mode);

    const std::filesystem::path& File() const { return Db_.File(); }

    //! Stores one answer and the request it answers in one transaction, durable on return.
    //! Throws TDbError (SQLITE_FULL on a full disk); nothing of the answer is then stored.
    void Commit(const TBarRequest& request, const std::vector<TBarRow>& rows);

    //! Every stored request, oldest first.
    std::vector<TBarRequest> Requests();

    //! Writes what a folder of the chunk store held (the master, every stock's days by served code,
    //! the fetch's requests) in one transaction, marked as converted.
    void WriteConverted(const std::vector<TDbStock>& stocks, const std::map<std::string, TRawDays>& days,
                        const std::vector<TBarRequest>& requests);

    //! Whether WriteConverted has been committed here.
    bool Converted();

    //! Replaces the master in one transaction; the stocks' days stay.
    void ReplaceStocks(const std::vector<TDbStock>& stocks);

    //! The master in code order; rows against the contract are skipped and counted.
    std::vector<TDbStock> Stocks(TDbSkips& skips);

    //! One stock's days up to `today`, oldest first; rows against the contract (a date that is
    //! not one or after today, a price not above zero, high below low, prices half given) are
    //! skipped and counted.
    TRawDays DaysOf(std::string_view code, TDate today, TDbSkips& skips);

    //! The stock's days from `first` up to `today`, oldest first, read as DaysOf reads them.
    TRawDays DaysFrom(std::string_view code, TDate first, TDate today, TDbSkips& skips);

    //! The stock's newest days up to `today`, oldest first: as many as hold `traded` days with
    //! trades and the days without between them, fewer when there are no more.
    TRawDays NewestDays(std::string_view code, std::size_t traded, TDate today, TDbSkips& skips);

    //! Whether the stock has a row of days at all.
    bool HasDays(std::string_view code);

    //! Every stock's days by code, read as DaysOf reads them; a code of no known form is skipped.
    std::map<std::string, TRawDays> AllDays(TDate today, TDbSkips& skips);

    //! Reads every row of daily_bars as AllDays does but keeps none: the rows read, skipped included.
    long long ScanDays(TDate today, TDbSkips& skips);

    TSqliteDb& Db() { return Db_; }

private:
    //! The statement of `sql`, prepared once: a page's few rows cost less than preparing it.
    TStatement& Prepared(std::unique_ptr<TStatement>& slot, const std::string& sql);

    bool Fresh_; // the file was new or empty: the schema is made before anything is read
    TSqliteDb Db_;
    std::unique_ptr<TStatement> DaysFrom_;
    std::unique_ptr<TStatement> NewestDays_;
    std::unique_ptr<TStatement> HasDays_;
};

//! A TDbSkips as the service's log lines: one per table with skipped rows.
std::vector<std::string> SkipWarnings(const std::filesystem::path& file, const TDbSkips& skips);
