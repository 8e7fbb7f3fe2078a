#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

// Page retrieval from the finance service into the cache files under dat/.

//! Lets the window handle its pending events; the form passes QCoreApplication::processEvents.
//! May be empty (tests, fuzzers).
using TProcessEvents = std::function<void()>;

//! The finance service's address, "http://127.0.0.1:18650" unless a test set another.
const std::string& FinanceServiceAddress();
void SetFinanceServiceAddress(std::string address);

//! How long a transfer may go without a byte before it is given up (35 s); tests shorten it.
std::chrono::milliseconds ReceiveTimeout();
void SetReceiveTimeout(std::chrono::milliseconds timeout);

//! HTTP GET of `url`; the body, whatever the status (a 404 page too), replaces `cacheFile`.
//! Returns the number of body bytes stored, or 0 when nothing complete arrived: no connection
//! after 3 attempts of at most 35 s, a transfer that broke off or stalled, an empty body.
//! With 0 the cache file is exactly as it was before, so the next lookup tries again.
//! Calls `processEvents` once before connecting and once after each received chunk.
//! Throws TDataError when the cache file cannot be written (for instance dat/ is missing).
std::int32_t GetWebPage(const std::string& url, const std::filesystem::path& cacheFile,
                        const TProcessEvents& processEvents);
