#pragma once

#include "market/data_layers.h"
#include "market/market.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// The market a serving process answers from, loaded again whenever a one-shot command (a
// fetch, a listing, an import) replaces the data-version token of the top data folder. The
// new market is built aside and swapped in whole: a request sees the old market or the new
// one, never half of each, and no restart is needed.
class TLiveMarket
{
public:
    //! Loads the market now (throws as TMarket::Load does); `warn` gets each load's warnings.
    TLiveMarket(TDataLayers layers, bool rawPrices, std::function<void(const std::string&)> warn);
    ~TLiveMarket();
    TLiveMarket(const TLiveMarket&) = delete;
    TLiveMarket& operator=(const TLiveMarket&) = delete;

    //! The market of the newest load; it stays valid for as long as the caller holds it.
    std::shared_ptr<const TMarket> Current() const;

    //! Loads again when the data version differs from the one last loaded; true when it swapped.
    //! A load that fails keeps the market served and is reported through `warn`.
    bool ReloadIfChanged();

    //! The data version of the market Current() gives, after loading a changed one: what a
    //! client keys its cache of pages on must be the version those pages come from.
    std::string ServedVersion();

    //! Calls ReloadIfChanged every `period` on a thread of its own, until destroyed.
    void Watch(std::chrono::milliseconds period);

private:
    TDataLayers Layers;
    bool RawPrices;
    std::function<void(const std::string&)> Warn;
    mutable std::mutex MarketMutex;
    std::shared_ptr<const TMarket> Market;
    std::string MarketVersion; // under MarketMutex
    std::mutex ReloadMutex;    // the watcher and status requests reload, one at a time
    std::string LoadedVersion; // under ReloadMutex: the version last tried

    std::mutex WatchMutex;
    std::condition_variable WatchWake;
    bool Stopping = false;
    std::thread Watcher;
};
