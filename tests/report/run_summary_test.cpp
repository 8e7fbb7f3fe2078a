#include "report/run_summary.h"

#include "data/data_error.h"
#include "report_rows.h"

#include <gtest/gtest.h>

namespace {

struct Expected
{
    int Target, Stop, Held;
    std::optional<std::int64_t> WinRate; // 4 decimals
    std::optional<std::int64_t> MeanRate; // 2 decimals
    std::int64_t Profit;
};

TEST(SummariseOutcomes, CountsAndSumsTheClosedTradesOfHandMadeRows)
{
    const struct
    {
        const char* Name;
        std::vector<TResultRow> Rows;
        Expected Want;
    } cases[] = {
        {"no row", {}, {0, 0, 0, std::nullopt, std::nullopt, 0}},
        {"no closed trade: held rows and a row listed by RSI alone",
         {Held("112%"), Held(" 98%"), ReportRow("1302 日水", "  0%", "　", "継続保有")},
         {0, 0, 3, std::nullopt, std::nullopt, 0}},
        {"only stops", {Sold(" 90%", "×", "  -110円"), Sold(" 88%", "×", " -1200円")}, {0, 2, 0, 0, 8900, -1310}},
        {"mixed: 2 of 3 closed trades at the target",
         {Sold("112%", "◎", "   120円"), Held("101%"), Sold("108%", "○", "    80円"), Sold(" 90%", "×", "  -100円")},
         {2, 1, 1, 6667, 10333, 100}},
        {"every target mark counts, a low one too",
         {Sold("110%", "◎", "   100円"), Sold("109%", "○", "    90円"), Sold("105%", "△", "    50円"),
          Sold("104%", "－", "    40円")},
         {4, 0, 0, 10000, 10700, 280}},
        // 801 / 8 = 100.125 exactly: the half goes away from zero, and 1 / 8 = 0.125 keeps 4 places.
        {"halves round away from zero",
         {Sold("101%", "△", "    10円"), Sold("100%", "×", "     0円"), Sold("100%", "×", "     0円"),
          Sold("100%", "×", "     0円"), Sold("100%", "×", "     0円"), Sold("100%", "×", "     0円"),
          Sold("100%", "×", "     0円"), Sold("100%", "×", "     0円")},
         {1, 7, 0, 1250, 10013, 10}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.Name);
        const TOutcomes outcomes = SummariseOutcomes(c.Rows);
        EXPECT_EQ(outcomes.Target, c.Want.Target);
        EXPECT_EQ(outcomes.Stop, c.Want.Stop);
        EXPECT_EQ(outcomes.Held, c.Want.Held);
        ASSERT_EQ(outcomes.ClosedWinRate.has_value(), c.Want.WinRate.has_value());
        if (c.Want.WinRate)
        {
            EXPECT_EQ(outcomes.ClosedWinRate->Scaled, *c.Want.WinRate);
            EXPECT_EQ(outcomes.ClosedWinRate->Scale, 4);
            EXPECT_EQ(outcomes.MeanRateClosed->Scaled, *c.Want.MeanRate);
            EXPECT_EQ(outcomes.MeanRateClosed->Scale, 2);
        }
        EXPECT_FALSE(outcomes.MeanRateClosed.has_value() && !c.Want.MeanRate.has_value());
        EXPECT_EQ(outcomes.ProfitClosed, c.Want.Profit);
    }
}

TEST(SummariseOutcomes, AFigureThatDoesNotConvertIsADataError)
{
    EXPECT_THROW(SummariseOutcomes({Sold("1.5.%", "×", "  -100円")}), TDataError);
    EXPECT_THROW(SummariseOutcomes({Sold(" 90%", "×", "99999999999円")}), TDataError);
}

TEST(SummaryText, SaysTheRunAndItsOutcomesInWords)
{
    TRunRecord run;
    run.Sector = "機械";
    run.Date = "2026/12/07";
    run.HitsOnly = true;
    run.Rsi30 = true;
    run.Entries = 12;
    run.Screened = 9;
    run.Skipped = {{"6301", "東証", TQuoteMiss::NotFound, 16000},
                   {"6302", "マザーズ", TQuoteMiss::PageSize, 120},
                   {"6303", "東証", TQuoteMiss::NoAnswer, 0}};
    run.Pages = {18, 3};
    run.End = TRunEnd::StoppedAtCode;
    run.StopCode = 999;
    const std::vector<TResultRow> rows{Sold("112%", "◎", "   120円"), Sold(" 90%", "×", "  -100円"),
                                       Sold("108%", "○", "  1080円"), Held("101%")};

    const std::string text = SummaryText(run, rows, 2);
    for (const char* part : {"業種: 機械　日付: 2026/12/07", "検索条件: 条件一致のみ表示、RSI 30%以下",
                             "一覧の 12 銘柄のうち 9 銘柄の株価を読み、4 銘柄が該当しました。",
                             "売却済み 3 件（目標到達 2 件、損切り 1 件）、勝率 66.67%、平均上昇率 103.33%、"
                             "1株あたり益の合計 1,100円。継続保有 1 件。",
                             "株価を読めなかった銘柄: 3 銘柄", "6301 東証: 銘柄が見つかりませんでした",
                             "6302 マザーズ: ページの大きさが 120 バイトです（13,000～45,000 バイトのみ読みます）",
                             "ほか 1 銘柄", "ページ: 取得 18、当日のキャッシュ 3", "コード 999 で検索を終えました。"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    EXPECT_EQ(text.find("6303"), std::string::npos) << "only the first two skipped stocks are named";

    run.End = TRunEnd::DataError;
    run.ErrorText = "cannot read KabuList.dat";
    EXPECT_NE(SummaryText(run, {}, 0).find("売却済みの取引はありません。"), std::string::npos);
    EXPECT_NE(SummaryText(run, {}, 0).find("データエラーで検索が止まりました: cannot read KabuList.dat"),
              std::string::npos);
    EXPECT_EQ(EndedText(run), "data error: cannot read KabuList.dat");
}

} // namespace
