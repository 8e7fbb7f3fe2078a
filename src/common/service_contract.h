#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What the program and orvanta-service agree on: where the service listens and what it is asked,
// what its status answer says, and how its fetch reports to the window. Each fact is written
// here once; both sides and their tests take it from here, so the two cannot drift apart.

// --- Where it listens --------------------------------------------------------------------------

//! The service's executable, also the "program" its status answer names and its Server header.
constexpr const char* ServiceProgram = "orvanta-service";
//! The only host the service binds.
constexpr const char* ServiceHost = "127.0.0.1";
constexpr int DefaultServicePort = 18650;

//! "http://127.0.0.1:<port>".
std::string LoopbackServiceUrl(int port);

//! The port of an address LoopbackServiceUrl writes ("http://127.0.0.1" alone is port 80);
//! none for any other text, another host included.
std::optional<int> LoopbackServicePort(std::string_view url);

// --- What it is asked --------------------------------------------------------------------------

//! A stock's quote page: QuoteRoute "?qt=<key>&sv=MN&pg=mn_schart.html".
constexpr const char* QuoteRoute = "/MnStock";
//! A stock's price history: HistoryRoute "?sv=MN&qt=<key>&sy=&sm=&sd=&ey=&em=&ed=&k=w|d".
constexpr const char* HistoryRoute = "/MnStock/slast.html";
//! The service's status, a JSON object of the fields below.
constexpr const char* StatusRoute = "/orvanta/status";
//! A stock's whole history as CSV: BarsRoute "?code=<code>&period=daily|weekly|monthly[&from=YYYY-MM-DD]
//! [&raw=1]" (raw: daily bars as traded, with the source's decimals, from a market database only).
//! Prices adjusted for every later split or consolidation, oldest bar first; an unknown code is a
//! 404 and a bad query a 400, each with a one-line text/plain reason.
constexpr const char* BarsRoute = "/orvanta/bars";
constexpr const char* BarsType = "text/csv; charset=utf-8";
//! The first line of a BarsRoute answer; then "yyyy-mm-dd,open,high,low,close,volume" per bar, LF ends.
constexpr const char* BarsHeader = "date,open,high,low,close,volume";

//! A status answer is small; a client reads no more than this (64 KiB).
constexpr std::size_t MaxStatusBytes = 64 * 1024;

// The status answer's fields.
constexpr const char* StatusProgramField = "program";          // ServiceProgram
constexpr const char* StatusVersionField = "version";          // the service's version text
constexpr const char* StatusUidField = "uid";                  // the user it runs as
constexpr const char* StatusDataField = "data";                // its data folder, absolute
constexpr const char* StatusSampleField = "sample";            // true while it serves the sample market
constexpr const char* StatusDataVersionField = "data_version"; // a token that changes with the data

// --- The fetch ---------------------------------------------------------------------------------

// orvanta-service's exit statuses, the same in every mode; the window's data update tells the
// user what a fetch's status means.
constexpr int ServiceExitSuccess = 0;
constexpr int ServiceExitLocalFailure = 1;  // the data folder could not be read or written
constexpr int ServiceExitSourceStopped = 2; // the data API refused or failed; what came is kept
constexpr int ServiceExitUsage = 64;        // a bad command line, or no usable API key

//! The status of a run a signal interrupted: 130 for SIGINT, 143 for SIGTERM.
constexpr int ServiceExitOfSignal(int signal)
{
    return 128 + signal;
}

//! A plan of the data API: its name as --plan takes it, as the window shows it, its requests a
//! minute, how many days its newest day lies back, and how many years back its oldest day lies
//! (0: as far back as the source holds).
struct TDataPlan
{
    const char* Name;
    const char* Caption;
    int RequestsPerMinute;
    int HeldBackDays;
    int YearsBack;
};

//! Free, Light, Standard and Premium, in that order.
inline constexpr std::array<TDataPlan, 4> DataPlans{{
    {"free", "Free", 5, 84, 2},
    {"light", "Light", 60, 0, 5},
    {"standard", "Standard", 120, 0, 10},
    {"premium", "Premium", 500, 0, 0},
}};

//! The data API's site, where a user registers, chooses a plan and gets the key.
constexpr const char* DataApiSite = "https://jpx-jquants.com/";

//! The plan named `name`; null for a name that is none.
const TDataPlan* FindDataPlan(std::string_view name);

//! One line the fetch writes to its progress descriptor (--progress-fd) after each request.
struct TFetchProgress
{
    long long Requests = 0;
    long long RequestsLeft = 0;
    long long DaysDone = 0; // days, or codes with --codes
    long long DaysTotal = 0;
    long long Rows = 0;
    long long SecondsLeft = 0;
    int HttpStatus = 0; // of the request just done; 0 when none came
};

//! Why a fetch ended, so the window can say what happened without reading the fetch's words.
enum class TFetchReason
{
    Unknown,      // an end line without a reason
    Done,         // everything asked for was fetched
    PlanEnd,      // fetched up to the newest day the plan serves; exit 0
    NoNetwork,    // the source's host could not be reached
    KeyRefused,   // the key was refused (403 before any answer)
    OutsidePlan,  // a day or code outside the plan was refused (403 later)
    RateLimited,  // still refused for the rate (429) after the waits
    SourceFailed, // the source failed or answered what is not its format
    LocalFailure, // the data folder could not be written
    Interrupted,  // SIGINT or SIGTERM
};

//! The reason's word on the end line: "done", "plan-end", "no-network", ...; empty for Unknown.
std::string_view FetchReasonWord(TFetchReason reason);

//! The last line, once the fetch is over.
struct TFetchEnd
{
    int ExitStatus = 0;
    long long Days = 0;
    long long Stocks = 0;
    long long Rows = 0;
    long long Requests = 0;
    long long Refused = 0;
    TFetchReason Reason = TFetchReason::Unknown;
};

//! "request=3 left=12 days=3/15 rows=12000 eta=144 http=200\n".
std::string FetchProgressLine(const TFetchProgress& progress);
//! "end exit=0 days=3 stocks=4000 rows=12000 requests=4 refused=0 reason=done\n"; no reason
//! word for Unknown.
std::string FetchEndLine(const TFetchEnd& end);

//! A line FetchProgressLine wrote, its line end optional; nothing for any other line, or for a
//! figure that is negative or over 10^9 (Rows: over 2^63).
std::optional<TFetchProgress> ParseFetchProgress(std::string_view line);
//! A line FetchEndLine wrote, read likewise; a missing or unknown reason word is Unknown.
std::optional<TFetchEnd> ParseFetchEnd(std::string_view line);

//! What `--fetch --dry-run` prints: the days held and what a fetch would ask for.
struct TFetchOutlookFigures
{
    std::string HeldFirst; // "YYYY-MM-DD"; empty when nothing is held
    std::string HeldLast;
    long long Stocks = 0;
    std::string From;
    std::string To;
    long long Days = 0;
    long long Requests = 0;
    long long Seconds = 0;
};

// The dry run's JSON fields.
constexpr const char* OutlookHeldFirstField = "held_first"; // a date, or null
constexpr const char* OutlookHeldLastField = "held_last";
constexpr const char* OutlookStocksField = "stocks";
constexpr const char* OutlookFromField = "from";
constexpr const char* OutlookToField = "to";
constexpr const char* OutlookDaysField = "days";
constexpr const char* OutlookRequestsField = "requests";
constexpr const char* OutlookSecondsField = "seconds";

//! The dry run's one line, a JSON object of the fields above, with its line end.
std::string FetchOutlookJson(const TFetchOutlookFigures& outlook);

// --- The data API's key ------------------------------------------------------------------------

//! The variable that gives the key; it wins over the key file.
constexpr const char* ApiKeyVariable = "ORVANTA_JQUANTS_API_KEY";

//! XdgFolder of XDG_CONFIG_HOME: "<XDG_CONFIG_HOME>/orvanta", or "<home>/.config/orvanta" when
//! XDG_CONFIG_HOME is unset, empty or relative; empty when neither gives an absolute folder.
std::filesystem::path ConfigFolder(const char* xdgConfigHome, const char* home);

//! The same from this process's environment; without HOME, the home folder of the user's account.
std::filesystem::path ConfigFolder();

//! The key file in a config folder, "<configFolder>/jquants-api-key"; kept with mode 0600.
std::filesystem::path ApiKeyFile(const std::filesystem::path& configFolder);
