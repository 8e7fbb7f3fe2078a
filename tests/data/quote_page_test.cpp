#include "data/quote_page.h"

#include "data/data_error.h"
#include "test_pages.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t One = FixedPointOne;

template <typename Change>
TQuotePageFields With(Change change)
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
        {"change and rate without font tags", With([](TQuotePageFields& f) { f.FontTags = false; })},
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

// A code of today's form reads "130a" through the lowered walk; the quote carries it in upper
// case, and a page of another letter code is still another stock's. A preferred share (25935)
// was shown with its first four characters, the ordinary share's code, and a page of the
// ordinary share passed as the preferred share's.
TEST(ParseQuotePage, CodesAreComparedWholeAndLettersKeptInUpperCase)
{
    const struct
    {
        const char* PageCode;
        const char* Key;
        std::optional<std::string> KabuNo;
    } rows[] = {
        {"130A", "130A.t", "130A"},         {"9a7a", "9A7A.n", "9A7A"},        {"130A", "130A  ", "130A"},
        {"130C", "130A.t", std::nullopt},   {"1300", "130A.t", std::nullopt},  {"67585", "67585.t", "67585"},
        {"25935", "25935  ", "25935"},      {"6758", "67585.t", std::nullopt}, {"67585", "6758.t", std::nullopt},
        {"25936", "25935.t", std::nullopt},
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
        const auto quote =
            ParseQuotePage(QuotePage(With([&](TQuotePageFields& f) { f.Unit = row.Unit; })), "7751.t", {});
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
        {"not-found notice", QuotePage(With([](TQuotePageFields& f) { f.TitleNoticeEuc = NotFoundEuc; })),
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
        {"figures that would not convert do not matter", QuotePage(With([](TQuotePageFields& f) {
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
        {"price beyond 32 bits", QuotePage(With([](TQuotePageFields& f) { f.Price = "2,147,483,648"; }))},
        {"double minus change", QuotePage(With([](TQuotePageFields& f) { f.Change = "--5"; }))},
        {"two points in the rate", QuotePage(With([](TQuotePageFields& f) { f.Rate = "(1.2.3%)"; }))},
        {"volume cell with a sign inside", QuotePage(With([](TQuotePageFields& f) { f.Volume = "1-2"; }))},
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

} // namespace
