#include "sources/jquants_client.h"

#include "common/exact_format.h"

#include <nlohmann/json.hpp>

#include <curl/curl.h>

#include <arpa/inet.h>

#include <charconv>
#include <cmath>
#include <mutex>

namespace {

constexpr long ConnectTimeoutMs = 35000;
constexpr long StallSeconds = 60;
// What reading an answer into JSON may take, counted per value as the parsed tree holds it:
// a few times the largest answer, where 48 MiB of "{}," would otherwise take gigabytes.
constexpr std::size_t MaxParseBytes = 4 * TClientLimits{}.MaxAnswerBytes;
// A figure beyond any real price, volume or turnover.
constexpr std::int64_t MaxFigure = 1'000'000'000'000'000;

struct TTransfer
{
    std::string* Body = nullptr;
    const volatile std::sig_atomic_t* Stop = nullptr;
    std::size_t Limit = 0;
    bool Stopped = false;
    bool TooLarge = false;
};

// libcurl hands over the bytes after decoding, so the limit holds for gzip and for answers
// without a length alike.
size_t KeepChunk(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<TTransfer*>(user);
    const size_t bytes = size * count;
    if (bytes > transfer->Limit - transfer->Body->size())
    {
        transfer->TooLarge = true;
        return 0; // anything short of `bytes` ends the transfer
    }
    transfer->Body->append(data, bytes);
    return bytes;
}

int CheckStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* transfer = static_cast<TTransfer*>(user);
    if (transfer->Stop && *transfer->Stop)
    {
        transfer->Stopped = true;
        return 1;
    }
    return 0;
}

// The scheme and host of `url` as libcurl reads them; empty when it cannot read it.
std::pair<std::string, std::string> SchemeAndHost(const std::string& url)
{
    CURLU* parsed = curl_url();
    std::pair<std::string, std::string> parts;
    if (parsed && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK)
    {
        char* scheme = nullptr;
        char* host = nullptr;
        if (curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK)
            parts = {scheme, host};
        curl_free(scheme);
        curl_free(host);
    }
    curl_url_cleanup(parsed);
    for (std::string* part : {&parts.first, &parts.second})
        for (char& c : *part)
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return parts;
}

// Only the plain forms of a loopback host: any other is taken as remote, which at worst refuses
// the key where it could have gone.
bool IsLoopbackHost(std::string host)
{
    if (host == "localhost")
        return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    in6_addr v6{};
    return ::inet_pton(AF_INET6, host.c_str(), &v6) == 1 &&
           (IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127));
}

// Whether the request went out: a time-out then is the answer's, not the connection's.
bool RequestSent(CURL* handle)
{
    long bytes = 0;
    return curl_easy_getinfo(handle, CURLINFO_REQUEST_SIZE, &bytes) == CURLE_OK && bytes > 0;
}

std::string Encode(CURL* handle, const std::string& text)
{
    char* encoded = curl_easy_escape(handle, text.c_str(), static_cast<int>(text.size()));
    std::string out = encoded ? encoded : "";
    curl_free(encoded);
    return out;
}

using TJson = nlohmann::json;

// Builds the tree of a JSON text as nlohmann's own parser does, but gives up once the tree
// would take more than MaxParseBytes. The costs are what the tree allocates per value, rounded
// up. (nlohmann's parser callbacks cannot stop a parse, and filtering through them is
// quadratic in an array's length.)
class TBoundedTree final : public nlohmann::json_sax<nlohmann::json>
{
public:
    nlohmann::json Root;

    bool null() override { return Put(nullptr, 32); }
    bool boolean(bool value) override { return Put(value, 32); }
    bool number_integer(number_integer_t value) override { return Put(value, 32); }
    bool number_unsigned(number_unsigned_t value) override { return Put(value, 32); }
    bool number_float(number_float_t value, const string_t&) override { return Put(value, 32); }
    bool string(string_t& value) override
    {
        const size_t cost = 64 + value.size();
        return Put(std::move(value), cost);
    }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return Open(nlohmann::json::object(), 96); }
    bool key(string_t& name) override
    {
        Key = std::move(name);
        return Spend(96 + Key.size());
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override { return Open(nlohmann::json::array(), 64); }
    bool end_array() override { return Close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&) override { return false; }

private:
    bool Spend(size_t bytes)
    {
        Spent += bytes;
        return Spent <= MaxParseBytes;
    }

    // Where the next value goes: the root, the open array's end or the open object's last key.
    nlohmann::json* Slot()
    {
        if (Open_.empty())
            return &Root;
        nlohmann::json& parent = *Open_.back();
        if (parent.is_array())
        {
            parent.push_back(nullptr);
            return &parent.back();
        }
        return &parent[Key];
    }

    bool Put(nlohmann::json value, size_t cost)
    {
        *Slot() = std::move(value);
        return Spend(cost);
    }

    // A container on the stack is the last element of its parent, which grows only after it
    // closes, so the pointer stays valid.
    bool Open(nlohmann::json value, size_t cost)
    {
        nlohmann::json* slot = Slot();
        *slot = std::move(value);
        Open_.push_back(slot);
        return Spend(cost);
    }

    bool Close()
    {
        Open_.pop_back();
        return true;
    }

    std::vector<nlohmann::json*> Open_;
    std::string Key;
    size_t Spent = 0;
};

// The JSON of `body`, or nothing when it is not JSON or its tree would take more than
// MaxParseBytes.
std::optional<TJson> ParseBounded(std::string_view body)
{
    TBoundedTree tree;
    if (!TJson::sax_parse(body.begin(), body.end(), &tree))
        return std::nullopt;
    return std::move(tree.Root);
}

// `text`, a JSON number's decimal text, times 10^decimals, rounded half away from zero.
// Nothing for a negative number or one beyond MaxFigure.
std::optional<std::int64_t> ScaledDecimal(std::string_view text, int decimals)
{
    std::int64_t mantissa = 0;
    int digits = 0;   // significant ones in the mantissa
    int exponent = 0; // of ten, applied to the mantissa
    bool point = false;
    size_t at = 0;
    for (; at < text.size() && ((text[at] >= '0' && text[at] <= '9') || text[at] == '.'); ++at)
    {
        if (text[at] == '.')
        {
            point = true;
            continue;
        }
        if (mantissa == 0 && text[at] == '0')
        {
            exponent -= point ? 1 : 0;
            continue;
        }
        if (++digits > 18)
            return std::nullopt;
        mantissa = mantissa * 10 + (text[at] - '0');
        exponent -= point ? 1 : 0;
    }
    if (at == 0)
        return std::nullopt; // a sign or nothing
    if (at < text.size())
    {
        if (text[at] != 'e' && text[at] != 'E')
            return std::nullopt;
        const size_t powerAt = at + 1 < text.size() && text[at + 1] == '+' ? at + 2 : at + 1;
        int power = 0;
        const auto [end, error] = std::from_chars(text.data() + powerAt, text.data() + text.size(), power);
        if (error != std::errc() || end != text.data() + text.size() || power > 40 || power < -400)
            return std::nullopt;
        exponent += power;
    }
    const int shift = exponent + decimals;
    if (mantissa == 0)
        return 0;
    if (shift >= 0)
    {
        if (shift + digits > 16)
            return std::nullopt;
        const std::int64_t value = mantissa * Pow10(shift);
        return value > MaxFigure ? std::nullopt : std::optional<std::int64_t>(value);
    }
    if (-shift > 18)
        return 0; // under a tenth of the last place: 18 digits at most in the mantissa
    const std::int64_t value = RoundRatio(mantissa, Pow10(-shift), 0);
    return value > MaxFigure ? std::nullopt : std::optional<std::int64_t>(value);
}

// A JSON number in units of 10^-decimals (hundredths of a yen: 2; whole shares or yen: 0), as
// the decimal the source wrote: 2.3 is 230 hundredths, where 2.3 * 100 in binary falls short.
// Nothing for any other value, a negative one or one beyond any real figure.
std::optional<std::int64_t> Figure(const TJson& value, int decimals)
{
    if (value.is_number_unsigned() || value.is_number_integer())
    {
        const std::string text = value.dump();
        return text.starts_with('-') ? std::nullopt : ScaledDecimal(text, decimals);
    }
    if (!value.is_number_float() || !std::isfinite(value.get<double>()) || value.get<double>() < 0)
        return std::nullopt;
    // The shortest text that reads back as the same double: the source's own digits for any
    // figure of up to 15 significant digits.
    return ScaledDecimal(value.dump(), decimals);
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
    for (int i = 0; i < 6; ++i)
    {
        values[i] = Field(record, names[i]);
        nulls += IsNullOrMissing(values[i]) ? 1 : 0;
    }
    if (nulls == 6)
    {
        row.Day.Traded = false; // a business day without trades
    }
    else
    {
        std::optional<std::int64_t> figures[6];
        for (int i = 0; i < 6; ++i)
        {
            figures[i] = values[i] ? Figure(*values[i], i < 4 ? 2 : 0) : std::nullopt;
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
    if (!IsNullOrMissing(factor))
    {
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
    std::optional<TJson> json = ParseBounded(body);
    if (!json || !json->is_object())
        return std::nullopt;
    const auto data = json->find("data");
    if (data == json->end() || !data->is_array())
        return std::nullopt;
    return json;
}

std::string NextPageOf(const TJson& json)
{
    const auto key = json.find("pagination_key");
    return key != json.end() && key->is_string() ? key->get<std::string>() : std::string();
}

} // namespace

TApiAnswer TApiAnswer::Fault(std::string error)
{
    TApiAnswer answer;
    answer.Error = std::move(error);
    answer.SourceFault = true;
    return answer;
}

TJQuantsClient::TJQuantsClient(std::string baseUrl, std::string apiKey, const volatile std::sig_atomic_t* stop,
                               TClientLimits limits)
    : BaseUrl(std::move(baseUrl)), KeyHeader("x-api-key: " + apiKey), Limits(limits), Stop(stop)
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
    if (!handle)
    {
        answer.Error = "libcurl を始められません";
        return answer;
    }
    std::string url = BaseUrl + path;
    for (size_t i = 0; i < query.size(); ++i)
        url += (i == 0 ? "?" : "&") + query[i].first + "=" + Encode(handle, query[i].second);

    TTransfer transfer{&answer.Body, Stop, Limits.MaxAnswerBytes};
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
    if (IsLoopbackHost(SchemeAndHost(url).second))
        curl_easy_setopt(handle, CURLOPT_PROXY, "");
    // Compressed answers: a day of the market shrinks several times. gzip alone, which any server
    // compresses cheaply; brotli at a server's highest level costs it seconds a page.
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "gzip");
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, StallSeconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(Limits.Deadline.count()));
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(Limits.MaxAnswerBytes));
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, KeepChunk);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, CheckStop);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    const CURLcode result = curl_easy_perform(handle);
    curl_slist_free_all(headers);
    answer.Stopped = transfer.Stopped;
    if (result != CURLE_OK)
    {
        const std::string mebibytes = std::to_string(Limits.MaxAnswerBytes >> 20);
        if (transfer.TooLarge || result == CURLE_FILESIZE_EXCEEDED)
            answer = TApiAnswer::Fault("応答が " + mebibytes + " MiB を超えたので、読むのをやめました");
        else if (result == CURLE_OPERATION_TIMEDOUT && RequestSent(handle))
            answer = TApiAnswer::Fault(
                "応答が " + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(Limits.Deadline).count()) +
                " 秒のうちに終わりませんでした");
        else
            answer.Error = curl_easy_strerror(result);
        answer.Stopped = transfer.Stopped;
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
    for (const TJson& record : data)
    {
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
    for (const TJson& record : json->at("data"))
    {
        const TJson* fields[4] = {};
        bool whole = record.is_object();
        const char* const names[4] = {"Code", "CoName", "S33", "Mkt"};
        for (int i = 0; whole && i < 4; ++i)
        {
            fields[i] = Field(record, names[i]);
            whole = fields[i] && fields[i]->is_string();
        }
        if (!whole)
        {
            ++page.Refused;
            continue;
        }
        page.Rows.push_back({fields[0]->get<std::string>(), fields[1]->get<std::string>(),
                             fields[2]->get<std::string>(), fields[3]->get<std::string>()});
    }
    page.NextPage = NextPageOf(*json);
    return page;
}

bool KeyTravelsSafelyTo(const std::string& url)
{
    const auto [scheme, host] = SchemeAndHost(url);
    return scheme == "https" || (scheme == "http" && IsLoopbackHost(host));
}

std::string ErrorMessageOf(std::string_view body)
{
    const std::optional<TJson> json = ParseBounded(body);
    if (!json || !json->is_object())
        return {};
    const auto message = json->find("message");
    if (message == json->end() || !message->is_string())
        return {};
    std::string text;
    for (const char c : message->get_ref<const std::string&>())
    {
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
