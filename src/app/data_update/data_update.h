#pragma once

#include "common/service_contract.h"

#include <QString>

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What the window's data update knows without widgets: where the API key (ApiKeyFile) and the
// chosen plan are kept, and the words for what the fetch child reports (FetchProgressLine,
// FetchEndLine, its exit status).

//! The plan named `name`; Free for an unknown name.
const TDataPlan& DataPlanNamed(std::string_view name);

//! Keeps `key` in the key file with mode 0600 (its folder 0700), replacing the file by a
//! rename so no other user ever sees a readable copy. Throws std::system_error.
void SaveApiKey(const std::filesystem::path& configFolder, std::string_view key);

//! True when the key file exists as a regular file of its own (not through a link).
bool HasSavedApiKey(const std::filesystem::path& configFolder);

//! The plan remembered from the last fetch; Free when none was.
const TDataPlan& RememberedPlan(const std::filesystem::path& configFolder);
//! Remembers the plan. Throws std::system_error.
void RememberPlan(const std::filesystem::path& configFolder, const TDataPlan& plan);

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

//! The dry run's JSON object (FetchOutlookJson); nothing when it is not one.
std::optional<TFetchOutlook> ParseFetchOutlook(const QByteArray& json);

//! "1分未満", "約3分", "約2時間5分".
QString DurationText(int seconds);

//! The held data and the next fetch in two short lines.
QString HeldText(const TFetchOutlook& outlook);
QString OutlookText(const TFetchOutlook& outlook, const TDataPlan& plan);

//! How far back the plan's data reaches and how far behind it ends, and its rate.
QString PlanText(const TDataPlan& plan);

//! Where a key is obtained, with the data API's site as a link (rich text of our own words).
QString KeySiteHtml();

//! Days and requests done, and the time left while the fetch runs; once it has ended, the
//! time left is gone.
QString ProgressText(const TFetchProgress& progress, bool ended = false);

//! The outcome in words: `exitStatus` of the child (or -1 when it crashed), the HTTP status
//! of its last request (0 when none; for a child whose end line gives no reason), its last
//! line, and its last line on stderr, which says what happened in its own words. Each names
//! what happened and what this fetch kept.
QString OutcomeText(int exitStatus, int lastHttpStatus, const std::optional<TFetchEnd>& end, const QString& lastError);
