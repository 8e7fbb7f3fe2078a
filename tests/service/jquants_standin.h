#pragma once

#include "market/calendar.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A loopback stand-in of the J-Quants API v2 (/equities/bars/daily and /equities/master) in the
// published format, serving a made-up market from its own thread.

//! One issue of the stand-in's market.
struct TStandinStock
{
    std::string Code;   // 5 characters, as the source writes it
    std::string CoName; // UTF-8
    std::string S33;
    std::string Mkt;
    int ListedFrom = 0; // the trading-day index of its first day
};

//! The market over the weekdays from First to Last. Holidays: the 1st of every month that is a
//! weekday. Prices by trading-day index t (0 for the first trading day), in yen:
//!   close = Base + t, open = close - 10, high = close + 20, low = close - 30,
//!   volume = 1000 * (t + 1), turnover = close * volume;
//! from SplitDay on, 72030's prices are halved (AdjFactor 0.5 on that day), and from
//! ConsolidationDay on, 82330's are doubled (AdjFactor 2 on that day). 13060 has no trades
//! (all null) on every t divisible by 7; day t = JunkDay also carries five records that make
//! no sense (refused by a sound client).
struct TStandinMarket
{
    TDate First;
    TDate Last;
    std::vector<TStandinStock> Stocks;
    int SplitDay = -1;
    int ConsolidationDay = -1;
    int JunkDay = -1;
    bool Large = false; // the generated market of the benchmark: no events, no junk

    static TStandinMarket Small(TDate first, TDate last);
    static TStandinMarket Generated(int stocks, TDate first, TDate last);

    //! The trading days, oldest first.
    std::vector<TDate> TradingDays() const;
    //! Base price of a stock in yen.
    static int Base(size_t stockIndex) { return 1000 + 500 * static_cast<int>(stockIndex); }
};

//! Ways the stand-in breaks the published format, as a broken or hostile source would.
enum class TStandinFault
{
    None,
    SamePageKey,      // every page names the second page's key, so the pages never end
    LongPageKey,      // the next page's key is 64 KiB long
    HugeWithLength,   // the day's records, then 80 MiB of blanks, with a Content-Length
    HugeChunked,      // the same without a length
    HugeGzip,         // the same gzipped: under 100 KB on the wire
    ManyEmptyRecords, // 48 MiB of empty records, {},{},...
    OtherRows,        // the rows asked for, and rows of another stock, of other days and of a
                      // day 30 days after today
    Trickle,          // the answer a byte every 100 ms, the rest at once after 2 s
};

//! A request as the stand-in saw it.
struct TStandinRequest
{
    std::string Path;
    std::string Query; // "date=2025-03-03&pagination_key=..." as sent, key order kept
    std::chrono::steady_clock::time_point Time;
    int Status = 0;
    bool WithKey = false; // an x-api-key header came with it
};

class TJQuantsStandin
{
public:
    static constexpr const char* Key = "test-key-not-a-real-key";

    //! Serves `market` on a free port of 127.0.0.1, `pageSize` records a page.
    explicit TJQuantsStandin(TStandinMarket market, size_t pageSize = 3);
    //! Stops the server before anything its handlers use goes away.
    ~TJQuantsStandin();

    std::string Url() const; // "http://127.0.0.1:<port>/v2"
    const TStandinMarket& Market() const { return Served; }

    //! Days after `day` are refused with 403, as a plan that holds them back.
    void RefuseDaysAfter(TDate day);
    //! The next `count` requests answer 429.
    void Answer429(int count);
    //! The next `count` requests answer `status` with `body`.
    void AnswerWith(int count, int status, std::string body);
    //! Answers bars by date of `from` on, and every bars by code, with `fault`.
    void Misbehave(TStandinFault fault, TDate from = {});
    //! Every answer waits this long first, so a test can stop a fetch in the middle.
    void SetDelay(std::chrono::milliseconds delay);
    //! Request n travels `times[n % size]` each way: it is logged as arriving that long after
    //! it reached the stand-in, and answered as long after that.
    void SetTravel(std::vector<std::chrono::milliseconds> times);

    std::vector<TStandinRequest> Requests() const;
    size_t RequestCount() const;

private:
    struct TState;
    TStandinMarket Served;
    size_t PageSize;
    std::unique_ptr<TState> State;
    std::thread Thread;
    int Port = 0;
};
