#include "data/web_page.h"

#include "common/service_contract.h"
#include "common/socket_owner.h"
#include "data/data_error.h"
#include "data/page_transfer.h"

#include <arpa/inet.h>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>

namespace {

// Between "Internet" and "Explorer" stands the ideographic space, Shift_JIS 0x81 0x40.
constexpr char UserAgent[] = "Microsoft Internet\x81\x40"
                             "Explorer";
constexpr long ConnectTimeoutMs = 35000;
// A transfer this long without a chunk lets the window handle its events.
constexpr std::chrono::milliseconds StallEvents{250};

std::string& ServiceAddress()
{
    static std::string address = LoopbackServiceUrl(DefaultServicePort);
    return address;
}

std::chrono::milliseconds& IdleLimit()
{
    static std::chrono::milliseconds limit{35000};
    return limit;
}

// Read by the fetch-ahead's worker too; -1 for none.
std::atomic<std::int64_t> PinnedOwner{-1};

std::chrono::milliseconds& Deadline()
{
    static std::chrono::milliseconds deadline{120000};
    return deadline;
}

using TClock = std::chrono::steady_clock;

bool IsCancelled(const TTransfer& transfer)
{
    return *transfer.Cancelled && (*transfer.Cancelled)();
}

// The file is made once the service has answered, before the first body byte: a cache file
// that cannot be created is then the data error even for an empty body, while a service
// that never answers leaves dat/ as it was.
bool OpenTempFile(TTransfer& transfer)
{
    if (transfer.Temp || transfer.Body)
        return true;
    try
    {
        transfer.Temp.emplace(transfer.CacheFile);
        return true;
    }
    catch (const std::system_error& error)
    {
        transfer.Error = std::make_exception_ptr(TDataError(error.what()));
        return false;
    }
}

// False when the handled events threw; the exception is parked for the caller.
bool ProcessEvents(TTransfer& transfer)
{
    transfer.LastEvents = TClock::now();
    try
    {
        if (*transfer.ProcessEvents)
            (*transfer.ProcessEvents)();
        return true;
    }
    catch (...)
    {
        transfer.Error = std::current_exception();
        return false;
    }
}

bool IsSuccess(int status)
{
    return status >= 200 && status <= 299;
}

std::size_t ReadHeader(char* data, std::size_t size, std::size_t count, void* user)
{
    auto& transfer = *static_cast<TTransfer*>(user);
    transfer.LastByte = TClock::now();
    // Each response starts with its status line; an interim 1xx one comes before the last.
    if (const std::optional<int> status = HttpStatusOfLine(std::string_view(data, size * count)))
        transfer.Status = *status;
    // An answer that is not a success is no page at all (another program on the port, a
    // proxy's error page): nothing is made for it, as for a service that cannot be reached.
    if (!IsSuccess(transfer.Status))
        return size * count;
    return OpenTempFile(transfer) ? size * count : 0;
}

std::size_t WriteChunk(char* data, std::size_t size, std::size_t count, void* user)
{
    auto& transfer = *static_cast<TTransfer*>(user);
    const std::size_t bytes = size * count;
    if (bytes == 0 || !IsSuccess(transfer.Status) || !OpenTempFile(transfer))
        return 0;
    if (transfer.Total + static_cast<std::int64_t>(bytes) > MaxPageBytes)
        return 0; // no page of the service is this large: the fetch fails
    try
    {
        if (transfer.Body)
            transfer.Body->append(data, bytes);
        else
            transfer.Temp->Write(std::string_view(data, bytes));
    }
    catch (const std::system_error& error)
    {
        transfer.Error = std::make_exception_ptr(TDataError(error.what()));
        return 0;
    }
    catch (...)
    {
        transfer.Error = std::current_exception();
        return 0;
    }
    transfer.Total += static_cast<std::int64_t>(bytes);
    transfer.LastByte = TClock::now();
    // The events just handled may have been the close request.
    return ProcessEvents(transfer) && !IsCancelled(transfer) ? bytes : 0;
}

bool IsLoopbackAddress(const char* address)
{
    in_addr v4{};
    if (inet_pton(AF_INET, address, &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address, &v6) != 1)
        return false;
    return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
}

// A socket is opened only for a new connection; a kept one was checked when it was made.
int MarkNewConnection(void* user, curl_socket_t, curlsocktype purpose)
{
    if (purpose == CURLSOCKTYPE_IPCXN)
        static_cast<TTransfer*>(user)->NewConnection = true;
    return CURL_SOCKOPT_OK;
}

bool PeerMayAnswer(const char* primaryIp, int primaryPort, const char* localIp, int localPort)
{
    const std::optional<unsigned> owner = ServiceOwner();
    if (!owner || primaryIp == nullptr || !IsLoopbackAddress(primaryIp))
        return true;
    return PeerSocketOwner({localIp ? localIp : "", localPort}, {primaryIp, primaryPort}) == owner;
}

// Runs once the connection stands, before the request goes out.
int Connected(void* user, char* primaryIp, char* localIp, int primaryPort, int localPort)
{
    auto& transfer = *static_cast<TTransfer*>(user);
    if (std::exchange(transfer.NewConnection, false) && !PeerMayAnswer(primaryIp, primaryPort, localIp, localPort))
        return CURL_PREREQFUNC_ABORT; // nothing is asked of it: as a service that never answered
    transfer.Connected = true;
    transfer.LastByte = TClock::now();
    return CURL_PREREQFUNC_OK;
}

// libcurl calls this at least once a second. Its low-speed limit averages over a period;
// what is wanted is "no byte for 35 s", and a transfer given up at once on the close request.
// A service that has gone quiet would otherwise hold the window, and its close request, until
// the next byte or the idle limit: a stall lets the window handle its events as a chunk does.
int CheckTransfer(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto& transfer = *static_cast<TTransfer*>(user);
    const TClock::time_point now = TClock::now();
    if (transfer.Connected && now - transfer.LastByte >= IdleLimit())
        return 1;
    if (transfer.EventsInStalls && now - transfer.LastEvents >= StallEvents && !ProcessEvents(transfer))
        return 1;
    return IsCancelled(transfer) ? 1 : 0;
}

struct TCurlCleanup
{
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

struct TUrlCleanup
{
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// One handle per thread is kept between pages, so its connection to the service is used
// again while the service keeps it open.
struct TKeptHandle
{
    std::unique_ptr<CURL, TCurlCleanup> Handle;
    bool Busy = false;
};

TKeptHandle& KeptHandle()
{
    thread_local TKeptHandle kept;
    return kept;
}

bool IsLoopbackHost(std::string host)
{
    for (char& c : host)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    if (host == "localhost" || host.ends_with(".localhost"))
        return true;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    {
        std::string address = host.substr(1, host.size() - 2);
        address = address.substr(0, address.find('%')); // a zone id
        in6_addr v6{};
        return inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IsLoopbackAddress(address.c_str());
    }
    // inet_aton reads the forms the resolver takes too: 127.1, 0x7f.0.0.1, 2130706433.
    in_addr v4{};
    return inet_aton(host.c_str(), &v4) != 0 && (ntohl(v4.s_addr) >> 24) == 127;
}

} // namespace

// Every request's settings, in one place so that each transfer carries exactly the same:
// agent, proxy rule, time-outs, size limit and callbacks.
void ConfigureRequest(CURL* handle, const std::string& url, TTransfer& transfer)
{
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_USERAGENT, UserAgent);
    // Without CURLOPT_PROXY libcurl takes http_proxy, https_proxy, all_proxy and no_proxy from
    // the environment. A proxy would see every stock looked up on the bundled service and could
    // answer for it, so loopback gets an explicit "no proxy".
    if (IsLoopbackUrl(url))
        curl_easy_setopt(handle, CURLOPT_PROXY, "");
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(Deadline().count()));
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxPageBytes));
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteChunk);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, ReadHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_SOCKOPTFUNCTION, MarkNewConnection);
    curl_easy_setopt(handle, CURLOPT_SOCKOPTDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, Connected);
    curl_easy_setopt(handle, CURLOPT_PREREQDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, CheckTransfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
}

std::optional<int> HttpStatusOfLine(std::string_view line)
{
    if (!line.starts_with("HTTP/"))
        return std::nullopt;
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos || line.size() < blank + 4)
        return 0;
    int status = 0;
    for (std::size_t i = blank + 1; i < blank + 4; ++i)
    {
        if (line[i] < '0' || line[i] > '9')
            return 0;
        status = status * 10 + (line[i] - '0');
    }
    return status;
}

bool ConnectFailed(const TTransfer& transfer, CURLcode result)
{
    return !transfer.Connected && !IsCancelled(transfer) &&
           (result == CURLE_COULDNT_CONNECT || result == CURLE_OPERATION_TIMEDOUT);
}

std::int32_t ReceivedBytes(const TTransfer& transfer, CURLcode result)
{
    if (transfer.Error)
        std::rethrow_exception(transfer.Error);
    if (result != CURLE_OK || !IsSuccess(transfer.Status) || transfer.Total == 0 ||
        !(transfer.Temp || transfer.Body))
        return 0;
    return static_cast<std::int32_t>(transfer.Total);
}

std::int32_t FinishTransfer(TTransfer& transfer, CURLcode result)
{
    if (ReceivedBytes(transfer, result) == 0)
        return 0;
    try
    {
        transfer.Temp->Commit();
    }
    catch (const std::system_error& error)
    {
        throw TDataError(error.what());
    }
    return static_cast<std::int32_t>(transfer.Total);
}

void InitCurl()
{
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

const std::string& FinanceServiceAddress()
{
    return ServiceAddress();
}

void SetFinanceServiceAddress(std::string address)
{
    ServiceAddress() = std::move(address);
}

std::optional<unsigned> ServiceOwner()
{
    const std::int64_t owner = PinnedOwner.load();
    return owner < 0 ? std::nullopt : std::optional<unsigned>(static_cast<unsigned>(owner));
}

void SetServiceOwner(std::optional<unsigned> uid)
{
    PinnedOwner = uid ? static_cast<std::int64_t>(*uid) : -1;
}

std::chrono::milliseconds ReceiveTimeout()
{
    return IdleLimit();
}

void SetReceiveTimeout(std::chrono::milliseconds timeout)
{
    IdleLimit() = timeout;
}

std::chrono::milliseconds TransferDeadline()
{
    return Deadline();
}

void SetTransferDeadline(std::chrono::milliseconds deadline)
{
    Deadline() = deadline;
}

bool IsLoopbackUrl(const std::string& url)
{
    const std::unique_ptr<CURLU, TUrlCleanup> parsed(curl_url());
    // Read as curl_easy_perform reads it, a missing scheme guessed.
    constexpr unsigned int AsTheTransferReadsIt = CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME;
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), AsTheTransferReadsIt) != CURLUE_OK)
        return false;
    char* host = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK)
        return false;
    const std::string text = host;
    curl_free(host);
    return IsLoopbackHost(text);
}

std::int32_t GetWebPage(const std::string& url, const std::filesystem::path& cacheFile,
                        const TProcessEvents& processEvents, const TCancelled& cancelled)
{
    if (processEvents)
        processEvents();
    if (cancelled && cancelled())
        return 0;

    InitCurl();
    // A fetch started from an event point of another (the kept handle is busy then) gets a
    // handle of its own.
    TKeptHandle& kept = KeptHandle();
    std::unique_ptr<CURL, TCurlCleanup> own;
    CURL* curl = nullptr;
    if (!kept.Busy)
    {
        if (!kept.Handle)
            kept.Handle.reset(curl_easy_init());
        curl = kept.Handle.get();
        if (curl)
            curl_easy_reset(curl); // the options go, the open connection stays
    }
    else
    {
        own.reset(curl_easy_init());
        curl = own.get();
    }
    if (!curl)
        return 0;
    struct TBusy
    {
        bool& Flag;
        bool Was;
        ~TBusy() { Flag = Was; }
    } busy{kept.Busy, kept.Busy};
    kept.Busy = true;

    TTransfer transfer;
    transfer.CacheFile = cacheFile;
    transfer.ProcessEvents = &processEvents;
    transfer.Cancelled = &cancelled;
    transfer.EventsInStalls = true;
    ConfigureRequest(curl, url, transfer);

    CURLcode result = CURLE_OK;
    for (int attempt = 0; attempt < ConnectAttempts; ++attempt)
    {
        transfer.Connected = false;
        result = curl_easy_perform(curl);
        if (!ConnectFailed(transfer, result))
            break;
    }
    return FinishTransfer(transfer, result);
}

void CloseKeptConnection()
{
    TKeptHandle& kept = KeptHandle();
    if (!kept.Busy)
        kept.Handle.reset();
}
