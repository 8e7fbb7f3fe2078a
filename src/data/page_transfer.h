#pragma once

// Within src/data only: the state of one page transfer and the settings every request
// carries, shared by GetWebPage and the fetch-ahead so that both send exactly the same
// requests and keep the same temp-and-rename rule.

#include "common/temp_file.h"
#include "data/page_events.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

//! A request that never reached the service is tried this many times in all.
constexpr int ConnectAttempts = 3;

// State of one transfer, shared with libcurl's callbacks. The callbacks must not let an
// exception through libcurl's C frames, so they park it here and stop the transfer.
struct TTransfer
{
    std::filesystem::path CacheFile;
    const TProcessEvents* ProcessEvents = nullptr; // called after each chunk; never null
    const TCancelled* Cancelled = nullptr;         // never null
    // The page goes to a file beside the cache file and replaces it only when complete:
    // writing the cache file itself would leave a cut-off page that counts as today's.
    std::optional<TTempFile> Temp;
    // When set, the body goes here instead, and no file is made.
    std::string* Body = nullptr;
    std::int64_t Total = 0;
    int Status = 0; // of the last status line received; a body is kept only after a 2xx
    std::exception_ptr Error;
    bool Connected = false;
    // libcurl opened a socket for this transfer: the connection it makes is checked once made.
    bool NewConnection = false;
    std::chrono::steady_clock::time_point LastByte;
    // The window's own transfer also handles its events in a stall; a worker's counts chunks.
    bool EventsInStalls = false;
    std::chrono::steady_clock::time_point LastEvents = std::chrono::steady_clock::now();
};

//! The status code of a response's status line ("HTTP/1.1 404 Not Found" gives 404; 0 when
//! the code is not three digits), or nothing for a header line.
std::optional<int> HttpStatusOfLine(std::string_view line);

//! libcurl's global set-up, once per process; call before the first handle is made.
void InitCurl();

//! Every request's settings on `handle`: the agent, the proxy rule, the time-outs, the size
//! limit and the callbacks that write into `transfer`'s temporary file.
void ConfigureRequest(CURL* handle, const std::string& url, TTransfer& transfer);

//! True when `result` ended an attempt that never reached the service, which is tried again.
bool ConnectFailed(const TTransfer& transfer, CURLcode result);

//! The byte count of a finished transfer that brought a complete body, else 0. Throws what a
//! callback parked (TDataError when the temporary file could not be written).
std::int32_t ReceivedBytes(const TTransfer& transfer, CURLcode result);

//! The outcome of a finished transfer: the byte count once the page replaced the cache file,
//! 0 when nothing complete arrived. The temporary file goes with the transfer. Throws
//! TDataError when the cache file could not be written.
std::int32_t FinishTransfer(TTransfer& transfer, CURLcode result);
