#pragma once

#include "market/calendar.h"
#include "market/market.h"

#include "common/service_contract.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class TConnectionGate;
class TPageServer;
class TServedMarket;

// The HTTP side of orvanta-service: loopback only (ServiceHost), the two page routes, one log
// line per request.

class TFinanceService
{
public:
    //! `today` gives the date synthetic histories end at; `log` gets one line per request.
    TFinanceService(const TMarket& market, std::function<TDate()> today = LocalToday,
                    std::function<void(const std::string&)> log = {});
    //! Each request answers from the market `market` gives at its start (see TLiveMarket).
    TFinanceService(std::function<std::shared_ptr<const TMarket>()> market, std::function<TDate()> today,
                    std::function<void(const std::string&)> log = {});
    ~TFinanceService();
    TFinanceService(const TFinanceService&) = delete;
    TFinanceService& operator=(const TFinanceService&) = delete;

    //! The folder the status answer names and reads its marker and data version from.
    void SetDataFolder(const std::filesystem::path& folder);
    //! Where the status answer takes its data version from (TLiveMarket::ServedVersion); by
    //! default the folder's token.
    void SetDataVersion(std::function<std::string()> version);
    //! Delays every answer by `latency`, to stand for a service far away; call before Serve().
    void SetLatency(std::chrono::milliseconds latency);
    //! Binds 127.0.0.1:port; false when the port is taken.
    bool Bind(int port);
    //! Binds a free port of 127.0.0.1 and returns it, or -1.
    int BindAnyPort();
    //! Serves until Stop(); call after a successful bind.
    void Serve();
    //! Makes Serve() return; safe from any thread, but only once Serve() is running.
    void Stop();
    //! True while Serve() accepts connections.
    bool IsRunning() const;

    //! The bytes the service sends back for `request`, the bytes a client sent on a new
    //! connection, by the same gate and handlers as Serve() but without a socket (for fuzzing).
    //! Empty while the head is incomplete.
    std::string AnswerBytes(std::string_view request);

private:
    std::string RefusalAnswer(int status, const std::string& remote, std::string_view requestLine);
    //! The market a request answers from, with its page texts, made again only when the market changed.
    std::shared_ptr<const TServedMarket> Served();

    std::function<std::shared_ptr<const TMarket>()> Market_;
    std::mutex ServedMutex_;
    std::shared_ptr<const TServedMarket> Served_; // under ServedMutex_; holds its market
    std::function<TDate()> Today_;
    std::function<void(const std::string&)> Log_;
    std::unique_ptr<TPageServer> Server_;
    std::unique_ptr<TConnectionGate> Gate_;
    std::chrono::milliseconds Latency_{0};
    std::filesystem::path DataFolder_;
    std::function<std::string()> DataVersion_;
};

//! The body of GET StatusRoute: which program this is, whose, and what data it serves.
std::string StatusJson(const std::filesystem::path& dataFolder, unsigned uid, const std::string& dataVersion);

//! True when an orvanta-service of this user answers on 127.0.0.1:port: its status names the
//! program and the kernel says the listening socket is this user's.
bool ServiceAnswers(int port);

//! Worker threads of the service: each holds a request from its complete head to its answer
//! (with --latency, for the whole delay), so answers overlap as a remote service's would.
constexpr std::size_t ServiceWorkers = 32;

//! The log line of one request: time, client, method, target (each a TerminalField), status, bytes.
std::string RequestLogLine(const std::string& remote, const std::string& method, const std::string& target, int status,
                           std::size_t bytes);
