#include "report/run_summary.h"

#include "data/data_error.h"

namespace {

// Columns of a result row, counted from 0 as in the list.
constexpr std::size_t BuyPriceColumn = 10;   // 購入値
constexpr std::size_t SalePriceColumn = 12;  // 売却値
constexpr std::size_t RateColumn = 14;       // 上昇率
constexpr std::size_t EvaluationColumn = 15; // 評価
constexpr std::size_t ProfitColumn = 16;     // 1株あたり益

const std::string Stopped = "\xc3\x97";                                           // ×
const std::string StillHeld = "\xe7\xb6\x99\xe7\xb6\x9a\xe4\xbf\x9d\xe6\x9c\x89"; // 継続保有
const std::string TargetMarks[] = {"\xe2\x97\x8e", "\xe2\x97\x8b", "\xe2\x96\xb3",
                                   "\xef\xbc\x8d"}; // ◎ ○ △ －

bool IsTarget(const std::string& evaluation)
{
    for (const std::string& mark : TargetMarks)
        if (evaluation == mark)
            return true;
    return false;
}

std::string Thousands(std::uintmax_t count)
{
    return FormatN(TDecimal{static_cast<std::int64_t>(count), 0}, 0, 0);
}

std::string Yen(std::int64_t amount)
{
    return FormatN(TDecimal{amount, 0}, 0, 0) + "円";
}

std::string Conditions(const TRunRecord& run)
{
    std::string text;
    const auto add = [&text](bool on, const char* name) {
        if (!on)
            return;
        if (!text.empty())
            text += "、";
        text += name;
    };
    add(run.HitsOnly, "条件一致のみ表示");
    add(run.Under100k, "10万円以内の低位株のみ");
    add(run.Rsi30, "RSI 30%以下");
    return text.empty() ? "なし" : text;
}

struct TSkipReason
{
    TQuoteMiss Reason;
    const char* Token; // summary.json
    const char* Words; // the page and the summary box
};

constexpr TSkipReason SkipReasons[] = {
    {TQuoteMiss::NoAnswer, "no answer", "サービスから応答がありません"},
    {TQuoteMiss::EmptyPage, "empty page", "ページが空です"},
    {TQuoteMiss::PageSize, "page size", "ページの大きさが受け付ける範囲の外です"},
    {TQuoteMiss::NoFooter, "no footer", "株価ページの終わりの目印がありません"},
    {TQuoteMiss::NotFound, "not-found page", "銘柄が見つかりませんでした"},
    {TQuoteMiss::NoTrade, "no trades", "取引が成立していません"},
    {TQuoteMiss::OtherStock, "other stock's page", "ページが別の銘柄のものです"},
    {TQuoteMiss::None, "no quote", "株価がありません"}, // a pass that gave no reason
};

const TSkipReason& SkipReasonOf(TQuoteMiss reason)
{
    for (const TSkipReason& entry : SkipReasons)
        if (entry.Reason == reason)
            return entry;
    return SkipReasons[std::size(SkipReasons) - 1];
}


// Each trade's return carries this many decimals before the mean is rounded to 4 (of a
// percent): the figure is off only when the exact mean lies within n * 1e-14 of a half.
constexpr int ReturnDecimals = 16;

std::string SignedPercent(const TDecimal& value)
{
    return (value.Scaled > 0 ? "+" : "") + FormatF(value, 0, value.Scale) + "%";
}

std::string NotListedText(const TNotListed& notListed)
{
    const int total = notListed.NoPurchase + notListed.Over100k + notListed.NoNewestSignal;
    return "株価を読んで該当しなかった銘柄: " + FormatD(total) + " 銘柄（買いシグナルによる購入なし " +
           FormatD(notListed.NoPurchase) + "、10万円超 " + FormatD(notListed.Over100k) + "、最新週にシグナルなし " +
           FormatD(notListed.NoNewestSignal) + "）\n";
}

} // namespace

TOutcomes SummariseOutcomes(const std::vector<TResultRow>& rows)
{
    TOutcomes outcomes;
    std::int64_t rateSum = 0;
    __int128 returnSum = 0; // percent, ReturnDecimals decimals
    int returns = 0;
    for (const TResultRow& row : rows)
    {
        const std::string& evaluation = row[EvaluationColumn];
        if (row[ProfitColumn] == StillHeld)
        {
            ++outcomes.Held;
            continue;
        }
        if (evaluation == Stopped)
            ++outcomes.Stop;
        else if (IsTarget(evaluation))
            ++outcomes.Target;
        else
            continue;
        rateSum += BoardNumber(row[RateColumn]);
        outcomes.ProfitClosed += BoardNumber(row[ProfitColumn]);
        // From the prices, not the rate column, whose whole percent is truncated.
        const std::int64_t bought = BoardNumber(row[BuyPriceColumn]);
        const std::int64_t sold = BoardNumber(row[SalePriceColumn]);
        if (bought > 0)
        {
            returnSum += static_cast<__int128>(sold - bought) * 100 * Pow10(ReturnDecimals) / bought;
            ++returns;
        }
    }
    if (returns > 0)
    {
        // Each figure rounded from the sum, halves away from zero: never rounded twice.
        const auto mean = [&](int decimals) {
            const __int128 unit = static_cast<__int128>(Pow10(ReturnDecimals - decimals)) * returns;
            const __int128 magnitude = returnSum < 0 ? -returnSum : returnSum;
            const __int128 rounded = (magnitude + unit / 2) / unit;
            return TDecimal{static_cast<std::int64_t>(returnSum < 0 ? -rounded : rounded), decimals};
        };
        outcomes.MeanReturnClosed = mean(4);
        outcomes.MeanReturnShown = mean(2);
    }
    const int closed = outcomes.Target + outcomes.Stop;
    if (closed > 0)
    {
        outcomes.ClosedWinRate = TDecimal{RoundRatio(outcomes.Target, closed, 4), 4};
        outcomes.MeanRateClosed = TDecimal{RoundRatio(rateSum, closed, 2), 2};
    }
    return outcomes;
}

std::string EndedText(const TRunRecord& run)
{
    switch (run.End)
    {
    case TRunEnd::Completed:
        return "completed";
    case TRunEnd::StoppedAtCode:
        return "stopped at code " + FormatD(run.StopCode);
    case TRunEnd::WindowClosed:
        return "stopped when the window was closed";
    case TRunEnd::NoPageRead:
        return "no page could be read";
    case TRunEnd::Interrupted:
        return "interrupted";
    case TRunEnd::DataError:
        break;
    }
    return "data error: " + run.ErrorText;
}

std::string EndedWords(const TRunRecord& run)
{
    switch (run.End)
    {
    case TRunEnd::Completed:
        return "最後の銘柄まで検索しました。";
    case TRunEnd::StoppedAtCode:
        return "コード " + FormatD(run.StopCode) + " で検索を終えました。";
    case TRunEnd::WindowClosed:
        return "ウィンドウが閉じられたため検索を中断しました。";
    case TRunEnd::NoPageRead:
        return "どの銘柄のページも読めませんでした。サービスが応答していません。";
    case TRunEnd::Interrupted:
        return "シグナルを受けて検索を中断しました。";
    case TRunEnd::DataError:
        break;
    }
    return "データエラーで検索が止まりました: " + run.ErrorText;
}

TRunEnd SettledEnd(const TRunRecord& run)
{
    if (run.End != TRunEnd::Completed && run.End != TRunEnd::StoppedAtCode)
        return run.End;
    if (run.Screened > 0 || run.Skipped.empty())
        return run.End;
    for (const TSkippedStock& stock : run.Skipped)
        if (stock.Reason != TQuoteMiss::NoAnswer)
            return run.End;
    return TRunEnd::NoPageRead;
}

std::string SkipReasonToken(TQuoteMiss reason)
{
    return SkipReasonOf(reason).Token;
}

std::string SkipReasonText(const TSkippedStock& stock)
{
    if (stock.Reason == TQuoteMiss::PageSize)
        return "ページの大きさが " + Thousands(stock.PageBytes) + " バイトです（" + Thousands(MinQuotePageSize) + "～" +
               Thousands(MaxQuotePageSize) + " バイトのみ読みます）";
    return SkipReasonOf(stock.Reason).Words;
}

std::string SummaryText(const TRunRecord& run, const std::vector<TResultRow>& rows, std::size_t maxSkipped)
{
    const TOutcomes outcomes = SummariseOutcomes(rows);
    const int closed = outcomes.Target + outcomes.Stop;
    std::string text = "業種: " + run.Sector + "　日付: " + run.Date + "\n";
    text += "検索条件: " + Conditions(run) + "\n";
    text += "一覧の " + FormatD(run.Entries) + " 銘柄のうち " + FormatD(run.Screened) + " 銘柄の株価を読み、" +
            FormatD(static_cast<std::int64_t>(rows.size())) + " 銘柄が該当しました。\n";
    if (closed == 0)
        text += "売却済みの取引はありません。";
    else
        text += "売却済み " + FormatD(closed) + " 件（目標到達 " + FormatD(outcomes.Target) + " 件、損切り " +
                FormatD(outcomes.Stop) + " 件）、勝率 " +
                // the 4-decimal ratio read at scale 2 is the percentage
                FormatF(TDecimal{outcomes.ClosedWinRate->Scaled, 2}, 0, 2) + "%、" +
                (outcomes.MeanReturnClosed
                     ? "平均損益率 " + SignedPercent(*outcomes.MeanReturnShown) + "、"
                     : std::string()) +
                "1株あたり益の合計 " + Yen(outcomes.ProfitClosed) + "。";
    text += "継続保有 " + FormatD(outcomes.Held) + " 件。\n";
    text += NotListedText(run.NotListed);
    text += "株価を読めなかった銘柄: " + FormatD(static_cast<std::int64_t>(run.Skipped.size())) + " 銘柄\n";
    for (std::size_t i = 0; i < run.Skipped.size() && i < maxSkipped; ++i)
    {
        const TSkippedStock& stock = run.Skipped[i];
        text += "　" + stock.Code + (stock.Name.empty() ? "" : " " + stock.Name) + " " + stock.Market + ": " +
                SkipReasonText(stock) + "\n";
    }
    if (run.Skipped.size() > maxSkipped && maxSkipped > 0)
        text += "　ほか " + FormatD(static_cast<std::int64_t>(run.Skipped.size() - maxSkipped)) + " 銘柄\n";
    text += "ページ: 取得 " + FormatD(run.Pages.Fetched) + "、当日のキャッシュ " + FormatD(run.Pages.FromCache) + "\n";
    if (run.SampleData)
        text += "サンプルデータ（架空の株価）による検索です。\n";
    text += EndedWords(run);
    return text;
}
