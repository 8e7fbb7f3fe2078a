#pragma once

#include "market/bar_store.h"

#include <chrono>
#include <csignal>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The exchange's data API, version 2: one GET at a time over libcurl, and its JSON answers
// read into checked records.

//! What one request brought. Status 0: no HTTP answer (Error says why).
struct TApiAnswer
{
    long Status = 0;
    std::string Body;
    std::string Error;
    bool Stopped = false; // the stop flag ended the transfer
    // The source was reached but its answer cannot be taken (too large, too slow, pages
    // without end); Error says what, as a phrase that follows a request's name.
    bool SourceFault = false;

    //! The answer of a source that broke a rule: `error` says which.
    static TApiAnswer Fault(std::string error);
};

//! What one request may take. Defaults hold for the real source; tests shorten them.
struct TClientLimits
{
    // The whole request, connection to last byte: a source trickling bytes never ends it
    // otherwise.
    std::chrono::milliseconds Deadline = std::chrono::seconds(120);
    // After decoding: a whole market's day is 1-2 MB, and a few hundred bytes of gzip can
    // inflate to gigabytes.
    std::size_t MaxAnswerBytes = 64u << 20;
};

using TApiQuery = std::vector<std::pair<std::string, std::string>>;

class TJQuantsClient
{
public:
    //! `baseUrl` such as "https://api.jquants.com/v2". The key goes into a header of every
    //! request and nowhere else. A transfer ends early once `*stop` is set.
    TJQuantsClient(std::string baseUrl, std::string apiKey, const volatile std::sig_atomic_t* stop,
                   TClientLimits limits = {});
    ~TJQuantsClient();
    TJQuantsClient(const TJQuantsClient&) = delete;
    TJQuantsClient& operator=(const TJQuantsClient&) = delete;

    //! GET base + path + "?" + the query, its values percent-encoded.
    TApiAnswer Get(const std::string& path, const TApiQuery& query);

private:
    std::string BaseUrl;
    std::string KeyHeader;
    TClientLimits Limits;
    const volatile std::sig_atomic_t* Stop;
    void* Handle = nullptr;
};

//! A page of `/equities/bars/daily`: the rows that make sense, how many did not, and the
//! pagination key of the next page (empty on the last).
struct TBarsPage
{
    std::vector<TBarRow> Rows;
    int Refused = 0;
    std::string NextPage;
};

//! Nothing when the body is not the published JSON (no object, no "data" array) or would take
//! more memory to read than a few times the largest answer taken. Prices are read as the
//! decimal the source wrote, in hundredths of a yen rounded half away from zero.
std::optional<TBarsPage> ParseBarsPage(std::string_view body);

//! One issue of `/equities/master`, its fields as the source writes them.
struct TMasterRow
{
    std::string Code;
    std::string CoName;
    std::string S33;
    std::string Mkt;
};

struct TMasterPage
{
    std::vector<TMasterRow> Rows;
    int Refused = 0; // records without the four fields as text
    std::string NextPage;
};

std::optional<TMasterPage> ParseMasterPage(std::string_view body);

//! Whether `url` is one the key may be sent to: https, or http to a loopback address (the
//! tests' stand-ins), as libcurl reads its host; plain http elsewhere would show the key to
//! every hop and proxy.
bool KeyTravelsSafelyTo(const std::string& url);

//! The "message" of an error answer, cut to one short line of printable ASCII; empty when
//! there is none.
std::string ErrorMessageOf(std::string_view body);
