#include "screener/entry_verdict.h"

#include "data/data_error.h"

#include <gtest/gtest.h>

namespace {

constexpr TChartLength Weekly = TChartLength::Weekly;
constexpr TChartLength Daily = TChartLength::Daily;

// `filled` periods; the period at `low` has both RSI values of each view at `rsi`, the rest 50.
TChartBars Bars(int filled, int low = -1, int rsi = 50)
{
    TChartBars bars{};
    for (int k = 0; k < filled; ++k)
    {
        TChartRec& bar = bars[static_cast<std::size_t>(k)];
        bar.DateText = "2026/01/05";
        const int value = k == low ? rsi : 50;
        bar.RsiShortWeek = bar.RsiLongWeek = bar.RsiShortDay = bar.RsiLongDay = value;
    }
    return bars;
}

TBuySignalResult Purchase()
{
    TBuySignalResult result;
    result.BuyDate = "2026/10/05";
    result.BuyPrice = 900;
    return result;
}

TBoardTexts Board(const std::string& price, const std::string& unit)
{
    TBoardTexts board;
    board.KabuKa = price;
    board.Tani = unit;
    return board;
}

TEST(EntryVerdict, ConditionsDecideInTheirOrder)
{
    const TBuySignalResult none;
    const TBoardTexts cheap = Board("    999", "       100");
    struct Row
    {
        const char* name;
        TBuySignalResult backTest;
        std::int32_t signalResult;
        TChartBars bars;
        TChartLength length;
        TBoardTexts board;
        TEntryConditions conditions;
        TEntryVerdict verdict;
    };
    const Row rows[] = {
        {"a purchase is listed", Purchase(), 0, Bars(30), Weekly, cheap, {}, {TEntryOutcome::Listed, THitLevel::Purchase}},
        {"no purchase, no condition", none, 0, Bars(30), Weekly, cheap, {}, {TEntryOutcome::NoPurchase, THitLevel::None}},
        {"RSI at 30 without the condition", none, 0, Bars(30, 20, 30), Weekly, cheap, {},
         {TEntryOutcome::NoPurchase, THitLevel::None}},
        {"RSI at 30 with the condition", none, 0, Bars(30, 20, 30), Weekly, cheap, {false, false, true},
         {TEntryOutcome::Listed, THitLevel::Rsi}},
        {"RSI at 31 is not low", none, 0, Bars(30, 20, 31), Weekly, cheap, {false, false, true},
         {TEntryOutcome::NoPurchase, THitLevel::None}},
        {"the RSI hit names the level also beside a purchase", Purchase(), 0, Bars(30, 29, 10), Weekly, cheap,
         {false, false, true}, {TEntryOutcome::Listed, THitLevel::Rsi}},
        {"periods before index 7 are not looked at", none, 0, Bars(30, 6, 10), Weekly, cheap, {false, false, true},
         {TEntryOutcome::NoPurchase, THitLevel::None}},
        {"index 7 is", none, 0, Bars(30, 7, 10), Weekly, cheap, {false, false, true},
         {TEntryOutcome::Listed, THitLevel::Rsi}},
        {"100 x 1,000 yen is 100,000: passes", Purchase(), 0, Bars(30), Weekly, Board("  1,000", "       100"),
         {false, true, false}, {TEntryOutcome::Listed, THitLevel::Purchase}},
        {"100 x 1,001 yen is over", Purchase(), 0, Bars(30), Weekly, Board("  1,001", "       100"),
         {false, true, false}, {TEntryOutcome::Over100k, THitLevel::Purchase}},
        {"a unit price past 32 bits", Purchase(), 0, Bars(30), Weekly, Board("100,000", "   100,000"),
         {false, true, false}, {TEntryOutcome::Over100k, THitLevel::Purchase}},
        {"hits only without a newest signal", Purchase(), 0, Bars(30), Weekly, cheap, {true, false, false},
         {TEntryOutcome::NoNewestSignal, THitLevel::Purchase}},
        {"hits only with a newest signal", Purchase(), 900, Bars(30), Weekly, cheap, {true, false, false},
         {TEntryOutcome::Listed, THitLevel::Purchase}},
        {"the unit price is tested before the newest signal", Purchase(), 0, Bars(30), Weekly,
         Board("  2,000", "       100"), {true, true, false}, {TEntryOutcome::Over100k, THitLevel::Purchase}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(EntryVerdict(row.backTest, row.signalResult, row.bars, row.length, row.board, row.conditions),
                  row.verdict);
    }
}

TEST(EntryVerdict, TheRsiConditionReadsTheViewOfThePeriod)
{
    TChartBars bars = Bars(30);
    bars[20].RsiShortDay = bars[20].RsiLongDay = 25; // low in the daily view only
    const TEntryConditions rsi30{false, false, true};
    const TBoardTexts board = Board("    500", "       100");
    EXPECT_EQ(EntryVerdict({}, 0, bars, Daily, board, rsi30).HitLevel, THitLevel::Rsi);
    EXPECT_EQ(EntryVerdict({}, 0, bars, Weekly, board, rsi30).HitLevel, THitLevel::None);
    bars[21].RsiShortWeek = 25; // one line alone is not enough
    EXPECT_EQ(EntryVerdict({}, 0, bars, Weekly, board, rsi30).HitLevel, THitLevel::None);
}

TEST(EntryVerdict, ABoardFigureIsReadOnlyWhenAConditionNeedsIt)
{
    const TBoardTexts broken = Board("1,2,3,4,5,6,7,8,9,0,1", "       100");
    const TChartBars bars = Bars(30);
    EXPECT_EQ(EntryVerdict({}, 0, bars, Weekly, broken, {false, true, false}).Outcome, TEntryOutcome::NoPurchase)
        << "a stock without a purchase is never priced";
    EXPECT_EQ(EntryVerdict(Purchase(), 0, bars, Weekly, broken, {}).Outcome, TEntryOutcome::Listed);
    EXPECT_THROW(EntryVerdict(Purchase(), 0, bars, Weekly, broken, {false, true, false}), TDataError);
}

} // namespace
