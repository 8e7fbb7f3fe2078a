#include "sources/jquants_client.h"

#include <nlohmann/json.hpp>

#include <curl/curl.h>

#include <cmath>
#include <mutex>

namespace {

constexpr long ConnectTimeoutMs = 35000;
constexpr long StallSeconds = 60;
// A day of the whole market is a few megabytes; anything far beyond is not the source.
constexpr curl_off_t MaxAnswerBytes = 512L * 1024 * 1024;

struct TTransfer
{
    std::string* Body = nullptr;
    const volatile std::sig_atomic_t* Stop = nullptr;
    bool Stopped = false;
};

size_t KeepChunk(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<TTransfer*>(user);
    transfer->Body->append(data, size * count);
    return size * count;
}

int CheckStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* transfer = static_cast<TTransfer*>(user);
    if (transfer->Stop && *transfer->Stop) {
        transfer->Stopped = true;
        return 1;
    }
    return 0;
}

bool IsLoopbackHost(const std::string& url)
{
    for (const char* prefix : {"http://127.", "https://127.", "http://localhost", "https://localhost", "http://[::1]"})
        if (url.starts_with(prefix))
            return true;
    return false;
}

std::string Encode(CURL* handle, const std::string& text)
{
    char* encoded = curl_easy_escape(handle, text.c_str(), static_cast<int>(text.size()));
    std::string out = encoded ? encoded : "";
    curl_free(encoded);
    return out;
}

using TJson = nlohmann::json;

// Hundredths of a yen (or whole shares, whole yen: scale 1) of a JSON number; nothing for any
// other value, a negative one or one beyond any real figure.
std::optional<std::int64_t> Figure(const TJson& value, double scale)
{
    if (!value.is_number())
        return std::nullopt;
    const double number = value.get<double>();
    if (!std::isfinite(number) || number < 0 || number * scale > 1e15)
        return std::nullopt;
    return static_cast<std::int64_t>(std::llround(number * scale));
}

const TJson* Field(const TJson& record, const char* name)
{
    const auto it = record.find(name);
    return it == record.end() ? nullptr : &*it;
}

bool IsNullOrMissing(const TJson* value)
{
    return value == nullptr || value->is_null();
}

std::optional<TBarRow> BarRow(const TJson& record)
{
    if (!record.is_object())
        return std::nullopt;
    const TJson* date = Field(record, "Date");
    const TJson* code = Field(record, "Code");
    if (!date || !date->is_string() || !code || !code->is_string())
        return std::nullopt;
    const std::string& dateText = date->get_ref<const std::string&>();
    const std::optional<TDate> day = dateText.size() == 10 && dateText[4] == '-' ? ParseDate(dateText) : std::nullopt;
    TBarRow row;
    row.Code = code->get<std::string>();
    if (!day || !IsSourceCode(row.Code))
        return std::nullopt;
    row.Day.Date = *day;

    const char* const names[6] = {"O", "H", "L", "C", "Vo", "Va"};
    const TJson* values[6];
    int nulls = 0;
    for (int i = 0; i < 6; ++i) {
        values[i] = Field(record, names[i]);
        nulls += IsNullOrMissing(values[i]) ? 1 : 0;
    }
    if (nulls == 6) {
        row.Day.Traded = false; // a business day without trades
    } else {
        std::optional<std::int64_t> figures[6];
        for (int i = 0; i < 6; ++i) {
            figures[i] = values[i] ? Figure(*values[i], i < 4 ? 100.0 : 1.0) : std::nullopt;
            if (!figures[i])
                return std::nullopt;
        }
        row.Day.Traded = true;
        row.Day.Open = *figures[0];
        row.Day.High = *figures[1];
        row.Day.Low = *figures[2];
        row.Day.Close = *figures[3];
        row.Day.Volume = *figures[4];
        row.Day.Turnover = *figures[5];
        if (row.Day.Open == 0 || row.Day.Low == 0 || row.Day.Close == 0 || row.Day.High < row.Day.Low)
            return std::nullopt;
    }
    const TJson* factor = Field(record, "AdjFactor");
    if (!IsNullOrMissing(factor)) {
        if (!factor->is_number() || !(factor->get<double>() > 0) || !std::isfinite(factor->get<double>()) ||
            factor->get<double>() > 1e6 || factor->get<double>() < 1e-4)
            return std::nullopt;
        // Whole factors as "2" whether the source wrote 2 or 2.0; others as the shortest text
        // that reads back the same: "0.5".
        const double value = factor->get<double>();
        if (value < 1e9 && value == std::floor(value))
            row.Day.AdjFactor = std::to_string(static_cast<long long>(value));
        else
            row.Day.AdjFactor = factor->dump();
    }
    return row;
}

std::optional<TJson> ParseObject(std::string_view body)
{
    TJson json = TJson::parse(body.begin(), body.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object())
        return std::nullopt;
    const auto data = json.find("data");
    if (data == json.end() || !data->is_array())
        return std::nullopt;
    return json;
}

std::string NextPageOf(const TJson& json)
{
    const auto key = json.find("pagination_key");
    return key != json.end() && key->is_string() ? key->get<std::string>() : std::string();
}

} // namespace

TJQuantsClient::TJQuantsClient(std::string baseUrl, std::string apiKey, const volatile std::sig_atomic_t* stop)
    : BaseUrl(std::move(baseUrl)), KeyHeader("x-api-key: " + apiKey), Stop(stop)
{
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    while (!BaseUrl.empty() && BaseUrl.back() == '/')
        BaseUrl.pop_back();
    Handle = curl_easy_init();
}

TJQuantsClient::~TJQuantsClient()
{
    curl_easy_cleanup(static_cast<CURL*>(Handle));
}

TApiAnswer TJQuantsClient::Get(const std::string& path, const TApiQuery& query)
{
    TApiAnswer answer;
    auto* handle = static_cast<CURL*>(Handle);
    if (!handle) {
        answer.Error = "libcurl を始められません";
        return answer;
    }
    std::string url = BaseUrl + path;
    for (size_t i = 0; i < query.size(); ++i)
        url += (i == 0 ? "?" : "&") + query[i].first + "=" + Encode(handle, query[i].second);

    TTransfer transfer{&answer.Body, Stop, false};
    curl_easy_reset(handle); // the connection stays open across requests
    curl_slist* headers = curl_slist_append(nullptr, KeyHeader.c_str());
    headers = curl_slist_append(headers, "Accept: application/json");
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    // The environment's proxies apply (libcurl reads http_proxy, https_proxy, no_proxy), but
    // never to a loopback stand-in.
    if (IsLoopbackHost(url))
        curl_easy_setopt(handle, CURLOPT_PROXY, "");
    // Compressed answers: a day of the market shrinks several times. gzip alone, which any server
    // compresses cheaply; brotli at a server's highest level costs it seconds a page.
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "gzip");
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, StallSeconds);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, MaxAnswerBytes);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, KeepChunk);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, CheckStop);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    const CURLcode result = curl_easy_perform(handle);
    curl_slist_free_all(headers);
    answer.Stopped = transfer.Stopped;
    if (result != CURLE_OK) {
        answer.Error = curl_easy_strerror(result);
        answer.Body.clear();
        return answer;
    }
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer.Status);
    return answer;
}

std::optional<TBarsPage> ParseBarsPage(std::string_view body)
{
    const std::optional<TJson> json = ParseObject(body);
    if (!json)
        return std::nullopt;
    TBarsPage page;
    const TJson& data = json->at("data");
    page.Rows.reserve(data.size());
    for (const TJson& record : data) {
        if (std::optional<TBarRow> row = BarRow(record))
            page.Rows.push_back(std::move(*row));
        else
            ++page.Refused;
    }
    page.NextPage = NextPageOf(*json);
    return page;
}

std::optional<TMasterPage> ParseMasterPage(std::string_view body)
{
    const std::optional<TJson> json = ParseObject(body);
    if (!json)
        return std::nullopt;
    TMasterPage page;
    for (const TJson& record : json->at("data")) {
        const TJson* fields[4] = {};
        bool whole = record.is_object();
        const char* const names[4] = {"Code", "CoName", "S33", "Mkt"};
        for (int i = 0; whole && i < 4; ++i) {
            fields[i] = Field(record, names[i]);
            whole = fields[i] && fields[i]->is_string();
        }
        if (!whole) {
            ++page.Refused;
            continue;
        }
        page.Rows.push_back({fields[0]->get<std::string>(), fields[1]->get<std::string>(),
                             fields[2]->get<std::string>(), fields[3]->get<std::string>()});
    }
    page.NextPage = NextPageOf(*json);
    return page;
}

std::string ErrorMessageOf(std::string_view body)
{
    const TJson json = TJson::parse(body.begin(), body.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object())
        return {};
    const auto message = json.find("message");
    if (message == json.end() || !message->is_string())
        return {};
    std::string text;
    for (const char c : message->get_ref<const std::string&>()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            continue;
        // Cut at a character's first byte, so no half of a UTF-8 character is left.
        if (text.size() >= 200 && (byte & 0xc0) != 0x80)
            break;
        text += c;
    }
    return text;
}
