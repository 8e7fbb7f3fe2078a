#include "market/live_market.h"

#include "market/data_version.h"

#include <exception>

namespace {

std::shared_ptr<const TMarket> LoadMarket(const TDataLayers& layers, bool rawPrices,
                                          const std::function<void(const std::string&)>& warn)
{
    std::vector<std::string> warnings;
    auto market = std::make_shared<const TMarket>(TMarket::Load(layers, warnings, rawPrices));
    if (warn)
        for (const std::string& warning : warnings)
            warn(warning);
    return market;
}

} // namespace

TLiveMarket::TLiveMarket(TDataLayers layers, bool rawPrices, std::function<void(const std::string&)> warn)
    : Layers(std::move(layers))
    , RawPrices(rawPrices)
    , Warn(std::move(warn))
{
    // The version is read before the data: a change during the load is seen at the next check.
    LoadedVersion = ReadDataVersion(Layers.back());
    Market = LoadMarket(Layers, RawPrices, Warn);
    MarketVersion = LoadedVersion;
}

TLiveMarket::~TLiveMarket()
{
    {
        const std::lock_guard<std::mutex> lock(WatchMutex);
        Stopping = true;
    }
    WatchWake.notify_all();
    if (Watcher.joinable())
        Watcher.join();
}

std::shared_ptr<const TMarket> TLiveMarket::Current() const
{
    const std::lock_guard<std::mutex> lock(MarketMutex);
    return Market;
}

bool TLiveMarket::ReloadIfChanged()
{
    const std::lock_guard<std::mutex> reload(ReloadMutex);
    const std::string version = ReadDataVersion(Layers.back());
    if (version == LoadedVersion)
        return false;
    LoadedVersion = version;
    try {
        std::shared_ptr<const TMarket> fresh = LoadMarket(Layers, RawPrices, Warn);
        const std::lock_guard<std::mutex> lock(MarketMutex);
        Market.swap(fresh);
        MarketVersion = version;
        // The old market goes when its last request is answered, outside the lock.
    } catch (const std::exception& error) {
        if (Warn)
            Warn(std::string("変わったデータを読み込めないため、前のデータを配信します: ") + error.what());
        return false;
    }
    if (Warn)
        Warn("データ版 " + version + " を読み込みました (" + std::to_string(Current()->Stocks().size()) + " 銘柄)");
    return true;
}

std::string TLiveMarket::ServedVersion()
{
    ReloadIfChanged();
    const std::lock_guard<std::mutex> lock(MarketMutex);
    return MarketVersion;
}

void TLiveMarket::Watch(std::chrono::milliseconds period)
{
    Watcher = std::thread([this, period] {
        std::unique_lock<std::mutex> lock(WatchMutex);
        while (!WatchWake.wait_for(lock, period, [this] { return Stopping; })) {
            lock.unlock();
            ReloadIfChanged();
            lock.lock();
        }
    });
}
