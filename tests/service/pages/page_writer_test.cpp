#include "pages/page_writer.h"

#include "service_test_support.h"
#include "market/text_convert.h"

#include "data/history_page.h"
#include "data/quote_page.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr std::string_view NotFoundEuc =
    "\xb8\xab\xa4\xc4\xa4\xab\xa4\xea\xa4\xde\xa4\xbb\xa4\xf3\xa4\xc7\xa4\xb7\xa4\xbf"; // 見つかりませんでした
constexpr std::int64_t Max32 = std::numeric_limits<std::int32_t>::max();
// The largest daily volume the import takes (the program's quote holds it times 10,000), and
// a week of seven such days.
constexpr std::int64_t MaxDayVolume = std::numeric_limits<std::int64_t>::max() / 10000;
constexpr std::int64_t MaxWeekVolume = 7 * MaxDayVolume;

TStock StockNamed(std::string name)
{
    return {"1301", std::move(name), "JASDAQ", std::string(SectorNames[10].Name)}; // ｶﾞﾗｽ土石製品
}

TPriceBars Days(int count, std::int64_t price, std::int64_t volume)
{
    TPriceBars days;
    TDate date{2026, 1, 5};
    while (static_cast<int>(days.size()) < count)
    {
        if (IsSyntheticTradingDay(date))
            days.push_back({date, price, price, price, price, volume});
        date = AddDays(date, 1);
    }
    return days;
}

} // namespace

TEST(HistoryPage, StaysWithinTheSizesTheProgramReads)
{
    const std::string shortName = "\xe5\xb8\x9d\xe4\xba\xba"; // 帝人
    std::string longName;
    for (int i = 0; i < 20; ++i)
        longName += "\xe3\x83\x9b"; // ホ
    struct Row
    {
        const char* name;
        TStock stock;
        TPriceBars bars;
        std::size_t rows;
    };
    const Row rows[] = {
        {"no rows, short name", StockNamed(shortName), {}, 0},
        {"one row of small figures", StockNamed(shortName), Days(1, 1, 100), 1},
        {"fifty-five rows of the largest figures, long name", StockNamed(longName), Days(55, Max32, MaxWeekVolume), 50},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::string page = HistoryPage(row.stock, "1301.q", row.bars, true, {2026, 1, 5}, {2026, 12, 4});
        EXPECT_GT(page.size(), 14000u);
        EXPECT_LE(page.size(), 50000u);
        const THistoryRows read = ParseHistoryPage(page, 0, {});
        ASSERT_EQ(read.size(), row.rows);
        if (!read.empty())
        {
            EXPECT_EQ(read.front().DateText, FormatDate(row.bars.back().Date)) << "newest first";
            EXPECT_EQ(read.front().ClosePrice, row.bars.back().Close);
            EXPECT_EQ(read.front().Dekidaka, row.bars.back().Volume);
        }
    }
}

TEST(QuotePage, StaysWithinTheSizesTheProgramReads)
{
    std::string longName;
    for (int i = 0; i < 20; ++i)
        longName += "\xe3\x83\x9b"; // ホ
    const TPriceBars days = Days(6, Max32, MaxDayVolume);
    const TQuoteFigures quote = QuoteFiguresOf(days);
    const std::string page = QuotePage(StockNamed(longName), "1301.q", quote, days);
    EXPECT_GE(page.size(), 13000u);
    EXPECT_LE(page.size(), 45000u);
    const std::optional<TKabuQuote> read = ParseQuotePage(page, "1301.q", {});
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->KabuKa, Max32 * FixedPointOne);
    EXPECT_EQ(read->Dekidaka, MaxDayVolume * FixedPointOne);
    EXPECT_EQ(read->KabuName, Utf8ToShiftJis(longName));
}

TEST(QuotePage, ADayWithoutTradesShowsAHyphen)
{
    TPriceBars days = Days(3, 1500, 2000);
    days.back().Volume = 0;
    const TQuoteFigures quote = QuoteFiguresOf(days);
    EXPECT_FALSE(quote.Traded);
    const std::optional<TKabuQuote> read =
        ParseQuotePage(QuotePage(StockNamed("\xe5\xb8\x9d\xe4\xba\xba"), "1301", quote, days), "1301", {});
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->KabuKa, 0);
    EXPECT_EQ(read->KabuTime, "");
    EXPECT_EQ(read->Zenjitsuhi, 0);
    EXPECT_EQ(read->OpenPrice, 0);
    EXPECT_EQ(read->Dekidaka, 0);
}

TEST(NotFoundPage, IsRefusedByBothScrapers)
{
    for (const char* key : {"0000", "99999", "1234.t", "12345.q", "1301.z"})
    {
        SCOPED_TRACE(key);
        const std::string page = NotFoundPage(key);
        // Big enough for the quote scraper to look for the notice, too small for the history scraper.
        EXPECT_GE(page.size(), 13000u);
        EXPECT_LE(page.size(), 14000u);
        const std::size_t mark = page.find("pagetitle&nabi");
        ASSERT_NE(mark, std::string::npos);
        const std::size_t notice = page.find(NotFoundEuc, mark);
        ASSERT_NE(notice, std::string::npos);
        EXPECT_LE(notice + NotFoundEuc.size(), mark + 1 + 1000) << "inside the converted stretch";
        EXPECT_FALSE(ParseQuotePage(page, key, {}).has_value());
        EXPECT_TRUE(ParseHistoryPage(page, 0, {}).empty());
    }
}

TEST(QuotePage, TitleStretchHasOnlyCharactersTheProgramConverts)
{
    // Half-width kana would reach the program as 0x8E pairs that its conversion misreads.
    for (const TStock& stock : SampleMarket().Stocks())
    {
        SCOPED_TRACE(stock.Code);
        const TPriceBars days = Days(2, 100, 100);
        const std::string page = QuotePage(stock, stock.Code, QuoteFiguresOf(days), days);
        const std::size_t mark = page.find("pagetitle&nabi");
        ASSERT_NE(mark, std::string::npos);
        std::string_view stretch = std::string_view(page).substr(mark + 1, 1000);
        while (!IsPlainEucJp(stretch) && stretch.size() > 990) // a pair cut at the end
            stretch.remove_suffix(1);
        EXPECT_TRUE(IsPlainEucJp(stretch));
    }
}
