#pragma once

#include "market/calendar.h"

#include "common/service_contract.h"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// What orvanta-service --fetch is asked to do, read apart from the run that does it: the
// command line and the data API's key.

inline constexpr const char* DefaultFetchSource = "https://api.jquants.com/v2";

//! The fetch's usage text.
std::string FetchUsage();

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
    const TDataPlan* Plan = &DataPlans.front();
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

//! The key from ApiKeyVariable, else from the user's ApiKeyFile: a regular file of the user
//! that no one else may read or write (0600 or stricter); anything else is refused. Empty
//! when there is none, with `problem` the reason for exit 64: it names where the key was looked
//! for, never the key.
std::string ReadApiKey(std::string& problem);
