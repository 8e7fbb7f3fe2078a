#include "data/history_page.h"
#include "common/service_contract.h"

#include "data/data_error.h"
#include "test_pages.h"

#include <gtest/gtest.h>

void PrintTo(const THistoryRow& row, std::ostream* out)
{
    *out << "{\"" << row.DateText << "\" O" << row.OpenPrice << " H" << row.HighPrice << " L"
         << row.LowPrice << " C" << row.ClosePrice << " V" << row.Dekidaka << "}";
}

namespace {

constexpr std::int64_t Price1500 = 1500 * 10000; // fixed-point current price

THistoryRow Row(std::string date, std::int32_t open, std::int32_t high, std::int32_t low,
                std::int32_t close, std::int64_t volume)
{
    return {std::move(date), open, high, low, close, volume};
}

TEST(HistoryUrl, CarriesTheDateKeysOfThePeriod)
{
    using namespace std::chrono;
    const year_month_day day{year{2007}, January, std::chrono::day{9}};
    EXPECT_EQ(HistoryUrl("http://h", "1301.t", TChartPeriod::Weekly, day),
              "http://h" + std::string(HistoryRoute) + "?sv=MN&qt=1301.t&sy=2006&sm=02&sd=13&ey=2007&em=01&ed=09&k=w");
    EXPECT_EQ(HistoryUrl("http://h", "1301  ", TChartPeriod::Daily, day),
              "http://h" + std::string(HistoryRoute) + "?sv=MN&qt=1301&sy=2006&sm=11&sd=10&ey=2007&em=01&ed=09&k=d");
    EXPECT_EQ(HistoryCacheFile("1301  ", TChartPeriod::Weekly), "dat/k1301  .02");
    EXPECT_EQ(HistoryCacheFile("1301.t", TChartPeriod::Daily), "dat/k1301.t.01");
}

TEST(ParseHistoryPage, ReadsRowsInPageOrder)
{
    std::vector<THistoryCells> cells;
    THistoryRows expected;
    for (int week = 0; week < 47; ++week)
    {
        const int close = 1900 - week;
        const std::string date =
            "2007/" + std::string(week < 40 ? "01" : "02") + "/" + std::to_string(10 + week % 10);
        cells.push_back(Cells(date, "1," + std::to_string(close - 1000), std::to_string(close - 5),
                              std::to_string(close + 10), std::to_string(close - 10), "12,300"));
        expected.push_back(Row(date, close - 5, close + 10, close - 10, close, 12300));
    }
    int events = 0;
    EXPECT_EQ(ParseHistoryPage(HistoryPage(cells), Price1500, [&] { ++events; }), expected);
    EXPECT_EQ(events, 48 + 1); // before each row and the end test, and once after the loop
}

TEST(ParseHistoryPage, HyphenCellsCarryTheValueAbove)
{
    const std::vector<THistoryCells> cells = {
        Cells("2007/01/09", "-", "-", "-", "-", "0"), // first row: the current price
        Cells("2007/01/08", "1,480", "1,470", "-", "1,460", "5,000"),    // high from the row above
        Cells("2007/01/05", "-", "1,450", "1,490", "-", "-"),            // volume "-" reads as 0
        Cells("2007/01/04", "1,400", "&nbsp;", "&nbsp;", "&nbsp;", "0"), // flat: open reads 0
        Cells("2007/01/03", "", "1,390", "1,395", "1,385", "100"),       // an empty close is no "-"
    };
    const THistoryRows expected = {
        Row("2007/01/09", 1500, 1500, 1500, 1500, 0),
        Row("2007/01/08", 1470, 1500, 1460, 1480, 5000),
        Row("2007/01/05", 1450, 1490, 1460, 1480, 0),
        Row("2007/01/04", 1400, 1400, 1400, 1400, 0),
        Row("2007/01/03", 1390, 1395, 1385, 0, 100),
    };
    EXPECT_EQ(ParseHistoryPage(HistoryPage(cells), Price1500, {}), expected);
}

TEST(ParseHistoryPage, SplitRowsAndEmptyDates)
{
    THistoryCells split = Cells("2007/01/08", "", "", "", "", "");
    split.Split = true;
    THistoryCells longClose = Cells("2007/01/05", std::string(100, '9'), "1", "1", "1", "1");
    const std::vector<THistoryCells> cells = {
        Cells("2007/01/09", "1,500", "1,490", "1,510", "1,480", "7,000"),
        split,
        longClose, // a close cell of 100 bytes counts as a split too
        Cells("", "1,300", "1,290", "1,310", "1,280", "6,000"),
        Cells("2007/01/03", "1,200", "1,190", "1,210", "1,180", "5,000"),
    };
    const THistoryRows expected = {
        Row("2007/01/09", 1490, 1510, 1480, 1500, 7000),
        Row("2007/01/08", 1490, 1510, 1480, 1500, 0),
        Row("2007/01/05", 1490, 1510, 1480, 1500, 0),
        Row("", 1290, 1310, 1280, 1300, 6000),
        Row("2007/01/03", 1190, 1210, 1180, 1200, 5000),
    };
    EXPECT_EQ(ParseHistoryPage(HistoryPage(cells), Price1500, {}), expected);
}

TEST(ParseHistoryPage, PageSizeAndNoticeDecideWhetherToParse)
{
    const std::vector<THistoryCells> cells = {
        Cells("2007/01/09", "1,500", "1,490", "1,510", "1,480", "7,000")};
    const std::string notFoundSjis =
        "\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd";
    const std::string longPage = HistoryPage(cells, 50001) + notFoundSjis + std::string(9000, ' ');
    const struct
    {
        const char* Name;
        std::string Page;
        std::size_t Rows;
    } rows[] = {
        {"14,000 bytes", HistoryPage(cells, 14000), 0},
        {"14,001 bytes", HistoryPage(cells, 14001), 1},
        {"not-found notice", HistoryPage(cells) + notFoundSjis, 0},
        {"notice beyond the 50,001-byte buffer", longPage, 1},
        {"NUL ends the text", HistoryPage(cells, 14100).insert(10, 1, '\0'), 50}, // rows of nothing
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(ParseHistoryPage(row.Page, Price1500, {}).size(), row.Rows);
    }
}

TEST(ParseHistoryPage, CellsThatDoNotConvertThrow)
{
    for (const char* close : {"1,234.5", "--5", "9,999,999,999"})
    {
        SCOPED_TRACE(close);
        const std::vector<THistoryCells> cells = {Cells("2007/01/09", close, "1", "1", "1", "1")};
        EXPECT_THROW(ParseHistoryPage(HistoryPage(cells), Price1500, {}), TDataError);
    }
    const std::vector<THistoryCells> cells = {
        Cells("2007/01/09", "1", "1", "1", "1", "9,223,372,036,854,775,808")};
    EXPECT_THROW(ParseHistoryPage(HistoryPage(cells), Price1500, {}), TDataError);
}

// Date cells were taken as they stood, so a page could put "=HYPERLINK(...)" into the report's
// buy and sell dates, where a spreadsheet ran it. A date cell is empty or a date in digits.
TEST(ParseHistoryPage, ADateCellThatIsNoDateThrows)
{
    const auto page = [](const std::string& date, bool split = false) {
        THistoryCells row = Cells(date, "1,500", "1,490", "1,510", "1,480", "7,000");
        row.Split = split;
        return HistoryPage({Cells("2007/01/16", "1,500", "1,490", "1,510", "1,480", "7,000"), row});
    };
    EXPECT_EQ(ParseHistoryPage(page("2007/01/09"), Price1500, {}).size(), 2u);
    EXPECT_EQ(ParseHistoryPage(page(""), Price1500, {}).size(), 2u) << "an empty date drops the row later";
    for (const char* date : {"=HYPERLINK(\"http://127.0.0.1/\")", "@SUM(1)", "+2007/01/0", "2007-01-09", "2007/1/9",
                             "2007/01/09 ", " 2007/01/9", "2007/01/0a", "20070/1/09", "&nbsp;", "-"})
    {
        SCOPED_TRACE(date);
        EXPECT_THROW(ParseHistoryPage(page(date), Price1500, {}), TDataError);
        EXPECT_THROW(ParseHistoryPage(page(date, true), Price1500, {}), TDataError) << "on a split row too";
    }
}

// Only a "</table>" starting 1 to 129 bytes from the cursor ends the rows; a hidden row put
// just before it shows whether the end test let the loop go on.
TEST(ParseHistoryPage, TheTableEndsAtMostOneHundredTwentyNineBytesAhead)
{
    const std::string hidden = "<!-- <tr><td>2006/12/25</td><td>900</td><td>900</td><td>900</td><td>900</td><td>1</td></tr> -->";
    const std::vector<THistoryCells> cells = {Cells("2007/01/09", "1,500", "1,490", "1,510", "1,480", "7,000")};
    // After the last row the cursor stands on its closing "</td></tr>\n", 11 bytes.
    for (const std::size_t offset : {129u, 130u})
    {
        SCOPED_TRACE(offset);
        const std::string filler = hidden + std::string(offset - 1 - 11 - hidden.size(), ' ');
        const THistoryRows rows = ParseHistoryPage(HistoryPage(cells, 16000, false, "", filler), Price1500, {});
        ASSERT_EQ(rows.size(), offset == 129 ? 1u : 2u);
        if (offset == 130)
        {
            EXPECT_EQ(rows[1], Row("2006/12/25", 900, 900, 900, 900, 1));
        }
    }
}

// A week of about 430 million shares a day passes 2^31; the 32-bit conversion raised the
// data error, which ended every screening run at such a stock.
TEST(ParseHistoryPage, VolumesPassThirtyTwoBits)
{
    const std::vector<THistoryCells> cells = {
        Cells("2007/01/09", "1,500", "1,490", "1,510", "1,480", "10,000,000,000"),
        Cells("2007/01/01", "1,400", "1,390", "1,410", "1,380", "2,147,483,648")};
    const THistoryRows expected = {Row("2007/01/09", 1490, 1510, 1480, 1500, 10000000000),
                                   Row("2007/01/01", 1390, 1410, 1380, 1400, 2147483648)};
    EXPECT_EQ(ParseHistoryPage(HistoryPage(cells), Price1500, {}), expected);
}

TEST(ParseHistoryPage, TagsInCapitalsAreFound)
{
    const std::vector<THistoryCells> cells = {
        Cells("2007/01/09", "1,500", "1,490", "1,510", "1,480", "7,000"),
        Cells("2007/01/08", "1,400", "1,390", "1,410", "1,380", "6,000")};
    THistoryRows dated;
    for (const THistoryRow& row : ParseHistoryPage(HistoryPage(cells, 16000, true), Price1500, {}))
        if (!row.DateText.empty())
            dated.push_back(row);
    const THistoryRows expected = {Row("2007/01/09", 1490, 1510, 1480, 1500, 7000),
                                   Row("2007/01/08", 1390, 1410, 1380, 1400, 6000)};
    EXPECT_EQ(dated, expected);
}

// History pages were never checked against the code asked for, so a stock could be back-tested
// on another stock's prices. A title naming another code makes the page no data.
TEST(HistoryPageNamesOtherStock, TheTitlesCodeMustBeTheKeys)
{
    const std::string open = "\xa1\xca", close = "\xa1\xcb"; // （ ）, EUC-JP
    const std::string name = "\xa5\xad\xa5\xe4\xa5\xce\xa5\xf3";  // キヤノン
    const struct
    {
        const char* Name;
        std::string Title;
        const char* Key;
        bool Other;
    } rows[] = {
        {"the key's code in full-width brackets", name + open + "7751" + close + "weekly", "7751.t", false},
        {"another code in full-width brackets", name + open + "7203" + close + "weekly", "7751.t", true},
        {"another code in ASCII brackets", name + "(7203)", "7751.t", true},
        {"a key without a market", name + "(7203)", "7751  ", true},
        {"the key's code, a key without a market", name + "(7751)", "7751  ", false},
        {"a five-digit key's code", name + "(67585)", "67585.t", false},
        {"a five-digit key's first four", name + "(6758)", "67585.t", false},
        {"a letter code in lower case", name + "(130a)", "130A.t", false},
        {"another letter code", name + "(130C)", "130A.t", true},
        {"mixed brackets", name + open + "7203)", "7751.t", true},
        {"no code in the brackets", name + open + "REIT" + close, "7751.t", false},
        {"a bracketed word, then the code", name + "(HD)" + open + "7751" + close, "7751.t", false},
        {"no bracket", name + " 7203", "7751.t", false},
        {"no title", "", "7751.t", false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        const std::string page = HistoryPage({Cells("2007/01/09", "1", "1", "1", "1", "1")}, 16000, false, row.Title);
        EXPECT_EQ(HistoryPageNamesOtherStock(page, row.Key), row.Other);
    }
    const std::string capitals = "<HTML><HEAD><TITLE>" + name + "(7203)</TITLE></HEAD>";
    EXPECT_TRUE(HistoryPageNamesOtherStock(capitals, "7751.t"));
    EXPECT_FALSE(HistoryPageNamesOtherStock("<title>x(7203)", "7751.t")) << "an unclosed title names nothing";
}

} // namespace
