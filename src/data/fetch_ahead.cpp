#include "data/fetch_ahead.h"

#include "data/cache_file.h"
#include "data/history_page.h"
#include "data/page_transfer.h"
#include "data/quote_page.h"
#include "data/web_page.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace {

// How far ahead of the chain pages are fetched, in stocks: enough to keep every connection
// busy at a distant service's pace, and little to throw away when a run ends early.
constexpr std::size_t LookAheadStocks = 32;
// A chain waiting for a page handles the window's events this often while no chunk comes,
// so a close request or a repaint does not wait for the service.
constexpr std::chrono::milliseconds SilentPump{50};
// The worker's longest sleep; Stop() and the chain moving on wake it at once.
constexpr int PollMs = 100;

std::atomic<int> ConnectionSetting{DefaultFetchAheadConnections};

enum class TPageState
{
    Gated,    // a history page waiting for its quote page to be read
    Queued,   // to be fetched
    InFlight, // being fetched, or looked up in the cache
    Fetched,  // fetched here and held, not asked for by the chain yet
    Failed,   // fetched here without success: no file
    Skipped,  // not fetched: already in today's cache, or not asked for by the run
    Chain,    // left to the chain
    Read,     // fetched here and read by the chain
};

bool IsOpen(TPageState state)
{
    return state == TPageState::Gated || state == TPageState::Queued;
}

struct TPlannedPage
{
    std::size_t Stock = 0; // index of its key among the distinct keys
    bool History = false;  // a quote page at 2k, its stock's history page at 2k + 1
    std::string CacheFile;
    TPageState State = TPageState::Queued;
    std::uint64_t Chunks = 0; // received so far
    std::string Body;         // while Fetched
    std::chrono::year_month_day AskedOn{}; // the day the service was asked
};

enum class TQuoteVerdict
{
    Quote,   // the chain reads a quote and goes on to the history page
    NoQuote, // the chain skips the stock
    Error,   // the chain's reading raises an error, which ends the run
};

// The chain's reading of a quote page (size limits, then the scrape), without its events.
TQuoteVerdict QuoteVerdict(std::string_view page, const std::string& kabuKey)
{
    try
    {
        if (page.size() < MinQuotePageSize || page.size() > MaxQuotePageSize)
            return TQuoteVerdict::NoQuote;
        return ParseQuotePage(page, kabuKey, {}) ? TQuoteVerdict::Quote : TQuoteVerdict::NoQuote;
    }
    catch (...)
    {
        return TQuoteVerdict::Error;
    }
}

TQuoteVerdict QuoteVerdictOfFile(const std::string& cacheFile, const std::string& kabuKey)
{
    try
    {
        return QuoteVerdict(ReadCacheFile(cacheFile, MaxQuotePageSize + 1), kabuKey);
    }
    catch (...)
    {
        return TQuoteVerdict::Error;
    }
}

// Puts a page fetched ahead into the cache by the same temp-and-rename rule as a fetch.
bool StorePage(const std::string& cacheFile, const std::string& body)
{
    try
    {
        TTempFile temp(cacheFile);
        temp.Write(body);
        temp.Commit();
        return true;
    }
    catch (const std::system_error&)
    {
        return false; // the chain fetches the page itself and meets the same error
    }
}

struct TMultiCleanup
{
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// One transfer under way. TTransfer points at the two callbacks, so it never moves.
struct TActive
{
    std::size_t Page = 0;
    int Attempts = 1;
    CURL* Handle = nullptr;
    TProcessEvents ChunkArrived;
    TCancelled Stopped;
    std::string Body;
    std::chrono::year_month_day AskedOn{};
    TTransfer Transfer;
};

} // namespace

int FetchAheadConnections()
{
    return ConnectionSetting.load();
}

void SetFetchAheadConnections(int connections)
{
    ConnectionSetting = std::clamp(connections, 0, MaxFetchAheadConnections);
}

struct TFetchAhead::TImpl
{
    std::vector<std::string> Keys; // distinct, in list order
    std::vector<TPlannedPage> Pages;
    std::unordered_map<std::string, std::size_t> Index; // cache file -> page
    std::string ServiceAddress;
    std::size_t Connections = 1;
    TTodayClock Today;

    std::mutex Mutex;
    std::condition_variable Changed;
    // Guarded by Mutex: the states and chunk counts of Pages, and these two.
    std::size_t ChainStock = 0; // the furthest stock the chain has asked about
    std::size_t FirstOpen = 0;  // no Gated or Queued page before it
    std::atomic<bool> Stopping{false};
    std::atomic<bool> Ended{false};
    std::atomic<bool> Idle{false}; // set by the worker, cleared when the chain moves on

    std::unique_ptr<CURLM, TMultiCleanup> Multi;
    std::thread Worker;

    // The worker's own, untouched by other threads.
    std::vector<std::unique_ptr<TActive>> Active;
    std::vector<CURL*> Spare; // handles of finished transfers, kept with their settings replaced

    void Run();
    void RunTransfers();
    std::optional<std::size_t> NextPage();
    void Start(std::size_t page);
    std::size_t Collect(); // the number of transfers finished
    void Resolve(std::size_t page, TPageState outcome, std::optional<TQuoteVerdict> verdict, bool unreachable,
                 std::string body = {}, std::chrono::year_month_day askedOn = {});
    void LeaveRestToChain();
    bool HandOver(TPlannedPage& page, std::unique_lock<std::mutex>& lock);
    bool NothingLeft();
};

TFetchAhead::TFetchAhead(const std::vector<std::string>& kabuKeys, int connections, TTodayClock today)
    : Impl(std::make_unique<TImpl>())
{
    TImpl& impl = *Impl;
    impl.ServiceAddress = FinanceServiceAddress();
    impl.Today = today ? std::move(today) : TTodayClock(TodayLocal);
    impl.Connections = static_cast<std::size_t>(std::clamp(connections, 1, MaxFetchAheadConnections));
    std::unordered_set<std::string> seen;
    for (const std::string& key : kabuKeys)
    {
        if (!seen.insert(key).second)
            continue;
        const std::size_t stock = impl.Keys.size();
        impl.Keys.push_back(key);
        TPlannedPage quote;
        quote.Stock = stock;
        quote.CacheFile = QuoteCacheFile(key);
        impl.Pages.push_back(std::move(quote));
        TPlannedPage history;
        history.Stock = stock;
        history.History = true;
        history.CacheFile = HistoryCacheFile(key, TChartPeriod::Weekly);
        history.State = TPageState::Gated;
        impl.Pages.push_back(std::move(history));
    }
    for (std::size_t i = 0; i < impl.Pages.size(); ++i)
        impl.Index.emplace(impl.Pages[i].CacheFile, i);

    InitCurl();
    impl.Multi.reset(curl_multi_init());
    if (!impl.Multi)
        return; // nothing is fetched ahead; the chain fetches every page itself
    const auto connectionCount = static_cast<long>(impl.Connections);
    curl_multi_setopt(impl.Multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, connectionCount);
    curl_multi_setopt(impl.Multi.get(), CURLMOPT_MAX_TOTAL_CONNECTIONS, connectionCount);
    curl_multi_setopt(impl.Multi.get(), CURLMOPT_MAXCONNECTS, connectionCount);
    try
    {
        impl.Worker = std::thread([&impl] {
            pthread_setname_np(pthread_self(), "fetch-ahead"); // as shown by ps and debuggers
            impl.Run();
        });
    }
    catch (const std::system_error&)
    {
        // Without a thread nothing is fetched ahead; the chain fetches every page itself.
    }
}

TFetchAhead::~TFetchAhead()
{
    Stop();
}

void TFetchAhead::Stop()
{
    if (!Impl->Worker.joinable())
        return;
    Impl->Stopping = true;
    curl_multi_wakeup(Impl->Multi.get());
    Impl->Worker.join();
}

bool TFetchAhead::Running() const
{
    return Impl->Worker.joinable() && !Impl->Ended;
}

bool TFetchAhead::Waiting() const
{
    return !Running() || Impl->Idle;
}

bool TFetchAhead::AwaitPage(const std::string& cacheFile, const TProcessEvents& processEvents,
                            const TCancelled& cancelled)
{
    TImpl& impl = *Impl;
    std::unique_lock lock(impl.Mutex);
    const auto found = impl.Index.find(cacheFile);
    if (found == impl.Index.end())
        return false;
    const std::size_t index = found->second;
    TPlannedPage& page = impl.Pages[index];
    if (page.Stock > impl.ChainStock)
    {
        impl.ChainStock = page.Stock;
        impl.Idle = false;
        if (impl.Multi)
            curl_multi_wakeup(impl.Multi.get()); // the look-ahead reaches further now
    }
    switch (page.State)
    {
    case TPageState::Gated:
    case TPageState::Queued:
        // The chain fetches it itself; a history page of a stock the chain fetches the quote
        // of is left to it too, as only the chain learns whether it is asked for.
        page.State = TPageState::Chain;
        if (!page.History && impl.Pages[index + 1].State == TPageState::Gated)
            impl.Pages[index + 1].State = TPageState::Chain;
        return false;
    case TPageState::Fetched:
        return impl.HandOver(page, lock);
    case TPageState::InFlight:
        break;
    default:
        return false;
    }

    // As the chain's own fetch would: events once before, then once per chunk received.
    const auto pump = [&] {
        if (processEvents)
            processEvents();
    };
    lock.unlock();
    pump();
    lock.lock();
    std::uint64_t pumped = 0;
    while (page.State == TPageState::InFlight)
    {
        const bool news = impl.Changed.wait_for(lock, SilentPump, [&] {
            return page.State != TPageState::InFlight || page.Chunks != pumped;
        });
        const std::uint64_t chunks = page.Chunks;
        lock.unlock();
        if (!news)
            pump();
        for (; pumped < chunks; ++pumped)
            pump();
        if (cancelled && cancelled())
            return false;
        lock.lock();
    }
    if (page.State != TPageState::Fetched)
        return false;
    return impl.HandOver(page, lock);
}

void TFetchAhead::TImpl::Run()
{
    try
    {
        RunTransfers();
    }
    catch (...)
    {
        // Whatever went wrong here, the chain fetches what is left itself.
    }
    std::vector<std::size_t> unfinished;
    for (const std::unique_ptr<TActive>& active : Active)
    {
        curl_multi_remove_handle(Multi.get(), active->Handle);
        curl_easy_cleanup(active->Handle);
        unfinished.push_back(active->Page);
    }
    Active.clear();
    for (CURL* handle : Spare)
        curl_easy_cleanup(handle);
    Spare.clear();
    {
        const std::lock_guard lock(Mutex);
        for (const std::size_t page : unfinished)
            Pages[page].State = TPageState::Failed;
    }
    LeaveRestToChain();
    Ended = true;
}

void TFetchAhead::TImpl::RunTransfers()
{
    while (!Stopping)
    {
        while (Active.size() < Connections && !Stopping)
        {
            const std::optional<std::size_t> page = NextPage();
            if (!page)
                break;
            Start(*page);
        }
        if (Active.empty() && NothingLeft())
            return;
        int running = 0;
        curl_multi_perform(Multi.get(), &running);
        // A finished transfer frees its connection for the next page at once.
        if (Collect() == 0)
            curl_multi_poll(Multi.get(), nullptr, 0, PollMs, nullptr);
    }
}

std::optional<std::size_t> TFetchAhead::TImpl::NextPage()
{
    const std::lock_guard lock(Mutex);
    while (FirstOpen < Pages.size() && !IsOpen(Pages[FirstOpen].State))
        ++FirstOpen;
    for (std::size_t i = FirstOpen; i < Pages.size() && Pages[i].Stock <= ChainStock + LookAheadStocks; ++i)
    {
        if (Pages[i].State == TPageState::Queued)
        {
            Pages[i].State = TPageState::InFlight;
            Idle = false;
            return i;
        }
    }
    // With nothing under way, no gated page can open either: only the chain moves things on.
    Idle = Active.empty();
    return std::nullopt;
}

bool TFetchAhead::TImpl::NothingLeft()
{
    const std::lock_guard lock(Mutex);
    while (FirstOpen < Pages.size() && !IsOpen(Pages[FirstOpen].State))
        ++FirstOpen;
    return FirstOpen == Pages.size();
}

void TFetchAhead::TImpl::Start(std::size_t index)
{
    const TPlannedPage& page = Pages[index];
    const std::string& key = Keys[page.Stock];
    if (IsCacheFresh(page.CacheFile))
    {
        // Today's page is there already: the chain reads it. Whether the stock's history is
        // asked for depends on this quote page, unless that page is in the cache too.
        std::optional<TQuoteVerdict> verdict;
        if (!page.History && !IsCacheFresh(Pages[index + 1].CacheFile))
            verdict = QuoteVerdictOfFile(page.CacheFile, key);
        Resolve(index, TPageState::Skipped, verdict, false);
        return;
    }
    CURL* handle = nullptr;
    if (!Spare.empty())
    {
        handle = Spare.back();
        Spare.pop_back();
        curl_easy_reset(handle);
    }
    else
    {
        handle = curl_easy_init();
    }
    if (!handle)
    {
        Resolve(index, TPageState::Failed, std::nullopt, false);
        return;
    }
    auto active = std::make_unique<TActive>();
    active->Page = index;
    active->Handle = handle;
    active->ChunkArrived = [this, index] {
        {
            const std::lock_guard lock(Mutex);
            ++Pages[index].Chunks;
        }
        Changed.notify_all();
    };
    active->Stopped = [this] { return Stopping.load(); };
    active->Transfer.CacheFile = page.CacheFile;
    active->Transfer.Body = &active->Body;
    active->Transfer.ProcessEvents = &active->ChunkArrived;
    active->Transfer.Cancelled = &active->Stopped;
    // The address is made now, as the chain would make it now: a history page asked for
    // after midnight ends on the new day.
    active->AskedOn = Today();
    const std::string url = page.History
                                ? HistoryUrl(ServiceAddress, key, TChartPeriod::Weekly, active->AskedOn)
                                : QuoteUrl(ServiceAddress, key);
    ConfigureRequest(handle, url, active->Transfer);
    if (curl_multi_add_handle(Multi.get(), handle) != CURLM_OK)
    {
        curl_easy_cleanup(handle);
        Resolve(index, TPageState::Failed, std::nullopt, false);
        return;
    }
    Active.push_back(std::move(active));
}

std::size_t TFetchAhead::TImpl::Collect()
{
    std::size_t finished = 0;
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(Multi.get(), &left))
    {
        if (message->msg != CURLMSG_DONE)
            continue;
        const auto found = std::find_if(Active.begin(), Active.end(), [&](const auto& active) {
            return active->Handle == message->easy_handle;
        });
        if (found == Active.end())
            continue;
        TActive& active = **found;
        const CURLcode result = message->data.result;
        curl_multi_remove_handle(Multi.get(), active.Handle);
        if (ConnectFailed(active.Transfer, result) && active.Attempts < ConnectAttempts)
        {
            ++active.Attempts;
            active.Transfer.Connected = false;
            if (curl_multi_add_handle(Multi.get(), active.Handle) == CURLM_OK)
                continue;
        }
        std::int32_t bytes = 0;
        try
        {
            bytes = ReceivedBytes(active.Transfer, result);
        }
        catch (...)
        {
            bytes = 0; // the page stays the chain's, which meets the same error itself
        }
        const bool unreachable = !active.Transfer.Connected && !Stopping;
        const std::size_t index = active.Page;
        const std::chrono::year_month_day askedOn = active.AskedOn;
        std::string body = bytes > 0 ? std::move(active.Body) : std::string();
        Spare.push_back(active.Handle);
        Active.erase(found);
        std::optional<TQuoteVerdict> verdict;
        if (bytes > 0 && !Pages[index].History)
            verdict = QuoteVerdict(body, Keys[Pages[index].Stock]);
        Resolve(index, bytes > 0 ? TPageState::Fetched : TPageState::Failed, verdict, unreachable, std::move(body),
                askedOn);
        ++finished;
    }
    return finished;
}

void TFetchAhead::TImpl::Resolve(std::size_t index, TPageState outcome, std::optional<TQuoteVerdict> verdict,
                                 bool unreachable, std::string body, std::chrono::year_month_day askedOn)
{
    {
        const std::lock_guard lock(Mutex);
        TPlannedPage& page = Pages[index];
        page.State = outcome;
        page.Body = std::move(body);
        page.AskedOn = askedOn;
        if (!page.History && Pages[index + 1].State == TPageState::Gated)
        {
            TPageState& history = Pages[index + 1].State;
            if (!verdict)
                history = outcome == TPageState::Skipped ? TPageState::Skipped : TPageState::Chain;
            else
                history = *verdict == TQuoteVerdict::Quote ? TPageState::Queued : TPageState::Skipped;
        }
        if (verdict == TQuoteVerdict::Error)
        {
            // The run ends at this stock: nothing after it is asked for.
            for (std::size_t i = index + 1; i < Pages.size(); ++i)
                if (IsOpen(Pages[i].State))
                    Pages[i].State = TPageState::Skipped;
        }
    }
    if (unreachable)
        LeaveRestToChain();
    Changed.notify_all();
}

// The page goes into the cache only now that the chain asks for it: a page it never asks
// for (the run ended first) leaves no file, so the cache holds what it would without
// fetching ahead.
bool TFetchAhead::TImpl::HandOver(TPlannedPage& page, std::unique_lock<std::mutex>& lock)
{
    const std::string body = std::move(page.Body);
    page.Body = std::string();
    page.State = TPageState::Read;
    const bool sameDay = page.AskedOn == Today(); // else the chain asks for today's page
    lock.unlock();
    if (sameDay && StorePage(page.CacheFile, body))
        return true;
    lock.lock();
    page.State = TPageState::Failed;
    return false;
}

void TFetchAhead::TImpl::LeaveRestToChain()
{
    {
        const std::lock_guard lock(Mutex);
        for (TPlannedPage& page : Pages)
            if (IsOpen(page.State))
                page.State = TPageState::Chain;
    }
    Changed.notify_all();
}

bool AwaitPageAhead(TFetchAhead* ahead, const std::string& cacheFile,
                    const TProcessEvents& processEvents, const TCancelled& cancelled)
{
    return ahead != nullptr && ahead->AwaitPage(cacheFile, processEvents, cancelled);
}
