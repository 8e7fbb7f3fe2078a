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
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
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
constexpr std::chrono::seconds SourceMinute(60);
// No Retry-After comes with a 429; a little over the source's minute clears its window.
constexpr std::chrono::seconds After429(65);

//! A message for a person on stderr; outside text in it (paths, the source's words) is escaped.
void Tell(const std::string& text)
{
    std::fprintf(stderr, "orvanta-service: %s\n", TerminalText(text).c_str());
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

// Pages a day takes: those of the newest day stored with bars; 1 when none is.
long PagesOfLastAnsweredDay(const std::map<TDate, TQueryState>& states)
{
    for (auto state = states.rbegin(); state != states.rend(); ++state)
        if (state->second.Complete && state->second.Rows > 0)
            return std::max(1, state->second.Pages);
    return 1;
}

// The source's codes the master does not serve, with why: "TOKYO PRO MARKET の銘柄".
using TUnserved = std::map<std::string, std::string>;

// What the command asks of the source and what it has brought so far.
class TFetchRun
{
public:
    //! `units`: the days (or codes) to ask for.
    TFetchRun(const TFetchOptions& options, TBarStore& store, TDate today, TFetchClock& clock, long units)
        : Options(options), Store(store), Today(today), Clock(clock), Limiter(Rate(), SourceMinute, clock),
          Terminal(::isatty(STDERR_FILENO) == 1), UnitsTotal(units),
          PagesPerUnit(options.Codes.empty() ? PagesOfLastAnsweredDay(store.Days()) : 1)
    {}

    int Rate() const { return Options.Rate > 0 ? Options.Rate : Options.Plan->RequestsPerMinute; }

    int Run(const std::string& key, TDate from, TDate to, const std::vector<TDate>& days, std::optional<TDate> heldLast);

    //! The requests still to make: the master, the query under way, and the units ahead at
    //! the pages of the last one answered.
    long RequestsLeft() const;
    //! How long they take at the rate, with the answer time measured so far, in seconds.
    long long SecondsLeft(long requests) const;

private:
    struct TOutcome
    {
        bool Go = true;
        int Exit = ServiceExitSuccess;
        TFetchReason Reason = TFetchReason::Done;
    };

    TApiAnswer Ask(const std::string& path, const TApiQuery& query);
    TOutcome FetchMaster();
    TOutcome FetchPages(TBarRequest::TKind kind, const std::string& key, const TApiQuery& query,
                        const TQueryScope& scope, int firstPage, std::string nextPage);
    void PageAnswered(bool more);
    TOutcome SourceFailed(const TApiAnswer& answer, const std::string& what);
    TOutcome Stopped();
    std::string Kept() const;
    void Say(const std::string& text);
    void Progress(long status);
    void WriteProgress(const std::string& line) const;
    void Finish(const TOutcome& outcome);

    const TFetchOptions& Options;
    TBarStore& Store;
    TDate Today;
    TFetchClock& Clock;
    TRateLimiter Limiter;
    std::unique_ptr<TJQuantsClient> Client;
    std::string Key;
    bool Terminal;
    bool ProgressOpen = false; // a progress line on the terminal waits for its line end

    long Requests = 0;
    long Rows = 0;
    long Refused = 0;
    std::chrono::milliseconds AnswerTime{0}; // over all requests
    long QueryRows = 0;                      // rows of the query under way, over its pages of this run
    long UnitsTotal;
    long UnitsDone = 0; // days (or codes) finished
    long PagesPerUnit;
    bool MasterDone = false;
    bool InUnit = false; // a day's (or code's) query is under way
    long QueryPages = 0; // of the query under way, those stored before this run included
    long ShownLeft = -1;
    long long ShownSeconds = 0;
    long NextTenth = 1;
    bool KeyAccepted = false;
    std::string Verdict; // why the run ended, said after the summary
    std::optional<TDate> LastServed;
    std::set<std::string> Stocks;
    TUnserved Unserved;
};

long TFetchRun::RequestsLeft() const
{
    long left = MasterDone ? 0 : 1;
    long unitsAhead = UnitsTotal - UnitsDone;
    if (InUnit) {
        --unitsAhead;
        left += std::max(PagesPerUnit - QueryPages, 1L);
    }
    return left + std::max(0L, unitsAhead) * PagesPerUnit;
}

long long TFetchRun::SecondsLeft(long requests) const
{
    const std::chrono::milliseconds each = Requests > 0 ? AnswerTime / Requests : std::chrono::milliseconds(0);
    return (Limiter.TimeFor(requests, each).count() + 500) / 1000;
}

TApiAnswer TFetchRun::Ask(const std::string& path, const TApiQuery& query)
{
    for (int attempt = 0;; ++attempt) {
        if (!Limiter.Take(&StopSignal))
            return TApiAnswer{0, {}, {}, true};
        const TFetchClock::TTime sent = Clock.Now();
        TApiAnswer answer = Client->Get(path, query);
        Limiter.Answered();
        AnswerTime += std::chrono::duration_cast<std::chrono::milliseconds>(Clock.Now() - sent);
        ++Requests;
        // An answer is reported once it has been stored, with what it changed of the estimate.
        if (!answer.Stopped && answer.Status != 200)
            Progress(answer.Status);
        if (answer.Status != 429 || attempt == RetriesAfter429)
            return answer;
        if (!Clock.SleepUntil(Clock.Now() + After429, &StopSignal))
            return TApiAnswer{0, {}, {}, true};
    }
}

std::string TFetchRun::Kept() const
{
    return Rows > 0 ? "今回取得した " + std::to_string(UnitsDone) + " " + (Options.Codes.empty() ? "日" : "銘柄") +
                          "分 (" + std::to_string(Rows) + " 行) は保存してあります"
                    : "今回は株価を何も保存していません。それまでのデータはそのままです";
}

TFetchRun::TOutcome TFetchRun::Stopped()
{
    Verdict = "中断しました。" + Kept() + "。もう一度実行すると続きから取得します";
    return {false, ServiceExitOfSignal(static_cast<int>(StopSignal)), TFetchReason::Interrupted};
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
    TFetchReason reason = TFetchReason::SourceFailed;
    // `what` ends in Japanese and may begin with a date, so it opens each sentence.
    if (answer.SourceFault) {
        Verdict = what + "へのデータ元の応答を受け付けません: " + answer.Error;
    } else if (answer.Status == 0) {
        reason = TFetchReason::NoNetwork;
        Verdict = what + "について " + Options.Source + " に接続できません: " + answer.Error +
                  "。ネットワークかプロキシーの設定を確かめて、もう一度実行してください";
    } else if (answer.Status == 403 && !KeyAccepted) {
        reason = TFetchReason::KeyRefused;
        Verdict = "データ元が API キーを拒否しました (403)" + said +
                  ": キーが誤っているか期限切れです。J-Quants のダッシュボードからもう一度コピーしてください";
    } else if (answer.Status == 403) {
        reason = TFetchReason::OutsidePlan;
        Verdict = what + "の要求をデータ元が拒否しました (403)" + said +
                  ": ご利用のプランの範囲外です。--plan と --from を確かめてください";
    } else if (answer.Status == 429) {
        reason = TFetchReason::RateLimited;
        Verdict =
            what + "の要求をデータ元は " + std::to_string(RetriesAfter429) +
            " 回待った後も拒否しました (429、要求が多すぎます)。5 分待ってもう一度実行するか、--rate を下げてください";
    } else if (answer.Status >= 500) {
        Verdict = what + "の要求でデータ元が失敗しました (HTTP " + std::to_string(answer.Status) + ")" + said +
                  "。しばらくしてからもう一度実行してください";
    } else if (answer.Status == 200) {
        Verdict = what + "へのデータ元の応答は公開されている JSON の形ではありません。その応答は何も保存していません";
    } else {
        Verdict = what + "の要求をデータ元が拒否しました (HTTP " + std::to_string(answer.Status) + ")" + said;
    }
    Verdict += "。" + Kept();
    return {false, ServiceExitSourceStopped, reason};
}

void TFetchRun::Say(const std::string& text)
{
    std::fprintf(stderr, "%sorvanta-service: %s\n", ProgressOpen ? "\n" : "", TerminalText(text).c_str());
    ProgressOpen = false;
}

void TFetchRun::PageAnswered(bool more)
{
    ++QueryPages;
    if (!more && InUnit) {
        InUnit = false;
        ++UnitsDone;
        // A day without bars (a holiday) tells nothing of a trading day's pages.
        if (QueryRows > 0 || QueryPages > 1)
            PagesPerUnit = QueryPages;
    } else if (!more) {
        MasterDone = true;
    }
    Progress(200);
}

void TFetchRun::Progress(long status)
{
    // Both only fall, but when a query's pages prove more than estimated.
    const long left = RequestsLeft();
    const long long fresh = SecondsLeft(left);
    const long long eta = ShownLeft >= 0 && left <= ShownLeft ? std::min(fresh, ShownSeconds) : fresh;
    ShownLeft = left;
    ShownSeconds = eta;
    if (Options.ProgressFd >= 0)
        WriteProgress(FetchProgressLine({Requests, left, UnitsDone, UnitsTotal, Rows, eta, static_cast<int>(status)}));
    if (Terminal) {
        std::fprintf(stderr, "\rorvanta-service: %ld/%ld 日、要求 %ld 回、残り %ld 回、あと約 %lld 秒   ", UnitsDone,
                     UnitsTotal, Requests, left, eta);
        std::fflush(stderr);
        ProgressOpen = true;
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
        PageAnswered(!nextPage.empty());
    } while (!nextPage.empty());
    TMasterCounts counts;
    std::vector<TStock> stocks;
    for (const TMasterRow& row : rows) {
        const TMasterCounts before = counts;
        TApiMasterRecord record{row.Code, row.CoName, row.S33, row.Mkt};
        if (std::optional<TStock> stock = MasterEntryFromApi(record, counts))
            stocks.push_back(std::move(*stock));
        else
            Unserved[row.Code] =
                counts.ProMarket > before.ProMarket ? "TOKYO PRO MARKET の銘柄" : "配信しない種類の銘柄";
    }
    WriteRealMaster(Options.DataFolder, stocks, "J-Quants API v2");
    Say("銘柄マスター: " + std::to_string(counts.Served) + " 銘柄を配信します (うち KabuList.dat にないもの " +
        std::to_string(counts.NotListed) + ")。TOKYO PRO MARKET の " + std::to_string(counts.ProMarket) +
        " 銘柄とその他の " + std::to_string(counts.Skipped) + " 銘柄は除きました");
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
    QueryPages = firstPage;
    InUnit = true;
    for (;;) {
        TApiQuery pageQuery = query;
        if (!nextPage.empty())
            pageQuery.emplace_back("pagination_key", nextPage);
        const TApiAnswer answer = Ask("/equities/bars/daily", pageQuery);
        if (answer.Status == 400 && page > 0 && !restarted) {
            // A pagination key kept from a killed run may have gone stale: the query from its start.
            restarted = true;
            page = 0;
            QueryPages = 0;
            pages.Restart();
            nextPage.clear();
            continue;
        }
        if (answer.Status == 403 && KeyAccepted && kind == TBarRequest::TKind::Date && LastServed) {
            Verdict = "注: データ元はご利用のプランでは " + DashedDate(*LastServed) + " までを配信しています。" + key +
                      " からはプランの範囲外のため拒否されました (403)。" + Kept();
            return {false, ServiceExitSuccess, TFetchReason::PlanEnd};
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
            Say(what + ": " + RefusedRowsText(outside));
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
        PageAnswered(!bars->NextPage.empty());
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

    TOutcome outcome;
    try {
        try {
            outcome = FetchMaster();
        } catch (const std::system_error&) {
            throw;
        } catch (const std::exception& error) { // a master the rules cannot take whole
            Verdict = std::string("データ元の銘柄マスターは保存していません: ") + error.what();
            outcome = {false, ServiceExitSourceStopped, TFetchReason::SourceFailed};
        }
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
                if (outcome.Go && QueryRows + (resume ? state->second.Rows : 0) > 0)
                    LastServed = date;
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
            }
        }
        Store.CompactIfOver(CompactAbove);
    } catch (const std::system_error& error) {
        Verdict =
            std::string(error.what()) + "。" + Kept() + "。空きを作るかフォルダーを直して、もう一度実行してください";
        outcome = {false, ServiceExitLocalFailure, TFetchReason::LocalFailure};
    }
    Finish(outcome);
    return outcome.Exit;
}

void TFetchRun::Finish(const TOutcome& outcome)
{
    // The stocks with bars that the master does not serve, so the count agrees with its line.
    std::map<std::string, long> notServed;
    for (const std::string& code : Stocks)
        if (const auto why = Unserved.find(code); why != Unserved.end())
            ++notServed[why->second];
    std::string unserved;
    for (const auto& [why, count] : notServed)
        unserved += (unserved.empty() ? "" : "、") + why + " " + std::to_string(count);
    Say(std::to_string(UnitsDone) + "/" + std::to_string(UnitsTotal) + " " + (Options.Codes.empty() ? "日" : "銘柄") +
        "、" + std::to_string(Stocks.size()) + " 銘柄" +
        (unserved.empty() ? "" : " (うち配信しないもの: " + unserved + ")") + "、" + std::to_string(Rows) +
        " 行 (要求 " + std::to_string(Requests) + " 回)、受け付けなかった行 " + std::to_string(Refused));
    if (!Verdict.empty())
        Say(Verdict);
    if (Options.ProgressFd >= 0)
        WriteProgress(FetchEndLine(
            {outcome.Exit, UnitsDone, static_cast<long long>(Stocks.size()), Rows, Requests, Refused, outcome.Reason}));
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

int RunFetchCommand(int argc, char** argv, TFetchClock& clock)
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

        const long units = static_cast<long>(options.Codes.empty() ? days.size() : options.Codes.size());
        if (options.DryRun) {
            // The very estimate the run starts from.
            TFetchRun run(options, *store, today, clock, units);
            TFetchOutlookFigures outlook;
            outlook.HeldFirst = heldFirst ? DashedDate(*heldFirst) : "";
            outlook.HeldLast = heldLast ? DashedDate(*heldLast) : "";
            outlook.Stocks = static_cast<long long>(LoadRawDays(options.DataFolder).size());
            outlook.From = DashedDate(from);
            outlook.To = DashedDate(to);
            outlook.Days = static_cast<long long>(days.size());
            outlook.Requests = run.RequestsLeft();
            outlook.Seconds = run.SecondsLeft(run.RequestsLeft());
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

        TFetchRun run(options, *store, today, clock, units);
        return run.Run(key, from, to, days, heldLast);
    } catch (const std::exception& error) {
        Tell(error.what());
        return ServiceExitLocalFailure;
    }
}
