#pragma once

#include "data/cache_file.h"
#include "data/page_events.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Fetch-ahead for a screening run: while the chain works on one stock, the quote and weekly
// history pages of the stocks after it are fetched, so the chain finds them in today's cache.
// Each request is the one the chain's own fetch would make (same address, agent, time-outs,
// proxy rule, size limit), and each page is asked for at most once per run. A page is held
// until the chain asks for it and only then put into the cache, by the same temp-and-rename
// rule: the cache ends up with exactly the files it would have without fetching ahead.

constexpr int DefaultFetchAheadConnections = 4;
constexpr int MaxFetchAheadConnections = 8;

//! Transfers a screening run keeps going ahead of its chain: 0 (nothing fetched ahead) to
//! MaxFetchAheadConnections; DefaultFetchAheadConnections unless set.
int FetchAheadConnections();
//! Sets it; values outside 0 to MaxFetchAheadConnections are clamped.
void SetFetchAheadConnections(int connections);

//! Today's local date as the fetch-ahead reads it; tests put midnight where they want it.
using TTodayClock = std::function<std::chrono::year_month_day()>;

class TFetchAhead
{
public:
    //! Starts fetching, in list order, the quote page and the weekly history page of each key
    //! (a key listed twice is fetched once), at most `connections` transfers at once (clamped
    //! to 1 to MaxFetchAheadConnections), at most a few dozen stocks ahead of the chain.
    //! Pages already in today's cache are not fetched. A history page is fetched only once
    //! its quote page has been read as a quote, as the chain asks for it only then; after a
    //! quote page whose figures do not convert, which ends the run, nothing further is
    //! fetched. A request that cannot reach the service stops the fetch-ahead: the chain
    //! then meets the failure itself, once per page, as without it. `today` dates each
    //! request and each hand-over; it is called from the worker thread too.
    TFetchAhead(const std::vector<std::string>& kabuKeys, int connections, TTodayClock today = TodayLocal);
    //! Stop().
    ~TFetchAhead();
    TFetchAhead(const TFetchAhead&) = delete;
    TFetchAhead& operator=(const TFetchAhead&) = delete;

    //! Gives up every transfer in flight and returns once the worker thread has ended. Pages
    //! held stay available to AwaitPage until this object goes. Call from the thread that made
    //! this object; a second call does nothing.
    void Stop();

    //! True until every page to fetch ahead is settled or Stop() was called.
    bool Running() const;

    //! True while nothing is under way and nothing may start until the chain asks for a page
    //! further on: every page within the look-ahead is settled. Also true once not Running().
    bool Waiting() const;

    //! For the chain, right before it looks for `cacheFile` in today's cache. While the page
    //! is being fetched ahead, waits for it, calling `processEvents` as GetWebPage would
    //! (once at the start, once per chunk received) and also after each 50 ms without a
    //! chunk, and gives up when `cancelled` answers true after one of these calls. A page
    //! not yet started is left to the chain and never fetched ahead. A page fetched ahead is
    //! put into the cache now, unless it was fetched on an earlier day. True when this call
    //! put the page there; false otherwise, and then the chain goes its usual way (cache or
    //! its own fetch).
    bool AwaitPage(const std::string& cacheFile, const TProcessEvents& processEvents,
                   const TCancelled& cancelled);

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};

//! `ahead`->AwaitPage(...), or false when no fetch-ahead runs (`ahead` null).
bool AwaitPageAhead(TFetchAhead* ahead, const std::string& cacheFile,
                    const TProcessEvents& processEvents, const TCancelled& cancelled);
