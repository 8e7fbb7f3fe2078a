#pragma once

#include "market/calendar.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// What orvanta-service --fetch is asked to do, read apart from the run that does it: the
// command line, the data API's key and the length of the source's minute.

//! A plan of the data API: requests a minute, and how many days its newest day lies back.
struct TFetchPlan
{
    const char* Name;
    int Rate;
    int HeldBackDays;
};

inline constexpr TFetchPlan FetchPlans[] = {
    {"free", 5, 84}, {"light", 60, 0}, {"standard", 120, 0}, {"premium", 500, 0}};

inline constexpr const char* DefaultFetchSource = "https://api.jquants.com/v2";

//! The fetch's usage text.
extern const char* const FetchUsage;

//! A command line the fetch cannot run: exit 64 with the usage text; what() says what is wrong.
struct TFetchUsageError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

//! --help or -h: the usage text on stdout, exit 0.
struct TFetchHelpAsked
{};

struct TFetchOptions
{
    std::filesystem::path DataFolder;
    const TFetchPlan* Plan = &FetchPlans[0];
    std::optional<TDate> From;
    std::optional<TDate> To;
    std::vector<std::string> Codes; // the source's 5-character codes, without repeats
    int Rate = 0;                   // requests a minute; 0: the plan's
    std::string Source = DefaultFetchSource;
    int ProgressFd = -1;
    bool DryRun = false;
};

//! The fetch's command line. Without --data, the user's layer over the sample market, readied
//! for writing unless --dry-run. Throws TFetchUsageError, TFetchHelpAsked, or std::runtime_error
//! when there is no user folder.
TFetchOptions ParseFetchOptions(int argc, char** argv);

//! The key from ORVANTA_JQUANTS_API_KEY, else from the user's key file (mode 0600 only). Empty
//! when there is none, with `problem` the reason for exit 64: it names where the key was looked
//! for, never the key.
std::string ReadApiKey(std::string& problem);

//! The source's minute; tests shorten it (ORVANTA_FETCH_MINUTE_MS) to check the rate in seconds.
std::chrono::milliseconds SourceMinute();
