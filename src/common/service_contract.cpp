#include "common/service_contract.h"

#include "common/data_folders.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>

namespace {

constexpr std::string_view UrlScheme = "http://";
constexpr std::string_view EndLead = "end";
constexpr long long MaxSmallFigure = 1'000'000'000;

bool ReadNumber(std::string_view text, long long& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && value >= 0;
}

// The figures but the rows stay below 10^9, so a reader may keep them in an int.
bool ReadSmall(std::string_view text, long long& value)
{
    return ReadNumber(text, value) && value <= MaxSmallFigure;
}

bool ReadSmall(std::string_view text, int& value)
{
    long long wide = 0;
    if (!ReadSmall(text, wide))
        return false;
    value = static_cast<int>(wide);
    return true;
}

using TFields = std::map<std::string_view, std::string_view>;

// "key=value" words after an optional leading word; nothing when a word has no '='.
std::optional<TFields> Fields(std::string_view line, std::string_view lead)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (!lead.empty())
    {
        if (line.substr(0, lead.size()) != lead || line.size() == lead.size() || line[lead.size()] != ' ')
            return std::nullopt;
        line.remove_prefix(lead.size() + 1);
    }
    TFields fields;
    while (!line.empty())
    {
        const std::size_t space = line.find(' ');
        const std::string_view word = line.substr(0, space);
        line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        if (word.empty())
            continue;
        const std::size_t equals = word.find('=');
        if (equals == std::string_view::npos)
            return std::nullopt;
        fields[word.substr(0, equals)] = word.substr(equals + 1);
    }
    return fields;
}

template <typename T>
bool ReadField(const TFields& fields, std::string_view key, T& value)
{
    const auto field = fields.find(key);
    return field != fields.end() && ReadSmall(field->second, value);
}

bool ReadRows(const TFields& fields, long long& value)
{
    const auto field = fields.find("rows");
    return field != fields.end() && ReadNumber(field->second, value);
}

constexpr std::array<std::pair<TFetchReason, std::string_view>, 9> ReasonWords{{
    {TFetchReason::Done, "done"},
    {TFetchReason::PlanEnd, "plan-end"},
    {TFetchReason::NoNetwork, "no-network"},
    {TFetchReason::KeyRefused, "key-refused"},
    {TFetchReason::OutsidePlan, "outside-plan"},
    {TFetchReason::RateLimited, "rate-limited"},
    {TFetchReason::SourceFailed, "source-failed"},
    {TFetchReason::LocalFailure, "local-failure"},
    {TFetchReason::Interrupted, "interrupted"},
}};

std::string JsonDate(const std::string& date)
{
    return date.empty() ? "null" : '"' + date + '"';
}

} // namespace

std::string LoopbackServiceUrl(int port)
{
    return std::string(UrlScheme) + ServiceHost + ':' + std::to_string(port);
}

std::optional<int> LoopbackServicePort(std::string_view url)
{
    const std::string prefix = std::string(UrlScheme) + ServiceHost;
    if (url.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    const std::string_view rest = url.substr(prefix.size());
    if (rest.empty())
        return 80;
    if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6)
        return std::nullopt;
    int port = 0;
    for (const char c : rest.substr(1))
    {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

const TDataPlan* FindDataPlan(std::string_view name)
{
    const auto plan =
        std::find_if(DataPlans.begin(), DataPlans.end(), [&](const TDataPlan& p) { return name == p.Name; });
    return plan == DataPlans.end() ? nullptr : &*plan;
}

std::string FetchProgressLine(const TFetchProgress& progress)
{
    return "request=" + std::to_string(progress.Requests) + " left=" + std::to_string(progress.RequestsLeft) +
           " days=" + std::to_string(progress.DaysDone) + '/' + std::to_string(progress.DaysTotal) +
           " rows=" + std::to_string(progress.Rows) + " eta=" + std::to_string(progress.SecondsLeft) +
           " http=" + std::to_string(progress.HttpStatus) + '\n';
}

std::string_view FetchReasonWord(TFetchReason reason)
{
    const auto word =
        std::find_if(ReasonWords.begin(), ReasonWords.end(), [&](const auto& entry) { return entry.first == reason; });
    return word == ReasonWords.end() ? std::string_view() : word->second;
}

std::string FetchEndLine(const TFetchEnd& end)
{
    const std::string_view reason = FetchReasonWord(end.Reason);
    return std::string(EndLead) + " exit=" + std::to_string(end.ExitStatus) + " days=" + std::to_string(end.Days) +
           " stocks=" + std::to_string(end.Stocks) + " rows=" + std::to_string(end.Rows) +
           " requests=" + std::to_string(end.Requests) + " refused=" + std::to_string(end.Refused) +
           (reason.empty() ? "" : " reason=" + std::string(reason)) + '\n';
}

std::optional<TFetchProgress> ParseFetchProgress(std::string_view line)
{
    const auto fields = Fields(line, {});
    if (!fields || !fields->count("request") || !fields->count("days"))
        return std::nullopt;
    TFetchProgress progress;
    const std::string_view days = fields->at("days");
    const std::size_t slash = days.find('/');
    if (slash == std::string_view::npos || !ReadSmall(days.substr(0, slash), progress.DaysDone) ||
        !ReadSmall(days.substr(slash + 1), progress.DaysTotal))
        return std::nullopt;
    const auto read = [&](std::string_view key, auto& value) { return ReadField(*fields, key, value); };
    if (!read("request", progress.Requests) || !read("left", progress.RequestsLeft) ||
        !ReadRows(*fields, progress.Rows) || !read("eta", progress.SecondsLeft) || !read("http", progress.HttpStatus))
        return std::nullopt;
    return progress;
}

std::optional<TFetchEnd> ParseFetchEnd(std::string_view line)
{
    const auto fields = Fields(line, EndLead);
    if (!fields)
        return std::nullopt;
    TFetchEnd end;
    const auto read = [&](std::string_view key, auto& value) { return ReadField(*fields, key, value); };
    if (!read("exit", end.ExitStatus) || !read("days", end.Days) || !read("stocks", end.Stocks) ||
        !ReadRows(*fields, end.Rows) || !read("requests", end.Requests) || !read("refused", end.Refused))
        return std::nullopt;
    if (const auto reason = fields->find("reason"); reason != fields->end())
        for (const auto& [value, word] : ReasonWords)
            if (word == reason->second)
                end.Reason = value;
    return end;
}

std::string FetchOutlookJson(const TFetchOutlookFigures& outlook)
{
    const auto field = [](const char* name) { return '"' + std::string(name) + "\":"; };
    return '{' + field(OutlookHeldFirstField) + JsonDate(outlook.HeldFirst) + ',' + field(OutlookHeldLastField) +
           JsonDate(outlook.HeldLast) + ',' + field(OutlookStocksField) + std::to_string(outlook.Stocks) + ',' +
           field(OutlookFromField) + '"' + outlook.From + "\"," + field(OutlookToField) + '"' + outlook.To + "\"," +
           field(OutlookDaysField) + std::to_string(outlook.Days) + ',' + field(OutlookRequestsField) +
           std::to_string(outlook.Requests) + ',' + field(OutlookSecondsField) + std::to_string(outlook.Seconds) +
           "}\n";
}

std::filesystem::path ConfigFolder(const char* xdgConfigHome, const char* home)
{
    return XdgFolder(xdgConfigHome, home, ".config");
}

std::filesystem::path ConfigFolder()
{
    const std::string home = HomeFolder();
    return ConfigFolder(std::getenv("XDG_CONFIG_HOME"), home.c_str());
}

std::filesystem::path ApiKeyFile(const std::filesystem::path& configFolder)
{
    return configFolder / "jquants-api-key";
}
