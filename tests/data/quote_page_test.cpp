#include "data/quote_page.h"

#include "data/cache_file.h"
#include "data/data_error.h"
#include "test_pages.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

constexpr std::int64_t One = FixedPointOne;
const std::string KiyanonSjis = "\x83\x4c\x83\x84\x83\x6d\x83\x93"; // キヤノン

TKabuQuote DefaultQuote()
{
    TKabuQuote quote;
    quote.KabuNo = "7751";
    quote.KabuName = KiyanonSjis;
    quote.KabuKa = 1234 * One;
    quote.Zenjitsuhi = 12 * One;
    quote.ZenjitsuhiRate = 12300;
    quote.OpenPrice = 1200 * One;
    quote.HighPrice = 1250 * One;
    quote.LowPrice = 1190 * One;
    quote.Dekidaka = 1234500 * One;
    quote.Tani = One;
    quote.KabuTime = "12/07 15:00";
    return quote;
}

template <typename Change> TQuotePageFields With(Change change)
{
    TQuotePageFields fields;
    change(fields);
    return fields;
}

TEST(ParseQuotePage, ReadsEveryFieldOfAQuotePage)
{
    const auto quote = ParseQuotePage(QuotePage({}), "7751.t", {});
    ASSERT_TRUE(quote.has_value());
    EXPECT_EQ(*quote, DefaultQuote());
}

TEST(ParseQuotePage, AcceptsPagesOfThirteenToFortyFiveThousandBytes)
{
    const struct
    {
        std::size_t Size;
        bool Read;
    } rows[] = {{0, false}, {12999, false}, {13000, true}, {45000, true}, {45001, false}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Size);
        const std::string page = row.Size == 0 ? std::string() : QuotePage({}, row.Size);
        ASSERT_EQ(page.size(), row.Size);
        EXPECT_EQ(ParseQuotePage(page, "7751.t", {}).has_value(), row.Read);
    }
}

TEST(ParseQuotePage, VariantsOfTheLayoutReadTheSame)
{
    const struct
    {
        const char* Name;
        TQuotePageFields Fields;
    } rows[] = {
        {"change and rate without font tags",
         With([](TQuotePageFields& f) { f.FontTags = false; })},
        {"tags in capitals", With([](TQuotePageFields& f) { f.Capitals = true; })},
        {"blanks around the time", With([](TQuotePageFields& f) { f.Time = " \n 12/07 15:00"; })},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        const auto quote = ParseQuotePage(QuotePage(row.Fields), "7751.t", {});
        ASSERT_TRUE(quote.has_value());
        EXPECT_EQ(*quote, DefaultQuote());
    }
}

TEST(ParseQuotePage, VolumesPassThirtyTwoBits)
{
    const auto quote =
        ParseQuotePage(QuotePage(With([](TQuotePageFields& f) { f.Volume = "3,000,000,000"; })), "7751.t", {});
    ASSERT_TRUE(quote.has_value());
    EXPECT_EQ(quote->Dekidaka, 3000000000 * One);
    EXPECT_EQ(KabuBoardTexts(*quote).Label5, "3,000,000,000");
}

TEST(ParseQuotePage, AFiveDigitCodeShowsItsFirstFourDigits)
{
    for (const char* code : {"67585", "6758"})
    {
        SCOPED_TRACE(code);
        const auto quote =
            ParseQuotePage(QuotePage(With([&](TQuotePageFields& f) { f.Code = code; })), "67585.t", {});
        ASSERT_TRUE(quote.has_value());
        EXPECT_EQ(quote->KabuNo, "6758");
    }
}

// A code of today's form reads "130a" through the lowered walk; the quote carries it in upper
// case, and a page of another letter code is still another stock's.
TEST(ParseQuotePage, LetterCodesAreComparedAndKeptInUpperCase)
{
    const struct
    {
        const char* PageCode;
        const char* Key;
        std::optional<std::string> KabuNo;
    } rows[] = {
        {"130A", "130A.t", "130A"},
        {"9a7a", "9A7A.n", "9A7A"},
        {"130A", "130A  ", "130A"},
        {"130C", "130A.t", std::nullopt},
        {"1300", "130A.t", std::nullopt},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(std::string(row.PageCode) + " for " + row.Key);
        const TQuoteRead read =
            ReadQuotePage(QuotePage(With([&](TQuotePageFields& f) { f.Code = row.PageCode; })), row.Key, {});
        ASSERT_EQ(read.Quote.has_value(), row.KabuNo.has_value());
        if (read.Quote)
        {
            EXPECT_EQ(read.Quote->KabuNo, *row.KabuNo);
            EXPECT_EQ(KabuBoardTexts(*read.Quote).LabelKabuNo, *row.KabuNo + " " + KiyanonSjis);
        }
        else
            EXPECT_EQ(read.Miss, TQuoteMiss::OtherStock);
    }
}

// Every stock was taken to trade in single shares, so the 100,000-yen condition passed stocks
// whose unit of 100 shares cost millions of yen. The unit is read from the page now.
TEST(ParseQuotePage, TheTradingUnitIsTheNumberThePageStates)
{
    const std::string shares = SharesEuc;
    const struct
    {
        const char* Name;
        std::string Unit;
        std::int64_t Tani;
        const char* Label;
    } rows[] = {
        {"no label on the page", "", 1, "         1"},
        {"100 shares", "100" + shares, 100, "       100"},
        {"thousands separator", "1,000" + shares, 1000, "     1,000"},
        {"the largest unit", "100000", 100000, "   100,000"},
        {"the text ends at the next tag", "<b>10" + shares + "</b>", 1, "         1"},
        {"beyond the largest unit", "100001", 1, "         1"},
        {"no digit", "-", 1, "         1"},
        {"zero", "0" + shares, 1, "         1"},
        {"negative", "-100", 1, "         1"},
        {"not a whole number", "1.5", 1, "         1"},
        {"beyond 32 bits", "99999999999", 1, "         1"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        const auto quote = ParseQuotePage(QuotePage(With([&](TQuotePageFields& f) { f.Unit = row.Unit; })), "7751.t", {});
        ASSERT_TRUE(quote.has_value());
        EXPECT_EQ(quote->Tani, row.Tani * One);
        EXPECT_EQ(KabuBoardTexts(*quote).LabelTani, row.Label);
    }
}

TEST(ParseQuotePage, PriceWithoutTradesGivesZeroAndNoTime)
{
    TQuotePageFields fields;
    fields.Price = "-";
    const auto quote = ParseQuotePage(QuotePage(fields), "7751.t", {});
    ASSERT_TRUE(quote.has_value());
    EXPECT_EQ(quote->KabuKa, 0);
    EXPECT_EQ(quote->KabuTime, "");
    EXPECT_EQ(quote->Zenjitsuhi, 12 * One);
    EXPECT_EQ(quote->Dekidaka, 1234500 * One);
    EXPECT_EQ(KabuBoardTexts(*quote).LabelTime, "");
}

TEST(ParseQuotePage, PagesThatAreNoQuotePagesGiveNothingAndSayWhy)
{
    const struct
    {
        const char* Name;
        std::string Page;
        TQuoteMiss Miss;
    } rows[] = {
        {"no footer marker", QuotePage(With([](TQuotePageFields& f) { f.Footer = false; })), TQuoteMiss::NoFooter},
        {"not-found notice", QuotePage(With([](TQuotePageFields& f) {
             f.TitleNoticeEuc = NotFoundEuc;
         })),
         TQuoteMiss::NotFound},
        {"no-trade notice", QuotePage(With([](TQuotePageFields& f) {
             f.TitleNoticeEuc = "\xbc\xe8\xb0\xfa\xa4\xcf\xc0\xae\xce\xa9\xa4\xb7\xa4\xc6\xa4\xa4"
                                "\xa4\xde\xa4\xbb\xa4\xf3";
         })),
         TQuoteMiss::NoTrade},
        {"not-found notice without a footer", QuotePage(With([](TQuotePageFields& f) {
             f.TitleNoticeEuc = NotFoundEuc;
             f.Footer = false;
         })),
         TQuoteMiss::NoFooter},
        // The page, not the request, gave the list row its code: a double-click on the row then
        // opened another stock, and "/../" went into cache file names.
        {"another stock's code", QuotePage(With([](TQuotePageFields& f) { f.Code = "7203"; })), TQuoteMiss::OtherStock},
        {"markup for a code", QuotePage(With([](TQuotePageFields& f) { f.Code = "<b>x"; })), TQuoteMiss::OtherStock},
        {"a path for a code", QuotePage(With([](TQuotePageFields& f) { f.Code = "/../"; })), TQuoteMiss::OtherStock},
        {"figures that would not convert do not matter",
         QuotePage(With([](TQuotePageFields& f) {
             f.Code = "7203";
             f.Price = "1,234.5";
         })),
         TQuoteMiss::OtherStock},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        int events = 0;
        EXPECT_FALSE(ParseQuotePage(row.Page, "7751.t", [&] { ++events; }).has_value());
        EXPECT_GT(events, 0);
        const TQuoteRead read = ReadQuotePage(row.Page, "7751.t", {});
        EXPECT_FALSE(read.Quote.has_value());
        EXPECT_EQ(read.Miss, row.Miss);
    }
    EXPECT_EQ(ReadQuotePage(QuotePage({}), "7751.t", {}).Miss, TQuoteMiss::None);
    EXPECT_EQ(ReadQuotePage("", "7751.t", {}).Miss, TQuoteMiss::EmptyPage);
    const TQuoteRead small = ReadQuotePage(QuotePage({}, 12999), "7751.t", {});
    EXPECT_EQ(small.Miss, TQuoteMiss::PageSize);
    EXPECT_EQ(small.PageBytes, 12999u);
}

TEST(ParseQuotePage, FiguresThatDoNotConvertThrow)
{
    const struct
    {
        const char* Name;
        std::string Page;
    } rows[] = {
        {"decimal price", QuotePage(With([](TQuotePageFields& f) { f.Price = "1,234.5"; }))},
        {"price beyond 32 bits",
         QuotePage(With([](TQuotePageFields& f) { f.Price = "2,147,483,648"; }))},
        {"double minus change", QuotePage(With([](TQuotePageFields& f) { f.Change = "--5"; }))},
        {"two points in the rate",
         QuotePage(With([](TQuotePageFields& f) { f.Rate = "(1.2.3%)"; }))},
        {"volume cell with a sign inside",
         QuotePage(With([](TQuotePageFields& f) { f.Volume = "1-2"; }))},
        {"volume beyond the fixed-point range",
         QuotePage(With([](TQuotePageFields& f) { f.Volume = "922,337,203,685,478"; }))},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        EXPECT_THROW(ParseQuotePage(row.Page, "7751.t", {}), TDataError);
    }
}

// Lower-casing the window byte by byte changed the trail bytes 0x41-0x5A of Shift_JIS
// characters, so these names came out as other characters.
TEST(ParseQuotePage, NamesWithCapitalTrailBytesSurvive)
{
    const struct
    {
        const char* Name;
        std::string Euc;
        std::string Sjis;
    } rows[] = {
        {"KIYANON", "\xa5\xad\xa5\xe4\xa5\xce\xa5\xf3", KiyanonSjis},
        {"ASAHI", "\xa5\xa2\xa5\xb5\xa5\xd2", "\x83\x41\x83\x54\x83\x71"},
        {"Latin letters are lowered", "NEC\xa1\xa1\xa5\xa2", "nec\x81\x40\x83\x41"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        TQuotePageFields fields;
        fields.NameEuc = row.Euc;
        const auto quote = ParseQuotePage(QuotePage(fields), "7751.t", {});
        ASSERT_TRUE(quote.has_value());
        EXPECT_EQ(quote->KabuName, row.Sjis);
    }
}

TEST(KabuBoardTexts, FormatsTheBoard)
{
    TKabuBoardTexts expected;
    expected.LabelKabuNo = "7751 " + KiyanonSjis;
    expected.LabelKabuKa = "  1,234";
    expected.Label1 = "  12(1.23%)";
    expected.Label2 = "  1,200";
    expected.Label3 = "  1,250";
    expected.Label4 = "  1,190";
    expected.Label5 = " 1,234,500";
    expected.LabelTani = "         1";
    expected.LabelTime = "12/07 15:00";
    EXPECT_EQ(KabuBoardTexts(DefaultQuote()), expected);

    TKabuQuote falling = DefaultQuote();
    falling.KabuNo = "13";
    falling.Zenjitsuhi = -85 * One;
    falling.ZenjitsuhiRate = -5700;
    EXPECT_EQ(KabuBoardTexts(falling).Label1, " -85(-0.57%)");
    EXPECT_EQ(KabuBoardTexts(falling).LabelKabuNo, "  13 " + KiyanonSjis);
}

class LoadKabuQuoteTest : public TLoopbackServiceTest
{
protected:
    void AddRoutes(httplib::Server& routes) override
    {
        routes.Get("/MnStock", [this](const httplib::Request&, httplib::Response& response) {
            response.status = Status;
            response.set_content(Page, "text/html");
        });
    }

    std::string Page = QuotePage({});
    std::atomic<int> Status{200};
};

TEST_F(LoadKabuQuoteTest, FetchesOncePerDay)
{
    const auto first = LoadKabuQuote("7751.t", {});
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, DefaultQuote());
    ASSERT_EQ(Server.Log().size(), 1u);
    EXPECT_EQ(Server.Log()[0].Target, "/MnStock?qt=7751.t&sv=MN&pg=mn_schart.html");
    EXPECT_EQ(ReadFileBytes("dat/k7751.t.00"), Page);

    Page = "changed";
    EXPECT_EQ(LoadKabuQuote("7751.t", {}), first);
    EXPECT_EQ(Server.Log().size(), 1u); // the same day: read from the cache file

    MakeYesterdays("dat/k7751.t.00");
    EXPECT_FALSE(LoadKabuQuote("7751.t", {}).has_value()); // fetched again: "changed" is too short
    EXPECT_EQ(Server.Log().size(), 2u);
    EXPECT_EQ(ReadFileBytes("dat/k7751.t.00"), "changed");
}

TEST_F(LoadKabuQuoteTest, SaysWhyThereIsNoQuoteAndCountsItsPageReads)
{
    const TPageReads start = PageReads();
    const TQuoteRead read = ReadKabuQuote("7751.t", {});
    ASSERT_TRUE(read.Quote.has_value());
    EXPECT_EQ(*read.Quote, DefaultQuote());
    EXPECT_EQ(read.Miss, TQuoteMiss::None);
    EXPECT_EQ(ReadKabuQuote("7751.t", {}).Quote, read.Quote);
    EXPECT_EQ(PageReads().Fetched - start.Fetched, 1);
    EXPECT_EQ(PageReads().FromCache - start.FromCache, 1);

    const struct
    {
        const char* Name;
        std::string Page;
        TQuoteMiss Miss;
        std::uintmax_t PageBytes;
    } rows[] = {
        {"an empty answer", "", TQuoteMiss::NoAnswer, 0},
        {"a short page", QuotePage({}, 12999), TQuoteMiss::PageSize, 12999},
        {"a long page", QuotePage({}, 45001), TQuoteMiss::PageSize, 45001},
        {"a page as large as may be stored", QuotePage({}, 65536), TQuoteMiss::PageSize, 65536},
        {"a page too large to store", QuotePage({}, 65537), TQuoteMiss::NoAnswer, 0},
        {"the not-found page", QuotePage(With([](TQuotePageFields& f) { f.TitleNoticeEuc = NotFoundEuc; })),
         TQuoteMiss::NotFound, 16000},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        Page = row.Page;
        MakeYesterdays("dat/k7751.t.00");
        const TQuoteRead miss = ReadKabuQuote("7751.t", {});
        EXPECT_FALSE(miss.Quote.has_value());
        EXPECT_EQ(miss.Miss, row.Miss);
        EXPECT_EQ(miss.PageBytes, row.PageBytes);
    }

    // An empty file of today, as an answer without a byte used to leave behind.
    WriteFileBytes("dat/k7751.t.00", "");
    EXPECT_EQ(ReadKabuQuote("7751.t", {}).Miss, TQuoteMiss::EmptyPage);

    SetFinanceServiceAddress("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()));
    EXPECT_EQ(ReadKabuQuote("1301.t", {}).Miss, TQuoteMiss::NoAnswer);
    EXPECT_EQ(PageReads().Fetched - start.Fetched, 4) << "pages received: not the empty answer, not the closed port";
}

// A 404 or 500 page was cached as today's, so the stock read "no data" for the rest of the
// day and no later lookup asked again, even after the right service was back.
TEST_F(LoadKabuQuoteTest, AnErrorStatusIsNoAnswerAndTheRightAnswerIsFetchedLaterThatDay)
{
    for (const int status : {404, 500})
    {
        SCOPED_TRACE(status);
        Status = status; // with a whole quote page as its body
        EXPECT_EQ(ReadKabuQuote("7751.t", {}).Miss, TQuoteMiss::NoAnswer);
        EXPECT_FALSE(std::filesystem::exists("dat/k7751.t.00"));
    }
    Status = 200;
    EXPECT_EQ(LoadKabuQuote("7751.t", {}), DefaultQuote());
    EXPECT_TRUE(IsCacheFresh("dat/k7751.t.00"));
    EXPECT_EQ(Server.Log().size(), 3u);
}

TEST_F(LoadKabuQuoteTest, KeyWithBlankSuffixIsTrimmedInTheAddressOnly)
{
    ASSERT_TRUE(LoadKabuQuote("7751  ", {}).has_value());
    EXPECT_EQ(Server.Log().at(0).Target, "/MnStock?qt=7751&sv=MN&pg=mn_schart.html");
    EXPECT_TRUE(std::filesystem::exists("dat/k7751  .00"));
}

TEST_F(LoadKabuQuoteTest, UnreachableServiceKeepsTheOldCacheFile)
{
    SetFinanceServiceAddress("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()));
    WriteFileBytes("dat/k7751.t.00", Page);
    MakeYesterdays("dat/k7751.t.00");
    int events = 0;

    EXPECT_FALSE(LoadKabuQuote("7751.t", [&] { ++events; }).has_value());
    EXPECT_EQ(events, 2); // before connecting, and after the failed fetch
    EXPECT_EQ(ReadFileBytes("dat/k7751.t.00"), Page);
    EXPECT_FALSE(IsCacheFresh("dat/k7751.t.00"));
}

// The record used to be overwritten field by field, so a figure that failed to convert left
// a quote mixing two stocks behind, which the chart read-out later put on the board.
TEST_F(LoadKabuQuoteTest, ConversionErrorLeavesThePreviousQuote)
{
    TKabuQuote kabuQuote = *LoadKabuQuote("7751.t", {});
    TQuotePageFields broken;
    broken.NameEuc = "\xa5\xa2\xa5\xb5\xa5\xd2";
    broken.Code = "2502";
    broken.Price = "1,234.5";
    Page = QuotePage(broken);

    EXPECT_THROW(kabuQuote = LoadKabuQuote("2502.t", {}).value(), TDataError);
    EXPECT_EQ(kabuQuote, DefaultQuote());
}

TEST_F(LoadKabuQuoteTest, MissingCacheFolderThrows)
{
    std::filesystem::remove_all("dat");
    EXPECT_THROW(LoadKabuQuote("7751.t", {}), TDataError);
}

} // namespace
