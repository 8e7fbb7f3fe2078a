#include "http/request_gate.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds WriteTimeout{5};
constexpr int ListenBacklog = 128;

bool IsRangeField(std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    constexpr std::string_view Range = "range";
    if (name.size() != Range.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
    {
        const char c = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
        if (c != Range[i])
            return false;
    }
    return true;
}

//! Waits until the socket is ready for `events` (or has failed), at most until `deadline`.
bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    while (true)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd ready{fd, events, 0};
        const int result = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (result > 0)
            return true;
        if (result < 0 && errno != EINTR)
            return false;
    }
}

bool WouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

void AddressOf(const sockaddr_storage& address, std::string& ip, int& port)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET)
    {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        port = ntohs(in.sin_port);
    }
    else if (address.ss_family == AF_INET6)
    {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
        port = ntohs(in6.sin6_port);
    }
    ip = text;
}

std::string RemoteOf(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    std::string ip;
    int port = 0;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        AddressOf(address, ip, port);
    return ip;
}

//! A connection to the library as a stream: the head already gathered, then the socket, whose
//! reads (a body) end at a deadline however slowly the client sends.
class TGateStream final : public httplib::Stream
{
public:
    TGateStream(int fd, std::string bytes, Clock::time_point readDeadline)
        : Fd_(fd), Bytes_(std::move(bytes)), ReadDeadline_(readDeadline)
    {}

    bool is_readable() const override { return Offset_ < Bytes_.size() || WaitFor(Fd_, POLLIN, ReadDeadline_); }
    bool is_writable() const override { return WaitFor(Fd_, POLLOUT, Clock::now() + WriteTimeout); }

    ssize_t read(char* ptr, size_t size) override
    {
        if (Offset_ < Bytes_.size())
        {
            const std::size_t count = std::min(size, Bytes_.size() - Offset_);
            std::memcpy(ptr, Bytes_.data() + Offset_, count);
            Offset_ += count;
            return static_cast<ssize_t>(count);
        }
        while (WaitFor(Fd_, POLLIN, ReadDeadline_))
        {
            const ssize_t got = ::recv(Fd_, ptr, size, 0);
            if (got >= 0 || !WouldBlock())
                return got;
        }
        return -1;
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        const Clock::time_point deadline = Clock::now() + WriteTimeout;
        while (WaitFor(Fd_, POLLOUT, deadline))
        {
            const ssize_t sent = ::send(Fd_, ptr, size, MSG_NOSIGNAL);
            if (sent >= 0 || !WouldBlock())
                return sent;
        }
        return -1;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getpeername(Fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            AddressOf(address, ip, port);
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(Fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            AddressOf(address, ip, port);
    }

    socket_t socket() const override { return Fd_; }

    //! What the library did not read: the start of the connection's next request.
    std::string Unread() const { return Bytes_.substr(Offset_); }
    std::size_t Consumed() const { return Offset_; }

private:
    int Fd_;
    std::string Bytes_;
    std::size_t Offset_ = 0;
    Clock::time_point ReadDeadline_;
};

} // namespace

THeadScan ScanRequestHead(std::string_view bytes)
{
    std::size_t lineStart = 0;
    std::size_t fields = 0;
    bool requestLine = true;
    while (true)
    {
        const std::size_t end = bytes.find('\n', lineStart);
        const bool tooLarge = end == std::string_view::npos ? bytes.size() >= MaxRequestHead : end >= MaxRequestHead;
        if (tooLarge)
            return {requestLine ? THeadScan::EState::RequestLineTooLong : THeadScan::EState::FieldsTooLarge, 0};
        if (end == std::string_view::npos)
            return {};
        const std::string_view line = bytes.substr(lineStart, end + 1 - lineStart);
        lineStart = end + 1;
        if (requestLine)
        {
            requestLine = false;
        }
        else if (line == "\r\n")
        {
            return {THeadScan::EState::Complete, lineStart};
        }
        else if (++fields > MaxHeaderFields)
        {
            return {THeadScan::EState::FieldsTooLarge, 0};
        }
    }
}

std::string WithoutRangeFields(std::string_view head)
{
    std::string kept;
    kept.reserve(head.size());
    std::size_t start = 0;
    bool requestLine = true;
    while (start < head.size())
    {
        const std::size_t newline = head.find('\n', start);
        const std::size_t end = newline == std::string_view::npos ? head.size() : newline + 1;
        const std::string_view line = head.substr(start, end - start);
        start = end;
        if (!requestLine && IsRangeField(line))
            continue;
        requestLine = false;
        kept += line;
    }
    return kept;
}

TConnectionGate::TConnectionGate(std::size_t workers, THandler handler, TRefusal refusal)
    : Handler_(std::move(handler)), Refusal_(std::move(refusal)), Workers_(workers)
{
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0)
    {
        WakeRead_ = ends[0];
        WakeWrite_ = ends[1];
    }
}

TConnectionGate::~TConnectionGate()
{
    if (WakeRead_ >= 0)
        ::close(WakeRead_);
    if (WakeWrite_ >= 0)
        ::close(WakeWrite_);
}

void TConnectionGate::Stop()
{
    Stopping_ = true;
    Wake();
}

void TConnectionGate::Wake()
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(WakeWrite_, &byte, 1); // a full pipe wakes as well
}

void TConnectionGate::GiveBack(TConnection connection)
{
    {
        const std::lock_guard<std::mutex> lock(ReturnMutex_);
        if (!Stopping_)
        {
            connection.Deadline = Clock::now() + (connection.Bytes.empty() ? KeepAliveIdle : HeadDeadline);
            Returned_.push_back(std::move(connection));
            connection.Fd = -1;
        }
    }
    if (connection.Fd >= 0)
        ::close(connection.Fd);
    Wake();
}

void TConnectionGate::Handle(TConnection connection)
{
    const THeadScan scan = ScanRequestHead(connection.Bytes);
    const std::string_view bytes = connection.Bytes;
    std::string head = WithoutRangeFields(bytes.substr(0, scan.Length));
    const std::size_t headLength = head.size();
    TGateStream stream(connection.Fd, std::move(head) + std::string(bytes.substr(scan.Length)),
                       Clock::now() + HeadDeadline);
    const bool closeConnection = Stopping_ || connection.Served + 1 >= MaxRequestsPerConnection;
    bool connectionClosed = false;
    const bool answered = Handler_(stream, closeConnection, connectionClosed);
    // The library stops reading at a request line it cannot parse: the rest of that head is
    // no request of its own, so the connection ends with the answer.
    if (!answered || connectionClosed || closeConnection || stream.Consumed() < headLength)
    {
        ::close(connection.Fd);
        return;
    }
    connection.Bytes = stream.Unread();
    ++connection.Served;
    GiveBack(std::move(connection));
}

// The accept loop. The HTTP library would accept and then read each head in a worker of its
// own; instead the heads are gathered here, and a connection reaches the library through
// Handle() only with its head complete. A connection that does not finish its head within
// HeadDeadline is closed, and when more than MaxWaitingConnections are waiting, the oldest is
// closed: slow clients then cost one poll entry each, never a worker, and the program's own
// connections, which send their heads at once, are answered whatever else is connected.
void TConnectionGate::Run(int listenSocket)
{
    Running_ = true;
    // The library listens with a backlog of 5: a burst of connections would wait for SYN retries.
    ::listen(listenSocket, ListenBacklog);
    ::fcntl(listenSocket, F_SETFL, ::fcntl(listenSocket, F_GETFL) | O_NONBLOCK);

    httplib::ThreadPool pool(Workers_);
    std::deque<TConnection> waiting; // oldest first
    std::deque<TConnection> refused; // answered; read and dropped for a while so the answer arrives

    const auto drop = [](TConnection& connection) {
        ::close(connection.Fd);
        connection.Fd = -1;
    };
    const auto refuse = [&](TConnection& connection, int status) {
        const std::string_view bytes = connection.Bytes;
        const std::string_view requestLine = bytes.substr(0, std::min(bytes.find('\n'), bytes.size()));
        const std::string answer = Refusal_(status, RemoteOf(connection.Fd), requestLine);
        // The answer is small and the socket's buffer empty: one write, never a wait.
        [[maybe_unused]] const ssize_t sent = ::send(connection.Fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::shutdown(connection.Fd, SHUT_WR);
        connection.Bytes.clear();
        connection.Bytes.shrink_to_fit();
        connection.Deadline = Clock::now() + HeadDeadline;
        refused.push_back(std::move(connection));
        if (refused.size() > MaxWaitingConnections)
        {
            drop(refused.front());
            refused.pop_front();
        }
    };
    // True while the connection keeps waiting for the rest of its head.
    const auto examine = [&](TConnection& connection) {
        const THeadScan scan = ScanRequestHead(connection.Bytes);
        switch (scan.State)
        {
        case THeadScan::EState::Incomplete:
            return true;
        case THeadScan::EState::Complete:
            pool.enqueue([this, handed = connection]() { Handle(handed); });
            return false;
        case THeadScan::EState::RequestLineTooLong:
            refuse(connection, 414);
            return false;
        case THeadScan::EState::FieldsTooLarge:
            refuse(connection, 431);
            return false;
        }
        return false;
    };

    std::vector<pollfd> polled;
    Clock::time_point acceptPausedUntil;
    while (!Stopping_)
    {
        {
            const std::lock_guard<std::mutex> lock(ReturnMutex_);
            for (TConnection& connection : Returned_)
            {
                // A pipelined request may already be whole.
                if (examine(connection))
                    waiting.push_back(std::move(connection));
            }
            Returned_.clear();
        }

        Clock::time_point next = Clock::now() + std::chrono::seconds(1);
        const bool accepting = Clock::now() >= acceptPausedUntil;
        polled.assign({{WakeRead_, POLLIN, 0}, {listenSocket, static_cast<short>(accepting ? POLLIN : 0), 0}});
        if (!accepting)
            next = std::min(next, acceptPausedUntil);
        for (const std::deque<TConnection>* list : {&waiting, &refused})
            for (const TConnection& connection : *list)
            {
                polled.push_back({connection.Fd, POLLIN, 0});
                next = std::min(next, connection.Deadline);
            }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        if (::poll(polled.data(), polled.size(), static_cast<int>(std::clamp<long long>(wait + 1, 0, 1000))) < 0 &&
            errno != EINTR)
            break;
        if (polled[0].revents != 0)
        {
            char drained[64];
            while (::read(WakeRead_, drained, sizeof drained) > 0)
            {}
        }

        const Clock::time_point now = Clock::now();
        // Refused connections first: the loop over the waiting ones refuses more.
        std::size_t index = 2 + waiting.size();
        std::deque<TConnection> stillRefused;
        for (TConnection& connection : refused)
        {
            bool open = now < connection.Deadline;
            if (open && polled[index].revents != 0)
            {
                char dropped[16384];
                const ssize_t got = ::recv(connection.Fd, dropped, sizeof dropped, 0);
                open = got > 0 || (got < 0 && WouldBlock());
            }
            ++index;
            if (open)
                stillRefused.push_back(std::move(connection));
            else
                drop(connection);
        }
        refused.swap(stillRefused);

        index = 2;
        std::deque<TConnection> stillWaiting;
        for (TConnection& connection : waiting)
        {
            const bool ready = polled[index++].revents != 0;
            if (ready)
            {
                char buffer[4096];
                const std::size_t room = MaxRequestHead + 1 - std::min(connection.Bytes.size(), MaxRequestHead);
                const ssize_t got = ::recv(connection.Fd, buffer, std::min(room, sizeof buffer), 0);
                if (got == 0 || (got < 0 && !WouldBlock()))
                {
                    drop(connection);
                    continue;
                }
                if (got > 0)
                {
                    if (connection.Served > 0 && connection.Bytes.empty())
                        connection.Deadline = now + HeadDeadline; // a kept connection's next request begins
                    connection.Bytes.append(buffer, static_cast<std::size_t>(got));
                    if (!examine(connection))
                        continue;
                }
            }
            if (now >= connection.Deadline)
            {
                drop(connection);
                continue;
            }
            stillWaiting.push_back(std::move(connection));
        }
        waiting.swap(stillWaiting);

        if (polled[1].revents != 0)
        {
            while (true)
            {
                const int fd = ::accept4(listenSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0)
                {
                    // Out of descriptors the socket stays readable: pause rather than spin.
                    if (errno == EMFILE || errno == ENFILE)
                        acceptPausedUntil = now + std::chrono::milliseconds(100);
                    break;
                }
                // The answer goes out in more than one write; with Nagle's rule each later write
                // would wait for the client's delayed ACK of the first.
                int yes = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
                TConnection connection;
                connection.Fd = fd;
                connection.Deadline = now + HeadDeadline;
                waiting.push_back(std::move(connection));
            }
        }
        while (waiting.size() > MaxWaitingConnections)
        {
            drop(waiting.front());
            waiting.pop_front();
        }
    }

    for (std::deque<TConnection>* list : {&waiting, &refused})
        for (TConnection& connection : *list)
            drop(connection);
    pool.shutdown();
    {
        const std::lock_guard<std::mutex> lock(ReturnMutex_);
        for (TConnection& connection : Returned_)
            drop(connection);
        Returned_.clear();
    }
    Running_ = false;
}
