#include "screener/screening.h"

#include "data/data_error.h"

#include <gtest/gtest.h>

namespace {

const std::string Yen = "\xe5\x86\x86";      // 円
const std::string Tosho = "\xe6\x9d\xb1\xe8\xa8\xbc"; // 東証

TBoardTexts Board(const std::string& price)
{
    return {"1301 \xe6\xa5\xb5\xe6\xb4\x8b", price, "   12(1.23%)", "  1,000", "  1,100", "    990", " 1,234,500", "         1"};
}

TRowInputs Bought(std::int32_t buyPrice)
{
    TRowInputs in;
    in.Board = Board("  1,050");
    in.MarketName = Tosho;
    in.HitLevel = THitLevel::Purchase;
    in.BackTest.BuyDate = "2026/10/05";
    in.BackTest.BuyPrice = buyPrice;
    in.BackTest.SignalKind = 1;
    in.BackTest.HighAfterBuy = buyPrice;
    in.BackTest.LowAfterBuy = buyPrice;
    return in;
}

TEST(ScreeningRow, TargetOutcomesGradeTheRiseRate)
{
    struct Row
    {
        const char* name;
        std::int32_t high;
        std::string sale, rate, mark, profit;
    };
    const Row rows[] = {
        {"110 %", 1100, "   1100" + Yen, "110%", "\xe2\x97\x8e", "   100" + Yen},
        {"109 %", 1099, "   1099" + Yen, "109%", "\xe2\x97\x8b", "    99" + Yen},
        {"108 %", 1080, "   1080" + Yen, "108%", "\xe2\x97\x8b", "    80" + Yen},
        {"107 %", 1079, "   1079" + Yen, "107%", "\xe2\x96\xb3", "    79" + Yen},
        {"105 %", 1050, "   1050" + Yen, "105%", "\xe2\x96\xb3", "    50" + Yen},
        {"104 %", 1049, "   1049" + Yen, "104%", "\xef\xbc\x8d", "    49" + Yen},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        TRowInputs in = Bought(1000);
        in.BackTest.HighWatch = 0;
        in.BackTest.HighAfterBuy = row.high;
        in.BackTest.SellDate = "2026/11/02";
        const TResultRow cells = BuildResultRow(in);
        EXPECT_EQ(cells[12], row.sale);
        EXPECT_EQ(cells[13], "2026/11/02");
        EXPECT_EQ(cells[14], row.rate);
        EXPECT_EQ(cells[15], row.mark);
        EXPECT_EQ(cells[16], row.profit);
    }
}

TEST(ScreeningRow, StopAndStillHeldOutcomes)
{
    TRowInputs stop = Bought(1000);
    stop.BackTest.LowWatch = 0;
    stop.BackTest.LowAfterBuy = 899;
    stop.BackTest.SellDate = "2026/11/09";
    TResultRow cells = BuildResultRow(stop);
    EXPECT_EQ(cells[12], "    899" + Yen);
    EXPECT_EQ(cells[13], "2026/11/09");
    EXPECT_EQ(cells[14], " 89%");
    EXPECT_EQ(cells[15], "\xc3\x97");
    EXPECT_EQ(cells[16], "  -101" + Yen) << "a loss keeps its sign inside the field";

    TRowInputs held = Bought(1000);
    held.BackTest.SellDate = "2026/11/16";
    cells = BuildResultRow(held);
    EXPECT_EQ(cells[12], "");
    EXPECT_EQ(cells[13], "") << "still held shows no sale date";
    EXPECT_EQ(cells[14], "105%") << "the rate uses the board's current price, 1,050";
    EXPECT_EQ(cells[15], "\xe3\x80\x80");
    EXPECT_EQ(cells[16], "\xe7\xb6\x99\xe7\xb6\x9a\xe4\xbf\x9d\xe6\x9c\x89");
}

TEST(ScreeningRow, BoardTextsAndTheOtherColumns)
{
    TRowInputs in = Bought(1001);
    in.SignalResult = 1001;
    in.MarketName = "\xe3\x83\x9e\xe3\x82\xb6\xe3\x83\xbc\xe3\x82\xba"; // マザーズ
    in.BackTest.RatioBefore2 = 0.91;
    in.BackTest.RatioBefore1 = 0.95;
    in.BackTest.RatioAtSignal = 1.0;
    in.BackTest.SignalKindReal = 1;
    const TResultRow cells = BuildResultRow(in);
    EXPECT_EQ(cells[0], "1301 \xe6\xa5\xb5\xe6\xb4\x8b");
    EXPECT_EQ(cells[1], "\xe3\x83\x9e\xe3\x82\xb6\xe3\x83\xbc\xe3\x82\xba");
    EXPECT_EQ(cells[2], "  1,050" + Yen);
    EXPECT_EQ(cells[3], "   12(1.23%)");
    EXPECT_EQ(cells[7], " 1,234,500");
    EXPECT_EQ(cells[8], "  1\xe6\xa0\xaa");
    EXPECT_EQ(cells[9], "\xe4\xb8\x8a\xe6\x98\x87");
    EXPECT_EQ(cells[10], "   1001" + Yen);
    EXPECT_EQ(cells[11], "2026/10/05");
    EXPECT_EQ(cells[17], "0.910");
    EXPECT_EQ(cells[18], "0.950");
    EXPECT_EQ(cells[19], "1.000");
    EXPECT_EQ(cells[20], "1.000");

    in.BackTest.SignalKind = 2;
    EXPECT_EQ(BuildResultRow(in)[9], "\xe4\xb9\x96\xe9\x9b\xa2");
    in.SignalResult = 0; // the purchase is older than the newest period
    EXPECT_EQ(BuildResultRow(in)[9], "\xe3\x80\x80\xe3\x80\x80");
    in.HitLevel = THitLevel::Rsi;
    EXPECT_EQ(BuildResultRow(in)[9], "RSI");
}

TEST(ScreeningRow, RsiListingWithoutPurchaseNeverDividesByZero)
{
    TRowInputs in;
    in.Board = Board("    500");
    in.MarketName = Tosho;
    in.HitLevel = THitLevel::Rsi;
    const TResultRow cells = BuildResultRow(in);
    EXPECT_EQ(cells[10], "      0" + Yen);
    EXPECT_EQ(cells[14], "  0%");
    EXPECT_EQ(cells[16], "\xe7\xb6\x99\xe7\xb6\x9a\xe4\xbf\x9d\xe6\x9c\x89");
}

// The unit enters column 9 and the 100,000-yen test; column 17 is the profit of one share,
// as its caption says, whatever the unit.
TEST(ScreeningRow, TheUnitShowsInColumnNineAndTheProfitStaysPerShare)
{
    TRowInputs target = Bought(1000);
    target.Board.Tani = "       100";
    target.BackTest.HighWatch = 0;
    target.BackTest.HighAfterBuy = 1100;
    TResultRow cells = BuildResultRow(target);
    EXPECT_EQ(cells[8], "100\xe6\xa0\xaa");
    EXPECT_EQ(cells[16], "   100" + Yen);

    TRowInputs stop = Bought(1000);
    stop.Board.Tani = "     1,000";
    stop.BackTest.LowWatch = 0;
    stop.BackTest.LowAfterBuy = 899;
    cells = BuildResultRow(stop);
    EXPECT_EQ(cells[8], "1000\xe6\xa0\xaa");
    EXPECT_EQ(cells[16], "  -101" + Yen);
}

TEST(ScreeningRow, AFigureThatDoesNotConvertThrows)
{
    TRowInputs in = Bought(1000);
    in.Board.Tani = "1.5";
    EXPECT_THROW(BuildResultRow(in), TDataError);
}

TEST(Screening, CodesKeysAndProgress)
{
    EXPECT_EQ(ParseCodeText("1301"), 1301);
    EXPECT_EQ(ParseCodeText("  1301"), 1301);
    EXPECT_EQ(ParseCodeText("+1301"), 1301);
    EXPECT_THROW(ParseCodeText("1301 "), TDataError);
    EXPECT_THROW(ParseCodeText(""), TDataError);
    EXPECT_THROW(ParseCodeText("13a1"), TDataError);

    EXPECT_TRUE(IsScreenableCode(1000));
    EXPECT_TRUE(IsScreenableCode(9999));
    EXPECT_TRUE(IsScreenableCode(67585));
    EXPECT_FALSE(IsScreenableCode(999));
    EXPECT_FALSE(IsScreenableCode(99999));

    EXPECT_EQ(ScreeningKey("1301", ".t"), "1301.t");
    EXPECT_EQ(ScreeningKey("2121", ".q"), "2121.q");
    EXPECT_EQ(ScreeningKey("4385", ".m"), "4385  ");
    EXPECT_EQ(ScreeningKey("8354", ".f"), "8354  ");
    EXPECT_EQ(ScreeningKey("2437", ".h"), "2437  ");
    EXPECT_EQ(ScreeningKey("67585", ".t"), "67585.t");
    EXPECT_EQ(ScreeningKey("130A", ".t"), "130A.t");

    EXPECT_EQ(ProgressText(10, 10), "100% [  10/  10]");
    EXPECT_EQ(ProgressText(1, 3), " 33% [   1/   3]");
    EXPECT_EQ(ProgressText(1, 8), " 13% [   1/   8]") << "12.5 rounds half away from zero";
    EXPECT_EQ(ProgressText(2, 3), " 67% [   2/   3]");

}

// A code of today's form is screened as it is; numeric codes keep their conversion and their
// stop, and a text of neither form is still the conversion error.
TEST(Screening, EntryCodesOfBothForms)
{
    struct Row
    {
        const char* text;
        std::string code; // empty: the run stops here
        std::int32_t number;
    };
    const Row rows[] = {
        {"1301", "1301", 1301},  {"  1301", "1301", 1301}, {"+1301", "1301", 1301},  {"67585", "67585", 67585},
        {"0999", "", 999},       {"99999", "", 99999},     {"-1301", "", -1301},     {"130A", "130A", 0},
        {" 130a", "130A", 0},    {"9A7A", "9A7A", 0},      {"1Y0X", "1Y0X", 0},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.text);
        const TEntryCode code = EntryCode(row.text);
        EXPECT_EQ(code.Code, row.code);
        EXPECT_EQ(code.Number, row.number);
    }
    for (const char* text : {"13OA", "1E00", "13A0", "A301", "130A ", "130AB", "", "130\x82\x60" /* full-width A */})
    {
        SCOPED_TRACE(text);
        EXPECT_THROW(EntryCode(text), TDataError);
    }
}

TEST(Screening, KeysOfTheEntriesARunReaches)
{
    const auto entry = [](std::string code, std::string suffix) {
        TKabuListEntry e;
        e.CodeText = std::move(code);
        e.Suffix = std::move(suffix);
        e.Empty = e.Suffix.empty();
        return e;
    };
    struct Row
    {
        const char* name;
        std::vector<TKabuListEntry> entries;
        std::vector<std::string> keys;
    };
    const Row rows[] = {
        {"every entry", {entry("1301", ".t"), entry(" 67585", ".t"), entry("4385", ".m")},
         {"1301.t", "67585.t", "4385  "}},
        {"up to a code out of range", {entry("1301", ".t"), entry("99999", ".t"), entry("1302", ".t")}, {"1301.t"}},
        {"up to an empty entry", {entry("1301", ".t"), entry("", ""), entry("1302", ".t")}, {"1301.t"}},
        {"up to a code that is no number", {entry("13a1", ".t"), entry("1302", ".t")}, {}},
        {"past letter codes, up to the numeric stop",
         {entry("1301", ".t"), entry("130A", ".t"), entry("9a7a", ".f"), entry("1310", ".n"), entry("99999", ".t"),
          entry("1320", ".t")},
         {"1301.t", "130A.t", "9A7A  ", "1310.n"}},
        {"up to a code of neither form", {entry("130A", ".t"), entry("13OA", ".t"), entry("1302", ".t")}, {"130A.t"}},
        {"a key listed twice stays twice", {entry("1301", ".t"), entry("1301", ".t")}, {"1301.t", "1301.t"}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ScreeningKeys(row.entries), row.keys);
    }
}

} // namespace
