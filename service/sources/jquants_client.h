#pragma once

#include "market/bar_store.h"

#include <csignal>
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
};

using TApiQuery = std::vector<std::pair<std::string, std::string>>;

class TJQuantsClient
{
public:
    //! `baseUrl` such as "https://api.jquants.com/v2". The key goes into a header of every
    //! request and nowhere else. A transfer ends early once `*stop` is set.
    TJQuantsClient(std::string baseUrl, std::string apiKey, const volatile std::sig_atomic_t* stop);
    ~TJQuantsClient();
    TJQuantsClient(const TJQuantsClient&) = delete;
    TJQuantsClient& operator=(const TJQuantsClient&) = delete;

    //! GET base + path + "?" + the query, its values percent-encoded.
    TApiAnswer Get(const std::string& path, const TApiQuery& query);

private:
    std::string BaseUrl;
    std::string KeyHeader;
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

//! Nothing when the body is not the published JSON (no object, no "data" array).
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

//! The "message" of an error answer, cut to one short line of printable ASCII; empty when
//! there is none.
std::string ErrorMessageOf(std::string_view body);
