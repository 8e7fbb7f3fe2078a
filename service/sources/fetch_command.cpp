#include "sources/fetch_command.h"

#include "sources/fetch_options.h"
#include "sources/jquants_client.h"
#include "sources/query_guard.h"
#include "sources/rate_limit.h"
#include "market/bar_store.h"
#include "market/data_version.h"
#include "market/master_rules.h"
#include "common/terminal_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

constexpr int FirstFetchDays = 400; // back from the newest day: the weekly chart needs 330
constexpr int EmptyDayRecheckDays = 7; // today's bars come only with the evening update
constexpr int RetriesAfter429 = 3;
constexpr int CompactAbove = 64;

//! A message for a person on stderr, after the progress line when one is on the terminal;
//! outside text in it (paths, the source's words) is escaped.
void Tell(const std::string& text, bool afterProgress = false)
{
    std::fprintf(stderr, "%sorvanta-service: %s\n", afterProgress ? "\n" : "", TerminalText(text).c_str());
}

volatile std::sig_atomic_t StopSignal = 0;

extern "C" void OnStopSignal(int signal)
{
    StopSignal = signal;
}

bool IsWeekday(TDate date)
{
    return Weekday(date) < 5;
}

// What the command asks of the source and what it has brought so far.
class TFetchRun
{
public:
    TFetchRun(const TFetchOptions& options, TBarStore& store, TDate today)
        : Options(options), Store(store), Today(today), Limiter(Rate(), SourceMinute(), Clock),
          Minute(SourceMinute()), Terminal(::isatty(STDERR_FILENO) == 1)
    {
    }

    int Rate() const { return Options.Rate > 0 ? Options.Rate : Options.Plan->RequestsPerMinute; }

    int Run(const std::string& key, TDate from, TDate to, const std::vector<TDate>& days, std::optional<TDate> heldLast);

private:
    struct TOutcome
    {
        bool Go = true;
        int Exit = ServiceExitSuccess;
    };

    TApiAnswer Ask(const std::string& path, const TApiQuery& query);
    TOutcome FetchMaster();
    TOutcome FetchPages(TBarRequest::TKind kind, const std::string& key, const TApiQuery& query,
                        const TQueryScope& scope, int firstPage, std::string nextPage);
    TOutcome SourceFailed(const TApiAnswer& answer, const std::string& what);
    TOutcome Stopped();
    void Progress(long status);
    void WriteProgress(const std::string& line) const;
    void Finish(int exit);

    const TFetchOptions& Options;
    TBarStore& Store;
    TDate Today;
    TSteadyClock Clock;
    TRateLimiter Limiter;
    std::chrono::milliseconds Minute;
    std::unique_ptr<TJQuantsClient> Client;
    std::string Key;
    bool Terminal;

    long Requests = 0;
    long Rows = 0;
    long Refused = 0;
    long MasterRequests = 0;
    long QueryRows = 0; // rows of the query under way, over its pages of this run
    long UnitsDone = 0;  // days (or codes) finished
    long UnitsTotal = 0;
    double PagesPerUnit = 1;
    long NextTenth = 1;
    bool KeyAccepted = false;
    std::optional<TDate> LastServed;
    std::set<std::string> Stocks;
};

TApiAnswer TFetchRun::Ask(const std::string& path, const TApiQuery& query)
{
    for (int attempt = 0;; ++attempt) {
        if (!Limiter.Take(&StopSignal))
            return TApiAnswer{0, {}, {}, true};
        TApiAnswer answer = Client->Get(path, query);
        ++Requests;
        if (!answer.Stopped)
            Progress(answer.Status);
        if (answer.Status != 429 || attempt == RetriesAfter429)
            return answer;
        // No Retry-After comes with it; a little over the source's minute clears its window.
        if (!Clock.SleepUntil(Clock.Now() + Minute * 65 / 60, &StopSignal))
            return TApiAnswer{0, {}, {}, true};
    }
}

TFetchRun::TOutcome TFetchRun::Stopped()
{
    Tell("中断しました。ここまでに取得した分は残っています。もう一度実行すると続きから取得します", Terminal);
    return {false, ServiceExitOfSignal(static_cast<int>(StopSignal))};
}

TFetchRun::TOutcome TFetchRun::SourceFailed(const TApiAnswer& answer, const std::string& what)
{
    if (answer.Stopped || StopSignal)
        return Stopped();
    std::string message = ErrorMessageOf(answer.Body);
    // A source that echoes the request must not put the key on the screen.
    for (size_t at = message.find(Key); !Key.empty() && at != std::string::npos; at = message.find(Key))
        message.replace(at, Key.size(), "(キー)");
    const std::string said = message.empty() ? "" : " (\"" + message + "\")";
    std::string text;
    // `what` ends in Japanese and may begin with a date, so it opens each sentence.
    if (answer.SourceFault)
        text = what + "へのデータ元の応答を受け付けません: " + answer.Error;
    else if (answer.Status == 0)
        text = what + "について " + Options.Source + " から応答がありません: " + answer.Error +
               "。ネットワークかプロキシーの設定を確かめて、もう一度実行してください";
    else if (answer.Status == 403 && !KeyAccepted)
        text = "データ元が API キーを拒否しました (403)" + said +
               ": キーが誤っているか期限切れです。J-Quants のダッシュボードからもう一度コピーしてください";
    else if (answer.Status == 403)
        text = what + "の要求をデータ元が拒否しました (403)" + said +
               ": ご利用のプランの範囲外です。--plan と --from を確かめてください";
    else if (answer.Status == 429)
        text = what + "の要求をデータ元は " + std::to_string(RetriesAfter429) +
               " 回待った後も拒否しました (429、要求が多すぎます)。5 分待ってもう一度実行するか、--rate を下げてください";
    else if (answer.Status >= 500)
        text = what + "の要求でデータ元が失敗しました (HTTP " + std::to_string(answer.Status) + ")" + said +
               "。しばらくしてからもう一度実行してください";
    else if (answer.Status == 200)
        text = what + "へのデータ元の応答は公開されている JSON の形ではありません。その応答は何も保存していません";
    else
        text = what + "の要求をデータ元が拒否しました (HTTP " + std::to_string(answer.Status) + ")" + said;
    Tell(text + "。それまでに取得した分は残っています", Terminal);
    return {false, ServiceExitSourceStopped};
}

void TFetchRun::Progress(long status)
{
    const long unitsLeft = std::max(0L, UnitsTotal - UnitsDone);
    const long left = static_cast<long>(static_cast<double>(unitsLeft) * PagesPerUnit + 0.5);
    const long long eta = std::chrono::duration_cast<std::chrono::seconds>(Limiter.TimeFor(left)).count();
    if (Options.ProgressFd >= 0)
        WriteProgress(FetchProgressLine({Requests, left, UnitsDone, UnitsTotal, Rows, eta, static_cast<int>(status)}));
    if (Terminal) {
        std::fprintf(stderr, "\rorvanta-service: %ld/%ld 日、要求 %ld 回、残り %ld 回、あと約 %lld 秒   ", UnitsDone,
                     UnitsTotal, Requests, left, eta);
        std::fflush(stderr);
    } else if (UnitsTotal > 0 && UnitsDone * 10 >= NextTenth * UnitsTotal) {
        while (UnitsDone * 10 >= NextTenth * UnitsTotal && NextTenth <= 10)
            ++NextTenth;
        std::fprintf(stderr, "orvanta-service: %ld/%ld 日、要求 %ld 回、残り %ld 回、あと約 %lld 秒\n", UnitsDone,
                     UnitsTotal, Requests, left, eta);
    }
}

void TFetchRun::WriteProgress(const std::string& line) const
{
    // A reader that went away costs it its lines, not the fetch.
    [[maybe_unused]] const ssize_t written = ::write(Options.ProgressFd, line.data(), line.size());
}

TFetchRun::TOutcome TFetchRun::FetchMaster()
{
    std::vector<TMasterRow> rows;
    std::string nextPage;
    TPaginationGuard pages;
    do {
        TApiQuery query;
        if (!nextPage.empty())
            query.emplace_back("pagination_key", nextPage);
        const TApiAnswer answer = Ask("/equities/master", query);
        if (answer.Status != 200)
            return SourceFailed(answer, "銘柄マスター");
        std::optional<TMasterPage> page = ParseMasterPage(answer.Body);
        if (!page)
            return SourceFailed(answer, "銘柄マスター");
        KeyAccepted = true;
        if (const std::string problem = pages.Answered(page->NextPage); !problem.empty())
            return SourceFailed(TApiAnswer::Fault(problem), "銘柄マスター");
        rows.insert(rows.end(), std::make_move_iterator(page->Rows.begin()), std::make_move_iterator(page->Rows.end()));
        nextPage = page->NextPage;
    } while (!nextPage.empty());
    TMasterCounts counts;
    std::vector<TStock> stocks;
    for (const TMasterRow& row : rows) {
        TApiMasterRecord record{row.Code, row.CoName, row.S33, row.Mkt};
        if (std::optional<TStock> stock = MasterEntryFromApi(record, counts))
            stocks.push_back(std::move(*stock));
    }
    WriteRealMaster(Options.DataFolder, stocks, "J-Quants API v2");
    std::fprintf(stderr,
                 "orvanta-service: 銘柄マスター: %d 銘柄を配信します (うち KabuList.dat にないもの %d)。"
                 "TOKYO PRO MARKET の %d 銘柄とその他の %d 銘柄は除きました\n",
                 counts.Served, counts.NotListed, counts.ProMarket, counts.Skipped);
    return {};
}

TFetchRun::TOutcome TFetchRun::FetchPages(TBarRequest::TKind kind, const std::string& key, const TApiQuery& query,
                                          const TQueryScope& scope, int firstPage, std::string nextPage)
{
    const std::string what = kind == TBarRequest::TKind::Date ? key + " の日足" : "銘柄 " + key + " の日足";
    int page = firstPage;
    bool restarted = false;
    TPaginationGuard pages(firstPage);
    QueryRows = 0;
    for (;;) {
        TApiQuery pageQuery = query;
        if (!nextPage.empty())
            pageQuery.emplace_back("pagination_key", nextPage);
        const TApiAnswer answer = Ask("/equities/bars/daily", pageQuery);
        if (answer.Status == 400 && page > 0 && !restarted) {
            // A pagination key kept from a killed run may have gone stale: the query from its start.
            restarted = true;
            page = 0;
            pages.Restart();
            nextPage.clear();
            continue;
        }
        if (answer.Status == 403 && KeyAccepted && kind == TBarRequest::TKind::Date && LastServed) {
            Tell("注: データ元はご利用のプランでは " + DashedDate(*LastServed) + " までを配信しています。" + key +
                     " からはプランの範囲外のため拒否されました (403)", Terminal);
            return {false, ServiceExitSuccess};
        }
        if (answer.Status != 200)
            return SourceFailed(answer, what);
        std::optional<TBarsPage> bars = ParseBarsPage(answer.Body);
        if (!bars)
            return SourceFailed(answer, what);
        // The page that breaks the pagination is not stored: its key would be where the next
        // run goes on.
        if (const std::string problem = pages.Answered(bars->NextPage); !problem.empty())
            return SourceFailed(TApiAnswer::Fault(problem), what);
        if (const TRowsRefused outside = KeepAsked(bars->Rows, scope); outside.Count > 0) {
            Refused += outside.Count;
            Tell(what + ": " + RefusedRowsText(outside), Terminal);
        }
        TBarRequest request{kind, key, page, bars->NextPage, Today, static_cast<int>(bars->Rows.size())};
        Store.Commit(request, bars->Rows);
        if (!bars->Rows.empty())
            BumpDataVersion(Options.DataFolder);
        Rows += static_cast<long>(bars->Rows.size());
        QueryRows += static_cast<long>(bars->Rows.size());
        Refused += bars->Refused;
        for (const TBarRow& row : bars->Rows)
            Stocks.insert(row.Code);
        if (bars->NextPage.empty())
            return {};
        if (StopSignal)
            return Stopped();
        nextPage = bars->NextPage;
        ++page;
    }
}

int TFetchRun::Run(const std::string& key, TDate from, TDate to, const std::vector<TDate>& days,
                   std::optional<TDate> heldLast)
{
    LastServed = heldLast;
    Key = key;
    Client = std::make_unique<TJQuantsClient>(Options.Source, key, &StopSignal);
    const std::map<TDate, TQueryState> dayStates = Store.Days();
    const std::map<std::string, TQueryState> codeStates = Store.Codes();
    long pages = 0, complete = 0;
    for (const auto& [date, state] : dayStates)
        if (state.Complete && state.Rows > 0) {
            pages += state.Pages;
            ++complete;
        }
    if (complete > 0)
        PagesPerUnit = static_cast<double>(pages) / static_cast<double>(complete);
    UnitsTotal = static_cast<long>(Options.Codes.empty() ? days.size() : Options.Codes.size());

    TOutcome outcome;
    try {
        try {
            outcome = FetchMaster();
        } catch (const std::system_error&) {
            throw;
        } catch (const std::exception& error) { // a master the rules cannot take whole
            Tell(std::string("データ元の銘柄マスターは保存していません: ") + error.what());
            outcome = {false, ServiceExitSourceStopped};
        }
        MasterRequests = Requests;
        if (Options.Codes.empty()) {
            for (const TDate date : days) {
                if (!outcome.Go)
                    break;
                if (StopSignal) {
                    outcome = Stopped();
                    break;
                }
                const auto state = dayStates.find(date);
                const bool resume = state != dayStates.end() && !state->second.Complete && state->second.Pages > 0;
                const std::string dashed = DashedDate(date);
                outcome = FetchPages(TBarRequest::TKind::Date, dashed, {{"date", dashed}}, {"", date, date, Today},
                                     resume ? state->second.Pages : 0, resume ? state->second.NextPage : "");
                if (outcome.Go) {
                    ++UnitsDone;
                    if (QueryRows + (resume ? state->second.Rows : 0) > 0)
                        LastServed = date;
                    // Pages a day as this run finds them, for the requests left.
                    PagesPerUnit = static_cast<double>(Requests - MasterRequests) / static_cast<double>(UnitsDone);
                }
            }
        } else {
            for (const std::string& code : Options.Codes) {
                if (!outcome.Go)
                    break;
                if (StopSignal) {
                    outcome = Stopped();
                    break;
                }
                const auto state = codeStates.find(code);
                // A code finished today is not asked again; one cut short goes on where it stopped.
                if (state != codeStates.end() && state->second.Complete && state->second.AskedOn == Today) {
                    ++UnitsDone;
                    continue;
                }
                const bool resume = state != codeStates.end() && !state->second.Complete && state->second.Pages > 0;
                outcome = FetchPages(TBarRequest::TKind::Code, code,
                                     {{"code", code}, {"from", DashedDate(from)}, {"to", DashedDate(to)}},
                                     {code, from, to, Today}, resume ? state->second.Pages : 0,
                                     resume ? state->second.NextPage : "");
                if (outcome.Go)
                    ++UnitsDone;
            }
        }
        Store.CompactIfOver(CompactAbove);
    } catch (const std::system_error& error) {
        Tell(std::string(error.what()) +
                 "。それまでに取得した分は残っています。空きを作るかフォルダーを直して、もう一度実行してください", Terminal);
        outcome = {false, ServiceExitLocalFailure};
    }
    Finish(outcome.Exit);
    return outcome.Exit;
}

void TFetchRun::Finish(int exit)
{
    std::fprintf(stderr, "%sorvanta-service: %ld/%ld %s、%zu 銘柄、%ld 行 (要求 %ld 回)、受け付けなかった行 %ld\n",
                 Terminal ? "\n" : "", UnitsDone, UnitsTotal, Options.Codes.empty() ? "日" : "銘柄", Stocks.size(),
                 Rows, Requests, Refused);
    if (Options.ProgressFd >= 0)
        WriteProgress(FetchEndLine({exit, UnitsDone, static_cast<long long>(Stocks.size()), Rows, Requests, Refused}));
}

// The days a fetch asks for: weekdays of the range without bars yet. An empty answer is asked
// again while the day is within the last week, or was when it was last asked (asked early on
// the day itself, it came before the evening update); older ones are holidays.
std::vector<TDate> DaysToAsk(const std::map<TDate, TQueryState>& states, TDate from, TDate to, TDate today)
{
    std::vector<TDate> days;
    for (TDate date = from; date <= to; date = AddDays(date, 1)) {
        if (!IsWeekday(date))
            continue;
        const auto state = states.find(date);
        if (state != states.end() && state->second.Complete) {
            const bool brought = state->second.Rows > 0;
            const bool settled = DayNumber(today) - DayNumber(date) > EmptyDayRecheckDays &&
                                 DayNumber(state->second.AskedOn) - DayNumber(date) > EmptyDayRecheckDays;
            if (brought || settled)
                continue;
        }
        days.push_back(date);
    }
    return days;
}

} // namespace

bool IsFetchCommand(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--fetch") == 0)
            return true;
    return false;
}

int RunFetchCommand(int argc, char** argv)
{
    TFetchOptions options;
    try {
        options = ParseFetchOptions(argc, argv);
    } catch (const TFetchHelpAsked&) {
        std::fputs(FetchUsage().c_str(), stdout);
        return ServiceExitSuccess;
    } catch (const TFetchUsageError& error) {
        Tell(error.what());
        std::fputs(FetchUsage().c_str(), stderr);
        return ServiceExitUsage;
    } catch (const std::exception& error) {
        Tell(error.what());
        return ServiceExitLocalFailure;
    }

    const TDate today = LocalToday();
    const TDate to = options.To.value_or(AddDays(today, -options.Plan->HeldBackDays));
    try {
        std::unique_ptr<TBarStore> store = std::make_unique<TBarStore>(
            options.DataFolder, options.DryRun ? TBarStore::TMode::ReadOnly : TBarStore::TMode::Write);
        const std::map<TDate, TQueryState> states = store->Days();
        // A later run goes on from where the first began, filling what is missing after it.
        std::optional<TDate> firstAsked;
        std::optional<TDate> heldFirst, heldLast;
        for (const auto& [date, state] : states) {
            firstAsked = firstAsked.value_or(date);
            if (state.Rows > 0) {
                heldFirst = heldFirst.value_or(date);
                heldLast = date;
            }
        }
        TDate from = options.From.value_or(firstAsked.value_or(AddDays(to, -FirstFetchDays)));
        if (!options.From && from < AddDays(to, -FirstFetchDays))
            from = AddDays(to, -FirstFetchDays);
        const std::vector<TDate> days = DaysToAsk(states, from, to, today);

        if (options.DryRun) {
            // A day takes as many pages as the days held took, one when nothing is held.
            long pages = 0, complete = 0;
            for (const auto& [date, state] : states)
                if (state.Complete && state.Rows > 0) {
                    pages += state.Pages;
                    ++complete;
                }
            const long perDay = complete > 0 ? std::max(1L, (2 * pages + complete) / (2 * complete)) : 1;
            const long requests =
                1 + (options.Codes.empty() ? perDay * static_cast<long>(days.size()) : static_cast<long>(options.Codes.size()));
            TSteadyClock clock;
            TRateLimiter rate(options.Rate > 0 ? options.Rate : options.Plan->RequestsPerMinute,
                              std::chrono::minutes(1), clock);
            TFetchOutlookFigures outlook;
            outlook.HeldFirst = heldFirst ? DashedDate(*heldFirst) : "";
            outlook.HeldLast = heldLast ? DashedDate(*heldLast) : "";
            outlook.Stocks = static_cast<long long>(LoadRawDays(options.DataFolder).size());
            outlook.From = DashedDate(from);
            outlook.To = DashedDate(to);
            outlook.Days = static_cast<long long>(days.size());
            outlook.Requests = requests;
            outlook.Seconds = std::chrono::duration_cast<std::chrono::seconds>(rate.TimeFor(requests)).count();
            std::fputs(FetchOutlookJson(outlook).c_str(), stdout);
            return ServiceExitSuccess;
        }

        std::string problem;
        const std::string key = ReadApiKey(problem);
        if (key.empty()) {
            Tell(problem);
            return ServiceExitUsage;
        }

        struct sigaction action{};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        std::signal(SIGPIPE, SIG_IGN);

        TFetchRun run(options, *store, today);
        return run.Run(key, from, to, days, heldLast);
    } catch (const std::exception& error) {
        Tell(error.what());
        return ServiceExitLocalFailure;
    }
}
