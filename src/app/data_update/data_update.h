#pragma once

#include <QString>

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What the window's data update knows without widgets: the data API's plans, where the API
// key and the chosen plan are kept, and the words for what the fetch child reports.

struct TDataPlan
{
    const char* Name;    // as `orvanta-service --plan` takes it
    const char* Caption; // as the dialog shows it
    int RequestsPerMinute;
};

//! Free, Light, Standard and Premium, in that order.
const std::array<TDataPlan, 4>& DataPlans();

//! The plan named `name`; Free for an unknown name.
const TDataPlan& DataPlanNamed(std::string_view name);

//! "<XDG_CONFIG_HOME>/orvanta", or "<home>/.config/orvanta" when XDG_CONFIG_HOME is unset,
//! empty or relative. Empty when neither gives an absolute folder.
std::filesystem::path ConfigFolder(const char* xdgConfigHome, const char* home);

//! The file the API key is kept in, inside the config folder.
std::filesystem::path ApiKeyFile(const std::filesystem::path& configFolder);

//! Keeps `key` in the key file with mode 0600 (its folder 0700), replacing the file by a
//! rename so no other user ever sees a readable copy. Throws std::system_error.
void SaveApiKey(const std::filesystem::path& configFolder, std::string_view key);

//! True when the key file exists as a regular file of its own (not through a link).
bool HasSavedApiKey(const std::filesystem::path& configFolder);

//! The plan remembered from the last fetch; Free when none was.
const TDataPlan& RememberedPlan(const std::filesystem::path& configFolder);
//! Remembers the plan. Throws std::system_error.
void RememberPlan(const std::filesystem::path& configFolder, const TDataPlan& plan);

//! One line of the fetch's progress descriptor, for a request done.
struct TFetchProgress
{
    int Requests = 0;
    int RequestsLeft = 0;
    int DaysDone = 0;
    int DaysTotal = 0;
    long long Rows = 0;
    int SecondsLeft = 0;
    int HttpStatus = 0;
};

//! The last line, once the fetch is over.
struct TFetchEnd
{
    int ExitStatus = 0;
    int Days = 0;
    int Stocks = 0;
    long long Rows = 0;
    int Requests = 0;
    int Refused = 0;
};

//! "request=3 left=12 days=3/15 rows=12000 eta=144 http=200"; nothing for any other line.
std::optional<TFetchProgress> ParseFetchProgress(std::string_view line);
//! "end exit=0 days=3 stocks=4000 rows=12000 requests=4 refused=0"; nothing for any other line.
std::optional<TFetchEnd> ParseFetchEnd(std::string_view line);

//! What is held and what a fetch would ask for, from `--fetch --dry-run`.
struct TFetchOutlook
{
    QString HeldFirst; // "YYYY-MM-DD", empty when nothing is held
    QString HeldLast;
    int Stocks = 0;
    QString From;
    QString To;
    int Days = 0;
    int Requests = 0;
    int Seconds = 0;
};

//! The dry run's JSON object; nothing when it is not one.
std::optional<TFetchOutlook> ParseFetchOutlook(const QByteArray& json);

//! "1分未満", "約3分", "約2時間5分".
QString DurationText(int seconds);

//! The held data and the next fetch in two short lines.
QString HeldText(const TFetchOutlook& outlook);
QString OutlookText(const TFetchOutlook& outlook, const TDataPlan& plan);

//! Days and requests done, and the time left.
QString ProgressText(const TFetchProgress& progress);

//! The outcome in words: `exitStatus` of the child (or -1 when it crashed), the HTTP status
//! of its last request (0 when none), its last line, and its last line on stderr, which
//! says what went wrong in its own words.
QString OutcomeText(int exitStatus, int lastHttpStatus, const std::optional<TFetchEnd>& end, const QString& lastError);
