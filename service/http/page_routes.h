#pragma once

#include "market/calendar.h"
#include "market/market.h"
#include "pages/page_writer.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

// The two page routes: a request's query read and checked, the market asked, the page made.

using TQueryParams = std::multimap<std::string, std::string>;

struct TReply
{
    int Status = 200;
    std::string Body;           // EUC-JP HTML, unless Type says otherwise
    const char* Type = nullptr; // the Content-Type; null for the pages' own
};

//! A loaded market with its stocks' texts as the pages print them, made once per market, not
//! per page. Only read once made, so the request threads share it without locks.
class TServedMarket
{
public:
    explicit TServedMarket(std::shared_ptr<const TMarket> market);

    const TMarket& Market() const { return *Market_; }
    //! The texts of a stock of this market.
    const TStockPageTexts& PageTexts(const TStock& stock) const { return Texts_.at(stock.Code); }

private:
    std::shared_ptr<const TMarket> Market_;
    std::unordered_map<std::string, TStockPageTexts> Texts_; // by code
};

//! QuoteRoute "?qt=<key>&sv=MN&pg=mn_schart.html".
TReply QuoteReply(const TServedMarket& served, const TQueryParams& params, TDate today);

//! HistoryRoute "?sv=MN&qt=<key>&sy=&sm=&sd=&ey=&em=&ed=&k=w|d".
TReply HistoryReply(const TServedMarket& served, const TQueryParams& params, TDate today);

//! BarsRoute "?code=<code>&period=daily|weekly|monthly[&from=yyyy-mm-dd]": the stock's whole
//! history as CSV; 404 for a stock not served, 400 for a bad query, each a one-line text reason.
TReply BarsReply(const TServedMarket& served, const TQueryParams& params, TDate today);

//! The page of a 400 answer, naming what was wrong.
std::string BadRequestPage(std::string_view reason);
