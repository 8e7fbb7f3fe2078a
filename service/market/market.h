#pragma once

#include "market/calendar.h"
#include "market/raw_days.h"
#include "market/price_history.h"
#include "market/stock_master.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <string_view>
#include <vector>

// What the service knows, read once at start and only read afterwards (shared by the
// request threads without locks). A market of a database holds only its master: days are read
// from the database when a page asks for them.

class TDbDays;

class TMarket
{
public:
    TMarket(std::vector<TStock> stocks, std::map<std::string, TPriceBars> csvBars);

    //! A market of real data: the master and the stored raw days by served code. Pages show
    //! the days adjusted for later ex-dates, or with `rawPrices` as stored with a split row on
    //! each ex-date; `imported` days (whole yen) serve a stock without stored days; a stock
    //! without either is not found; nothing is made up.
    static TMarket FromRawDays(std::vector<TStock> stocks, const std::map<std::string, TRawDays>& days, bool rawPrices,
                               std::vector<std::string>& warnings, std::map<std::string, TPriceBars> imported = {});

    //! A market of real data in <folder>/market.db, opened read-only: its master now, each stock's
    //! days when a page asks. Throws TDbError for a database it cannot use; rows against the
    //! contract are left out and named in `warnings`, one line per table.
    static TMarket FromDb(const std::filesystem::path& folder, bool rawPrices, std::vector<std::string>& warnings,
                          TDate today);

    //! Reads <dataDir>/stocks.csv and the CSVs <dataDir>/prices/<code>.csv. Throws
    //! std::runtime_error for a missing or bad master; a bad price file is reported in
    //! `warnings` and its stock served with synthetic prices.
    static TMarket Load(const std::filesystem::path& dataDir, std::vector<std::string>& warnings);

    //! The same over data folders laid one over the other, the last on top: the master of the
    //! topmost folder that has one, and per code the price CSV of the topmost folder that has it.
    //! When the top folder holds real data, that folder alone is read: its master and its
    //! stored days (FromRawDays), or its market.db (FromDb) when it has one.
    static TMarket Load(const std::vector<std::filesystem::path>& layers, std::vector<std::string>& warnings,
                        bool rawPrices = false);

    const std::vector<TStock>& Stocks() const { return Stocks_; }
    const TStock* Find(std::string_view code) const;
    bool HasCsv(std::string_view code) const;
    //! True for a market of real data, whose stocks without days are not served.
    bool Real() const { return Real_; }
    //! True when a page of the stock is served: a sample stock always, a real one with days.
    bool Serves(const TStock& stock) const { return !Real_ || HasCsv(stock.Code); }
    //! The ex-dates a raw-price market marks with split rows, oldest first.
    std::vector<TDate> Splits(const TStock& stock) const;

    //! True when the days as traded, with the source's decimals, are at hand: a market of a
    //! database. A loaded market holds them adjusted to whole yen only.
    bool HasRawDays() const { return Db_ != nullptr; }
    //! The stock's stored days up to the market's today, oldest first, days without trades
    //! included; empty when !HasRawDays().
    TRawDays RawDays(const TStock& stock) const;

    //! The stock's days within [first, last], oldest first: its CSV rows, or else its synthetic
    //! days, which end at `today`.
    TPriceBars Days(const TStock& stock, TDate first, TDate last, TDate today) const;

    //! The days the quote page is taken from: all CSV rows, or the synthetic days of the last weeks.
    TPriceBars QuoteDays(const TStock& stock, TDate today) const;

private:
    std::vector<TStock> Stocks_;
    std::map<std::string, TPriceBars> CsvBars_;          // by code
    std::unordered_map<std::string, std::size_t> Index_; // code to its place in Stocks_
    bool Real_ = false;
    std::map<std::string, std::vector<TDate>> Splits_; // by code, raw-price markets only
    std::shared_ptr<TDbDays> Db_;                      // the days of a market of a database
};

//! The figures a history reply serves: the traded days in range, daily or weekly, oldest first
//! (the page shows the newest MaxPageRows of them).
TPriceBars HistoryBars(const TMarket& market, const TStock& stock, bool weekly, TDate first, TDate last, TDate today);

//! Every traded day of the stock up to `today`, oldest first: a real or imported stock's whole
//! record, a sample stock's synthetic days since SyntheticOrigin.
TPriceBars WholeHistory(const TMarket& market, const TStock& stock, TDate today);
