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
    std::optional<std::int64_t> MeanReturn; // percent, 4 decimals, from the prices
};

// A closed trade bought and sold at the given prices; only the prices differ from Sold's.
TResultRow Trade(int bought, int sold)
{
    TResultRow row = Sold(sold >= bought ? "100%" : " 99%", sold >= bought ? "－" : "×", "     0円");
    row[10] = std::to_string(bought) + "円";
    row[12] = std::to_string(sold) + "円";
    return row;
}

TEST(SummariseOutcomes, CountsAndSumsTheClosedTradesOfHandMadeRows)
{
    const struct
    {
        const char* Name;
        std::vector<TResultRow> Rows;
        Expected Want;
    } cases[] = {
        {"no row", {}, {0, 0, 0, std::nullopt, std::nullopt, 0, std::nullopt}},
        {"no closed trade: held rows and a row listed by RSI alone",
         {Held("112%"), Held(" 98%"), ReportRow("1302 日水", "  0%", "　", "継続保有")},
         {0, 0, 3, std::nullopt, std::nullopt, 0, std::nullopt}},
        // -1310 / 2190 = -0.5981735 of the price
        {"only stops", {Sold(" 90%", "×", "  -110円"), Sold(" 88%", "×", " -1200円")}, {0, 2, 0, 0, 8900, -1310, -598174}},
        // 100 / 3285 = 0.0304414
        {"mixed: 2 of 3 closed trades at the target",
         {Sold("112%", "◎", "   120円"), Held("101%"), Sold("108%", "○", "    80円"), Sold(" 90%", "×", "  -100円")},
         {2, 1, 1, 6667, 10333, 100, 30441}},
        // 280 / 4380 = 0.0639269
        {"every target mark counts, a low one too",
         {Sold("110%", "◎", "   100円"), Sold("109%", "○", "    90円"), Sold("105%", "△", "    50円"),
          Sold("104%", "－", "    40円")},
         {4, 0, 0, 10000, 10700, 280, 63927}},
        // +10 % and -5 %: the mean of the returns, not the return of the sums (-2 %)
        {"returns are averaged per trade", {Trade(500, 550), Trade(2000, 1900)}, {1, 1, 0, 5000, 9950, 0, 25000}},
        // 1 / 800 = 0.125 %: exactly a half at 2 decimals
        {"a rise of an eighth of a percent", {Trade(800, 801)}, {1, 0, 0, 10000, 10000, 0, 1250}},
        {"a fall of an eighth of a percent", {Trade(800, 799)}, {0, 1, 0, 0, 9900, 0, -1250}},
        // 801 / 8 = 100.125 exactly: the half goes away from zero, and 1 / 8 = 0.125 keeps 4 places.
        {"halves round away from zero",
         {Sold("101%", "△", "    10円"), Sold("100%", "×", "     0円"), Sold("100%", "×", "     0円"),
          Sold("100%", "×", "     0円"), Sold("100%", "×", "     0円"), Sold("100%", "×", "     0円"),
          Sold("100%", "×", "     0円"), Sold("100%", "×", "     0円")},
         {1, 7, 0, 1250, 10013, 10, 1142}}, // 10 / 8760 = 0.0011416
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
        ASSERT_EQ(outcomes.MeanReturnClosed.has_value(), c.Want.MeanReturn.has_value());
        if (c.Want.MeanReturn)
        {
            EXPECT_EQ(outcomes.MeanReturnClosed->Scaled, *c.Want.MeanReturn);
        }
    }

    // The summary rounds the exact mean to 2 decimals, halves away from zero, with its sign.
    const struct
    {
        std::vector<TResultRow> Rows;
        const char* Said;
    } said[] = {
        {{Trade(800, 801)}, "平均損益率 +0.13%、"},
        {{Trade(800, 799)}, "平均損益率 -0.13%、"},
        {{Trade(1000, 1000)}, "平均損益率 0.00%、"},
        // 0.12495 %: rounded once it is +0.12 %; through 4 decimals (0.1250) it would be +0.13 %
        {{Trade(10000000, 10012495)}, "平均損益率 +0.12%、"},
    };
    for (const auto& s : said)
    {
        TRunRecord run;
        const std::string text = SummaryText(run, s.Rows, 0);
        EXPECT_NE(text.find(s.Said), std::string::npos) << text;
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
    run.Skipped = {{"6301", "東証", TQuoteMiss::NotFound, 16000, "コマツ"},
                   {"6302", "マザーズ", TQuoteMiss::PageSize, 120, ""},
                   {"6303", "東証", TQuoteMiss::NoAnswer, 0, "住友重"}};
    run.NotListed = {4, 1, 2};
    run.Pages = {18, 3};
    run.End = TRunEnd::StoppedAtCode;
    run.StopCode = 999;
    const std::vector<TResultRow> rows{Sold("112%", "◎", "   120円"), Sold(" 90%", "×", "  -100円"),
                                       Sold("108%", "○", "  1080円"), Held("101%")};

    const std::string text = SummaryText(run, rows, 2);
    for (const char* part : {"業種: 機械　日付: 2026/12/07", "検索条件: 条件一致のみ表示、RSI 30%以下",
                             "一覧の 12 銘柄のうち 9 銘柄の株価を読み、4 銘柄が該当しました。",
                             // (120 - 100 + 1080) / 1095 / 3 = 0.334855
                             "売却済み 3 件（目標到達 2 件、損切り 1 件）、勝率 66.67%、平均損益率 +33.49%、"
                             "1株あたり益の合計 1,100円。継続保有 1 件。",
                             "株価を読めなかった銘柄: 3 銘柄", "6301 コマツ 東証: 銘柄が見つかりませんでした",
                             "株価を読んで該当しなかった銘柄: 7 銘柄（買いシグナルによる購入なし 4、10万円超 1、"
                             "最新週にシグナルなし 2）",
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
