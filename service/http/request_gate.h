#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
class Stream;
}

// The front of the service's HTTP server. The HTTP library reads a request's head in the
// worker that answers it, with no limit on its length or its time, so a few hundred slow or
// endless heads would hold every worker. Here one thread gathers the heads of all connections
// with poll(), bounded in size, time and number, and only a complete head goes to a worker.

constexpr std::size_t MaxRequestHead = 16 * 1024; // request line and header fields, bytes
constexpr std::size_t MaxHeaderFields = 100;      // header lines
constexpr std::chrono::seconds HeadDeadline{5};   // to send a whole head, or a body
constexpr std::chrono::seconds KeepAliveIdle{1};  // for a kept connection's next request
constexpr std::size_t MaxWaitingConnections = 32; // connections still sending their heads
constexpr std::size_t MaxRequestsPerConnection = 1000;

//! How far the bytes at the start of a connection hold a request head.
struct THeadScan
{
    enum class EState
    {
        Incomplete,
        Complete,
        RequestLineTooLong, // answered 414
        FieldsTooLarge,     // answered 431
    };
    EState State = EState::Incomplete;
    std::size_t Length = 0; // of the head with its blank line, when Complete
};

//! Finds the end of the head as the HTTP library reads it: the request line, then header lines
//! up to one that is exactly CR LF. More than MaxRequestHead bytes or MaxHeaderFields lines
//! before that end is too large.
THeadScan ScanRequestHead(std::string_view bytes);

//! The head without its Range fields, matched without regard to case: the pages are small and
//! always sent whole, where thousands of ranges would repeat a page thousands of times.
std::string WithoutRangeFields(std::string_view head);

class TConnectionGate
{
public:
    //! Answers one request read from the stream, as the HTTP library's process_request does;
    //! false or `connectionClosed` ends the connection.
    using THandler = std::function<bool(httplib::Stream& stream, bool closeConnection, bool& connectionClosed)>;
    //! The whole answer (status line, fields, body) to a head refused with `status`.
    using TRefusal = std::function<std::string(int status, const std::string& remote, std::string_view requestLine)>;

    TConnectionGate(std::size_t workers, THandler handler, TRefusal refusal);
    ~TConnectionGate();
    TConnectionGate(const TConnectionGate&) = delete;
    TConnectionGate& operator=(const TConnectionGate&) = delete;

    //! Accepts on the listening socket and serves until Stop(); closes every connection it
    //! holds before it returns, but not the listening socket.
    void Run(int listenSocket);
    //! Makes Run() return, from any thread, also before Run() has started.
    void Stop();
    bool IsRunning() const { return Running_; }

private:
    struct TConnection
    {
        int Fd = -1;
        std::string Bytes; // read and not yet answered
        std::chrono::steady_clock::time_point Deadline;
        std::size_t Served = 0;
    };

    void Handle(TConnection connection);
    void GiveBack(TConnection connection);
    void Wake();

    THandler Handler_;
    TRefusal Refusal_;
    std::size_t Workers_;
    std::atomic<bool> Stopping_{false};
    std::atomic<bool> Running_{false};
    int WakeRead_ = -1;
    int WakeWrite_ = -1;
    std::mutex ReturnMutex_;
    std::vector<TConnection> Returned_;
};
