#include "screener/entry_verdict.h"

namespace {

// The newest period from index 7 down whose two RSI values of the view are both 30 or less.
bool RsiAtThirtyOrLess(const TChartBars& bars, TChartLength length)
{
    const bool weekly = length == TChartLength::Weekly;
    for (int k = MaxChartBars - 1; k >= 7; --k)
    {
        const TChartRec& bar = bars[static_cast<std::size_t>(k)];
        if (bar.DateText.empty())
            continue;
        const int shortRsi = weekly ? bar.RsiShortWeek : bar.RsiShortDay;
        const int longRsi = weekly ? bar.RsiLongWeek : bar.RsiLongDay;
        if (shortRsi <= 30 && longRsi <= 30)
            return true;
    }
    return false;
}

} // namespace

TEntryVerdict EntryVerdict(const TBuySignalResult& backTest, std::int32_t signalResult, const TChartBars& bars,
                           TChartLength length, const TBoardTexts& board, const TEntryConditions& conditions)
{
    TEntryVerdict verdict;
    verdict.HitLevel = backTest.BuyDate.empty() ? THitLevel::None : THitLevel::Purchase;
    if (conditions.Rsi30 && RsiAtThirtyOrLess(bars, length))
        verdict.HitLevel = THitLevel::Rsi;
    if (verdict.HitLevel == THitLevel::None)
    {
        verdict.Outcome = TEntryOutcome::NoPurchase;
        return verdict;
    }
    // The board's figures are read only when the condition asks for them: a figure that does
    // not convert ends the run then and only then.
    if (conditions.Under100k && static_cast<std::int64_t>(BoardNumber(board.Tani)) * BoardNumber(board.KabuKa) > 100000)
    {
        verdict.Outcome = TEntryOutcome::Over100k;
        return verdict;
    }
    if (conditions.HitsOnly && signalResult == 0)
    {
        verdict.Outcome = TEntryOutcome::NoNewestSignal;
        return verdict;
    }
    verdict.Outcome = TEntryOutcome::Listed;
    return verdict;
}
