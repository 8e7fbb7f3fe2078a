#include "http/finance_service.h"

#include "http/page_routes.h"
#include "http/request_gate.h"
#include "market/data_version.h"

#include "common/socket_owner.h"
#include "common/terminal_text.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* PageType = "text/html; charset=EUC-JP";
constexpr const char* ServiceVersion = "1.6a";

// A JSON string of outside bytes: quotes, backslashes and control bytes escaped, and a byte
// that is no part of valid UTF-8 shown as U+FFFD, so the answer always parses.
void AppendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    std::size_t i = 0;
    while (i < text.size())
    {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80)
        {
            if (byte == '"' || byte == '\\')
            {
                out += '\\';
                out += static_cast<char>(byte);
            }
            else if (byte < 0x20 || byte == 0x7f)
            {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                out += escaped;
            }
            else
            {
                out += static_cast<char>(byte);
            }
            ++i;
            continue;
        }
        std::size_t length = 0;
        if (byte >= 0xc2 && byte <= 0xdf)
            length = 2;
        else if (byte >= 0xe0 && byte <= 0xef)
            length = 3;
        else if (byte >= 0xf0 && byte <= 0xf4)
            length = 4;
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
        if (valid && length >= 3)
        {
            const auto second = static_cast<unsigned char>(text[i + 1]);
            // Overlong forms, surrogates and code points past U+10FFFF are not valid UTF-8.
            valid = !(byte == 0xe0 && second < 0xa0) && !(byte == 0xed && second >= 0xa0) &&
                    !(byte == 0xf0 && second < 0x90) && !(byte == 0xf4 && second >= 0x90);
        }
        if (valid)
        {
            out.append(text.substr(i, length));
            i += length;
        }
        else
        {
            out += "\\ufffd";
            ++i;
        }
    }
    out += '"';
}

void Answer(httplib::Response& res, const TReply& reply)
{
    res.status = reply.Status;
    res.set_content(reply.Body, reply.Type ? reply.Type : PageType);
    res.set_header("Server", ServiceProgram);
}

//! The status line's text of a head the gate refuses.
const char* RefusalReason(int status)
{
    return status == 414 ? "URI Too Long" : "Request Header Fields Too Large";
}

//! A connection in memory: the request's bytes to read, the answer written.
class TMemoryStream final : public httplib::Stream
{
public:
    explicit TMemoryStream(std::string input) : Input_(std::move(input)) {}

    bool is_readable() const override { return Offset_ < Input_.size(); }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override
    {
        const std::size_t count = std::min(size, Input_.size() - Offset_);
        std::copy_n(Input_.data() + Offset_, count, ptr);
        Offset_ += count;
        return static_cast<ssize_t>(count);
    }
    ssize_t write(const char* ptr, size_t size) override
    {
        Output_.append(ptr, size);
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        ip = ServiceHost;
        port = 0;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        ip = ServiceHost;
        port = DefaultServicePort;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

    const std::string& Written() const { return Output_; }

private:
    std::string Input_;
    std::size_t Offset_ = 0;
    std::string Output_;
};

} // namespace

//! The library's server with its request processing open to the connection gate, which
//! accepts and reads the heads in its place.
class TPageServer : public httplib::Server
{
public:
    bool Answer(httplib::Stream& stream, bool closeConnection, bool& connectionClosed)
    {
        return process_request(stream, closeConnection, connectionClosed, {});
    }
    int ListeningSocket() const { return svr_sock_; }
    void CloseListeningSocket()
    {
        const int sock = svr_sock_.exchange(INVALID_SOCKET);
        if (sock != INVALID_SOCKET)
            ::close(sock);
    }
};

TFinanceService::TFinanceService(const TMarket& market, std::function<TDate()> today,
                                 std::function<void(const std::string&)> log)
    : TFinanceService([&market] { return std::shared_ptr<const TMarket>(std::shared_ptr<void>(), &market); },
                      std::move(today), std::move(log))
{}

TFinanceService::TFinanceService(std::function<std::shared_ptr<const TMarket>()> market, std::function<TDate()> today,
                                 std::function<void(const std::string&)> log)
    : Market_(std::move(market)), Today_(std::move(today)), Log_(std::move(log)),
      Server_(std::make_unique<TPageServer>())
{
    httplib::Server& server = *Server_;
    server.Get(QuoteRoute, [this](const httplib::Request& req, httplib::Response& res) {
        Answer(res, QuoteReply(*Served(), req.params, Today_()));
    });
    server.Get(HistoryRoute, [this](const httplib::Request& req, httplib::Response& res) {
        Answer(res, HistoryReply(*Served(), req.params, Today_()));
    });
    server.Get(BarsRoute, [this](const httplib::Request& req, httplib::Response& res) {
        Answer(res, BarsReply(*Served(), req.params, Today_()));
    });
    server.Get(StatusRoute, [this](const httplib::Request&, httplib::Response& res) {
        const std::string version = DataVersion_ ? DataVersion_() : ReadDataVersion(DataFolder_);
        // The pages follow the market the status names: a market loaded anew here replaces the
        // one the pages were made from now, so the old one is let go at once.
        Served();
        res.set_content(StatusJson(DataFolder_, ::getuid(), version), "application/json");
        res.set_header("Server", ServiceProgram);
    });
    // Unknown paths and errors the library answers itself (414, 400 of a broken request line)
    // still get a small page, never an empty body.
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
        {
            res.set_content(BadRequestPage(res.status == 404 ? "no such page" : "request refused"), PageType);
            res.set_header("Server", ServiceProgram);
        }
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
        std::string what = "内部エラー";
        try
        {
            std::rethrow_exception(error);
        }
        catch (const std::exception& e)
        {
            what += std::string(": ") + e.what();
        }
        catch (...)
        {}
        res.status = 500;
        res.set_content(BadRequestPage("internal error"), PageType);
        std::fprintf(stderr, "orvanta-service: %s\n", TerminalText(what).c_str());
    });
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        const std::string line = RequestLogLine(req.remote_addr, req.method, req.target, res.status, res.body.size());
        if (Log_)
            Log_(line);
        else
            std::fprintf(stderr, "%s\n", line.c_str());
    });
    // The library's default adds SO_REUSEPORT, which would let a second service share the
    // port and answer half of the requests; one service per port is what --check relies on.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // The pages are asked for with GET; a body is never needed, so a client cannot make the
    // service hold a large one in memory.
    server.set_payload_max_length(64 * 1024);

    Gate_ = std::make_unique<TConnectionGate>(
        ServiceWorkers,
        [this](httplib::Stream& stream, bool closeConnection, bool& connectionClosed) {
            return Server_->Answer(stream, closeConnection, connectionClosed);
        },
        [this](int status, const std::string& remote, std::string_view requestLine) {
            return RefusalAnswer(status, remote, requestLine);
        });
}

std::shared_ptr<const TServedMarket> TFinanceService::Served()
{
    std::shared_ptr<const TMarket> market = Market_();
    const std::lock_guard<std::mutex> lock(ServedMutex_);
    // Served_ keeps its market alive, so a new market never comes at the address of the cached one.
    if (!Served_ || &Served_->Market() != market.get())
        Served_ = std::make_shared<const TServedMarket>(std::move(market));
    return Served_;
}

std::string TFinanceService::RefusalAnswer(int status, const std::string& remote, std::string_view requestLine)
{
    const std::string page = BadRequestPage(status == 414 ? "request line too long" : "request header too large");
    const std::size_t space = requestLine.find(' ');
    const std::string_view method = requestLine.substr(0, std::min(space, requestLine.size()));
    std::string_view target = space == std::string_view::npos ? std::string_view() : requestLine.substr(space + 1);
    target = target.substr(0, std::min(target.rfind(' '), target.size()));
    const std::string line = RequestLogLine(remote, std::string(method), std::string(target), status, page.size());
    if (Log_)
        Log_(line);
    else
        std::fprintf(stderr, "%s\n", line.c_str());
    return "HTTP/1.1 " + std::to_string(status) + ' ' + RefusalReason(status) + "\r\nServer: " + ServiceProgram +
           "\r\nContent-Type: " + PageType + "\r\nContent-Length: " + std::to_string(page.size()) +
           "\r\nConnection: close\r\n\r\n" + page;
}

std::string TFinanceService::AnswerBytes(std::string_view request)
{
    const THeadScan scan = ScanRequestHead(request);
    const std::string_view requestLine = request.substr(0, std::min(request.find('\n'), request.size()));
    switch (scan.State)
    {
    case THeadScan::EState::Incomplete:
        return {};
    case THeadScan::EState::RequestLineTooLong:
        return RefusalAnswer(414, ServiceHost, requestLine);
    case THeadScan::EState::FieldsTooLarge:
        return RefusalAnswer(431, ServiceHost, requestLine);
    case THeadScan::EState::Complete:
        break;
    }
    TMemoryStream stream(WithoutRangeFields(request.substr(0, scan.Length)) + std::string(request.substr(scan.Length)));
    bool connectionClosed = false;
    Server_->Answer(stream, true, connectionClosed);
    return stream.Written();
}

void TFinanceService::SetDataVersion(std::function<std::string()> version)
{
    DataVersion_ = std::move(version);
}

void TFinanceService::SetDataFolder(const std::filesystem::path& folder)
{
    // Absolute, so a client can compare it with the folder it means whatever our working folder.
    DataFolder_ = folder.empty() ? folder : std::filesystem::absolute(folder).lexically_normal();
}

void TFinanceService::SetLatency(std::chrono::milliseconds latency)
{
    Latency_ = latency;
    // Each request waits in its own worker, so answers overlap as a remote service's would.
    Server_->set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
        std::this_thread::sleep_for(Latency_);
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

TFinanceService::~TFinanceService()
{
    Stop();
    Server_->CloseListeningSocket(); // bound but never served
}

bool TFinanceService::Bind(int port)
{
    return Server_->bind_to_port(ServiceHost, port);
}

int TFinanceService::BindAnyPort()
{
    return Server_->bind_to_any_port(ServiceHost);
}

void TFinanceService::Serve()
{
    Gate_->Run(Server_->ListeningSocket());
    Server_->CloseListeningSocket();
}

void TFinanceService::Stop()
{
    Gate_->Stop();
}

bool TFinanceService::IsRunning() const
{
    return Gate_->IsRunning();
}

std::string StatusJson(const std::filesystem::path& dataFolder, unsigned uid, const std::string& dataVersion)
{
    // Read at each request: a one-shot command may have made the folder real since the start.
    std::string json;
    const auto field = [&json](const char* name) {
        json += (json.empty() ? "{\"" : ",\"") + std::string(name) + "\":";
    };
    field(StatusProgramField);
    AppendJsonString(json, ServiceProgram);
    field(StatusVersionField);
    AppendJsonString(json, ServiceVersion);
    field(StatusUidField);
    json += std::to_string(uid);
    field(StatusDataField);
    AppendJsonString(json, dataFolder.string());
    field(StatusSampleField);
    json += IsRealDataFolder(dataFolder) ? "false" : "true";
    field(StatusDataVersionField);
    AppendJsonString(json, dataVersion);
    json += '}';
    return json;
}

bool ServiceAnswers(int port)
{
    httplib::Client client(ServiceHost, port);
    client.set_connection_timeout(2, 0);
    client.set_read_timeout(5, 0);
    // Whatever holds the port may send without end: a status is small.
    std::string body;
    const httplib::Result result = client.Get(StatusRoute, [&](const char* data, std::size_t length) {
        body.append(data, length);
        return body.size() <= MaxStatusBytes;
    });
    if (!result || result->status != 200)
        return false;
    // Any program can answer as one of us; only the kernel says whose the listening socket is.
    const nlohmann::json status = nlohmann::json::parse(body, nullptr, false);
    return status.is_object() && status.value(StatusProgramField, nlohmann::json()) == ServiceProgram &&
           LoopbackPortOwner(port) == static_cast<unsigned>(::geteuid());
}

std::string RequestLogLine(const std::string& remote, const std::string& method, const std::string& target, int status,
                           std::size_t bytes)
{
    constexpr std::size_t MaxMethod = 20;
    constexpr std::size_t MaxTarget = 300;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &local);
    return std::string(stamp) + ' ' + TerminalField(remote, MaxTarget) + ' ' + TerminalField(method, MaxMethod) + ' ' +
           TerminalField(target, MaxTarget) + ' ' + std::to_string(status) + ' ' + std::to_string(bytes);
}
