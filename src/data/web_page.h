#pragma once

#include "data/page_events.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Page retrieval from the finance service into the cache files under dat/.

//! The largest body kept (64 KiB): above any page the scrapers read (at most 50,001 bytes),
//! so that a hostile service cannot fill the disk and the run's memory with a list's pages.
constexpr std::int64_t MaxPageBytes = 64 * 1024;

//! The finance service's address, LoopbackServiceUrl(DefaultServicePort) unless a test set another.
const std::string& FinanceServiceAddress();
void SetFinanceServiceAddress(std::string address);

//! The user whose socket alone may answer for the finance service on a loopback address; none:
//! anyone's. Checked by the kernel's tables on every new connection (a kept one was checked
//! when it was made), so that another user's program that took the port after the service
//! stopped is no answer at all, not a source of pages.
std::optional<unsigned> ServiceOwner();
void SetServiceOwner(std::optional<unsigned> uid);

//! How long a transfer may go without a byte before it is given up (35 s); tests shorten it.
std::chrono::milliseconds ReceiveTimeout();
void SetReceiveTimeout(std::chrono::milliseconds timeout);

//! How long one request may take in all, however steadily bytes come (120 s); a peer sending
//! a byte every few seconds would otherwise hold a page, and a batch run, for ever. Tests
//! shorten it.
std::chrono::milliseconds TransferDeadline();
void SetTransferDeadline(std::chrono::milliseconds deadline);

//! True when the host of `url` is a loopback address (127.0.0.0/8, ::1) or localhost. Such
//! requests never go through a proxy; every other one takes libcurl's proxy variables
//! (http_proxy, https_proxy, all_proxy, no_proxy).
bool IsLoopbackUrl(const std::string& url);

//! HTTP GET of `url`; the body of a success (status 2xx) replaces `cacheFile`.
//! Returns the number of body bytes stored, or 0 when nothing complete arrived: no connection
//! after 3 attempts of at most 35 s, an answer whose status is not 2xx (an error page is not
//! today's page), a transfer that broke off, stalled or passed TransferDeadline, an empty
//! body, a body over MaxPageBytes, a peer that is not ServiceOwner's, or `cancelled`
//! answering true.
//! With 0 the cache file is exactly as it was before, so the next lookup tries again.
//! Calls `processEvents` once before connecting and once after each received chunk.
//! Throws TDataError when the service answered but the cache file cannot be written (for
//! instance dat/ is missing), also for an empty body.
//! Keeps the calling thread's connection to the service open between calls while the service
//! allows it.
std::int32_t GetWebPage(const std::string& url, const std::filesystem::path& cacheFile,
                        const TProcessEvents& processEvents, const TCancelled& cancelled = {});

//! Closes the connection GetWebPage keeps for the calling thread, if any (a server about to
//! stop then need not wait for it).
void CloseKeptConnection();
