#pragma once

#include "calendar.h"
#include "price_history.h"
#include "stock_master.h"

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// What the service knows, read once at start and only read afterwards (shared by the
// request threads without locks), and the pages it answers with.

class TMarket
{
public:
    TMarket(std::vector<TStock> stocks, std::map<std::string, TPriceBars> csvBars);

    //! Reads <dataDir>/stocks.csv and the CSVs <dataDir>/prices/<code>.csv. Throws
    //! std::runtime_error for a missing or bad master; a bad price file is reported in
    //! `warnings` and its stock served with synthetic prices.
    static TMarket Load(const std::filesystem::path& dataDir, std::vector<std::string>& warnings);

    //! The same over data folders laid one over the other, the last on top: the master of the
    //! topmost folder that has one, and per code the price CSV of the topmost folder that has it.
    static TMarket Load(const std::vector<std::filesystem::path>& layers, std::vector<std::string>& warnings);

    const std::vector<TStock>& Stocks() const { return Stocks_; }
    const TStock* Find(std::string_view code) const;
    bool HasCsv(std::string_view code) const { return CsvBars_.count(std::string(code)) > 0; }

    //! The stock's days within [first, last], oldest first: its CSV rows, or else its synthetic
    //! days, which end at `today`.
    TPriceBars Days(const TStock& stock, TDate first, TDate last, TDate today) const;

    //! The days the quote page is taken from: all CSV rows, or the synthetic days of the last weeks.
    TPriceBars QuoteDays(const TStock& stock, TDate today) const;

private:
    std::vector<TStock> Stocks_;
    std::map<std::string, TPriceBars> CsvBars_; // by code
};

using TQueryParams = std::multimap<std::string, std::string>;

struct TReply
{
    int Status = 200;
    std::string Body; // EUC-JP HTML
};

//! "/MnStock?qt=<key>&sv=MN&pg=mn_schart.html".
TReply QuoteReply(const TMarket& market, const TQueryParams& params, TDate today);

//! "/MnStock/slast.html?sv=MN&qt=<key>&sy=&sm=&sd=&ey=&em=&ed=&k=w|d".
TReply HistoryReply(const TMarket& market, const TQueryParams& params, TDate today);

//! The page of a 400 answer, naming what was wrong.
std::string BadRequestPage(std::string_view reason);

//! The figures a history reply serves: the traded days in range, daily or weekly, oldest first
//! (the page shows the newest MaxPageRows of them).
TPriceBars HistoryBars(const TMarket& market, const TStock& stock, bool weekly, TDate first, TDate last,
                       TDate today);
