#include "data/web_page.h"

#include "data/data_error.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

namespace {

// Between "Internet" and "Explorer" stands the ideographic space, Shift_JIS 0x81 0x40.
constexpr char UserAgent[] = "Microsoft Internet\x81\x40"
                             "Explorer";
constexpr long ConnectTimeoutMs = 35000;
constexpr int ConnectAttempts = 3;

std::string& ServiceAddress()
{
    static std::string address = "http://127.0.0.1:18650";
    return address;
}

std::chrono::milliseconds& IdleLimit()
{
    static std::chrono::milliseconds limit{35000};
    return limit;
}

using TClock = std::chrono::steady_clock;

// State of one transfer, shared with libcurl's callbacks. The callbacks must not let an
// exception through libcurl's C frames, so they park it here and stop the transfer.
struct TTransfer
{
    std::filesystem::path TempFile;
    std::FILE* File = nullptr;
    std::int64_t Total = 0;
    const TProcessEvents* ProcessEvents = nullptr;
    std::exception_ptr Error;
    bool Connected = false;
    TClock::time_point LastByte;
};

std::string ErrnoText()
{
    return std::strerror(errno);
}

std::size_t WriteChunk(char* data, std::size_t size, std::size_t count, void* user)
{
    auto& transfer = *static_cast<TTransfer*>(user);
    const std::size_t bytes = size * count;
    if (bytes == 0)
        return 0;
    try
    {
        if (transfer.File == nullptr)
        {
            transfer.File = std::fopen(transfer.TempFile.c_str(), "wb");
            if (transfer.File == nullptr)
                throw TDataError("cannot create " + transfer.TempFile.string() + ": " +
                                 ErrnoText());
        }
        if (std::fwrite(data, 1, bytes, transfer.File) != bytes || std::fflush(transfer.File) != 0)
            throw TDataError("cannot write " + transfer.TempFile.string() + ": " + ErrnoText());
        transfer.Total += static_cast<std::int64_t>(bytes);
        transfer.LastByte = TClock::now();
        if (transfer.Total > INT32_MAX)
            return 0; // the count is a 32-bit integer; such a page is no page
        if (*transfer.ProcessEvents)
            (*transfer.ProcessEvents)();
        return bytes;
    }
    catch (...)
    {
        transfer.Error = std::current_exception();
        return 0;
    }
}

std::size_t ReadHeader(char*, std::size_t size, std::size_t count, void* user)
{
    static_cast<TTransfer*>(user)->LastByte = TClock::now();
    return size * count;
}

int Connected(void* user, char*, char*, int, int)
{
    auto& transfer = *static_cast<TTransfer*>(user);
    transfer.Connected = true;
    transfer.LastByte = TClock::now();
    return CURL_PREREQFUNC_OK;
}

// libcurl's low-speed limit averages over a period; what is wanted is "no byte for 35 s".
int CheckIdle(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto& transfer = *static_cast<const TTransfer*>(user);
    if (transfer.Connected && TClock::now() - transfer.LastByte >= IdleLimit())
        return 1;
    return 0;
}

struct TCurlCleanup
{
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

void RemoveQuietly(const std::filesystem::path& file)
{
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

} // namespace

const std::string& FinanceServiceAddress()
{
    return ServiceAddress();
}

void SetFinanceServiceAddress(std::string address)
{
    ServiceAddress() = std::move(address);
}

std::chrono::milliseconds ReceiveTimeout()
{
    return IdleLimit();
}

void SetReceiveTimeout(std::chrono::milliseconds timeout)
{
    IdleLimit() = timeout;
}

std::int32_t GetWebPage(const std::string& url, const std::filesystem::path& cacheFile,
                        const TProcessEvents& processEvents)
{
    if (processEvents)
        processEvents();

    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    const std::unique_ptr<CURL, TCurlCleanup> curl(curl_easy_init());
    if (!curl)
        return 0;

    // The page goes to a file beside the cache file and replaces it only when complete:
    // writing the cache file itself would leave a cut-off page that counts as today's.
    TTransfer transfer;
    transfer.TempFile = cacheFile;
    transfer.TempFile += ".part";
    transfer.ProcessEvents = &processEvents;

    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_USERAGENT, UserAgent);
    // No CURLOPT_PROXY: libcurl then takes http_proxy, https_proxy and no_proxy from the
    // environment.
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteChunk);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, ReadHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, Connected);
    curl_easy_setopt(handle, CURLOPT_PREREQDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, CheckIdle);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);

    CURLcode result = CURLE_OK;
    for (int attempt = 0; attempt < ConnectAttempts; ++attempt)
    {
        transfer.Connected = false;
        result = curl_easy_perform(handle);
        const bool connectFailed = !transfer.Connected && (result == CURLE_COULDNT_CONNECT ||
                                                           result == CURLE_OPERATION_TIMEDOUT);
        if (!connectFailed)
            break;
    }

    if (transfer.File != nullptr)
    {
        if (std::fclose(transfer.File) != 0 && !transfer.Error)
            transfer.Error = std::make_exception_ptr(
                TDataError("cannot write " + transfer.TempFile.string() + ": " + ErrnoText()));
        transfer.File = nullptr;
    }
    if (transfer.Error)
    {
        RemoveQuietly(transfer.TempFile);
        std::rethrow_exception(transfer.Error);
    }
    if (result != CURLE_OK || transfer.Total == 0)
    {
        RemoveQuietly(transfer.TempFile);
        return 0;
    }
    std::error_code error;
    std::filesystem::rename(transfer.TempFile, cacheFile, error);
    if (error)
    {
        RemoveQuietly(transfer.TempFile);
        throw TDataError("cannot replace " + cacheFile.string() + ": " + error.message());
    }
    return static_cast<std::int32_t>(transfer.Total);
}
