#include "analysis/buy_signals.h"

#include "common/exact_format.h"
#include "data/data_error.h"

namespace {

struct TScanView
{
    const TChartBars& Bars;
    std::int32_t TChartRec::*ShortField;
    std::int32_t TChartRec::*LongField;

    const TChartRec& Bar(int i) const { return Bars[static_cast<std::size_t>(i)]; }
    std::int64_t S(int i) const { return Bar(i).*ShortField; }
    std::int64_t L(int i) const { return Bar(i).*LongField; }
};

// r2(S / L) >= 0.91, i.e. S / L >= 0.905, for L > 0.
bool ShortNearLong(std::int64_t s, std::int64_t l)
{
    return 200 * s >= 181 * l;
}

// r2(L / S) >= 1.10, i.e. L / S >= 1.095. A short average of 0 or below has no such
// ratio, so it never passes (a negative one would pass the cross-multiplied form).
bool LongWellAboveShort(std::int64_t l, std::int64_t s)
{
    return s > 0 && 200 * l >= 219 * s;
}

// One back-test check: a new high or low, and whether it reaches the target or the stop.
void FollowHigh(TBuySignalResult& r, std::int32_t price, const std::string& date)
{
    if (r.HighWatch == 0 || r.LowWatch == 0)
        return;
    if (price > r.HighAfterBuy)
    {
        r.HighAfterBuy = price;
        r.SellDate = date;
        if (static_cast<std::int64_t>(r.HighAfterBuy) * 10 >= static_cast<std::int64_t>(r.BuyPrice) * 11)
            r.HighWatch = 0;
    }
}

void FollowLow(TBuySignalResult& r, std::int32_t price, const std::string& date)
{
    if (r.HighWatch == 0 || r.LowWatch == 0)
        return;
    if (price < r.LowAfterBuy)
    {
        r.LowAfterBuy = price;
        r.SellDate = date;
        if (static_cast<std::int64_t>(r.LowAfterBuy) * 10 <= static_cast<std::int64_t>(r.BuyPrice) * 9)
            r.LowWatch = 0;
    }
}

} // namespace

double Ratio2(std::int64_t num, std::int64_t den)
{
    if (den == 0)
        throw TDataError("移動平均が 0 のためシグナルの比率を計算できません");
    return static_cast<double>(RoundRatio(num, den, 2)) / 100.0;
}

TBuySignalScan FindBuySignals(const TChartBars& bars, TChartLength length, TBuySignalResult& result)
{
    const bool weekly = length == TChartLength::Weekly;
    const TScanView v{bars, weekly ? &TChartRec::AvgShortWeek : &TChartRec::AvgShortDay,
                      weekly ? &TChartRec::AvgLongWeek : &TChartRec::AvgLongDay};

    result.BuyDate.clear();
    result.BuyPrice = 0;
    result.SignalKind = 0;
    result.SellDate.clear();
    result.HighAfterBuy = 0;
    result.LowAfterBuy = 0;
    result.HighWatch = -1;
    result.LowWatch = -1;
    if (weekly)
    {
        result.RatioBefore2 = 0;
        result.RatioBefore1 = 0;
        result.RatioAtSignal = 0;
        result.SignalKindReal = 0;
    }

    TBuySignalScan scan;
    int last = -1; // latest signal period of this scan
    for (int i = 2; i < MaxChartBars; ++i)
    {
        const TChartRec& bar = v.Bar(i);
        if (bar.DateText.empty() || v.L(i - 2) <= 0 || v.S(i - 2) <= 0)
            continue;
        scan.Result = 0;
        result.SignalKind = 0;

        // The back-test runs before this period's own signal tests, so a purchase at the
        // next open is followed from the buy period itself.
        if (weekly && result.BuyPrice > 0)
        {
            FollowHigh(result, bar.ClosePrice, bar.DateText);
            FollowHigh(result, bar.OpenPrice, bar.DateText);
            FollowLow(result, bar.ClosePrice, bar.DateText);
            FollowLow(result, bar.OpenPrice, bar.DateText);
        }

        const bool nearBefore = !weekly || ShortNearLong(v.S(i - 2), v.L(i - 2));
        if ((last < 0 || i - last >= 3) && v.L(i - 2) > v.S(i - 2) && v.L(i - 1) <= v.S(i - 1) &&
            v.L(i) < v.S(i) && nearBefore)
            result.SignalKind = static_cast<std::int32_t>(TSignalKind::Rising);
        if ((last < 0 || i - last >= 5) && v.L(i) > v.S(i) && bar.ClosePrice < v.L(i) && nearBefore &&
            LongWellAboveShort(v.L(i), v.S(i)))
            result.SignalKind = static_cast<std::int32_t>(TSignalKind::Divergence);
        if (result.SignalKind == 0)
            continue;

        last = i;
        const bool buyNext = i < MaxChartBars - 1 && !v.Bar(i + 1).DateText.empty();
        const TChartRec& buyBar = buyNext ? v.Bar(i + 1) : bar;
        const std::int32_t buyPrice = buyNext ? buyBar.OpenPrice : buyBar.ClosePrice;
        if (weekly)
            scan.Verdict = buyNext ? TVerdictColour::Black : TVerdictColour::Yellow;
        scan.Markers.push_back({i, static_cast<TSignalKind>(result.SignalKind), bar.*v.ShortField, buyPrice});

        result.BuyDate = buyBar.DateText;
        result.BuyPrice = buyPrice;
        scan.Result = buyPrice;
        result.SellDate.clear();
        result.HighAfterBuy = 0;
        result.LowAfterBuy = buyPrice;
        result.HighWatch = -1;
        result.LowWatch = -1;
        if (weekly)
        {
            result.RatioBefore2 = Ratio2(v.S(i - 2), v.L(i - 2));
            result.RatioBefore1 = Ratio2(v.S(i - 1), v.L(i - 1));
            result.RatioAtSignal = Ratio2(v.S(i), v.L(i));
            result.SignalKindReal = result.SignalKind;
        }
    }
    return scan;
}
