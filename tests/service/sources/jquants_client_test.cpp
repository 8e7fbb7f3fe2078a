// The data API client in-process: how it reads figures, where it sends the key, and how long
// it waits for an answer.
#include "jquants_standin.h"
#include "sources/jquants_client.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

struct TPriceCase
{
    const char* Text; // as the source writes the number
    std::int64_t Hundredths;
};

// x * 100 in binary is not exact for most decimals: 2.3 * 100 is 229.99999999999997, which a
// cut to an integer makes 229; and 1.005 is stored as 1.00499999999999989..., which rounding
// the binary value makes 100 where the source's decimal rounds half up to 101.
TEST(JQuantsClientTest, PricesAreTheDecimalsTheSourceWrote)
{
    const std::vector<TPriceCase> cases = {
        {"2.3", 230},   {"0.29", 29},       {"4.35", 435},    {"1.15", 115},      {"0.57", 57},
        {"8.2", 820},   {"1234.5", 123450}, {"1000", 100000}, {"1000.0", 100000}, {"1e3", 100000},
        {"1.005", 101}, {"2.675", 268},     {"0.125", 13},    {"0.004", 0},       {"12345678.91", 1234567891},
    };
    for (const TPriceCase& row : cases)
    {
        SCOPED_TRACE(row.Text);
        const std::string price = row.Text;
        const std::string body = R"({"data":[{"Date":"2025-03-03","Code":"72030","O":)" + price + R"(,"H":)" + price +
                                 R"(,"L":)" + price + R"(,"C":)" + price + R"(,"Vo":)" + price + R"(,"Va":1}]})";
        const std::optional<TBarsPage> page = ParseBarsPage(body);
        ASSERT_TRUE(page.has_value());
        if (row.Hundredths == 0)
        { // a price of 0 is no trade the source could report
            EXPECT_EQ(page->Refused, 1);
            continue;
        }
        ASSERT_EQ(page->Rows.size(), 1u);
        const TRawDay& day = page->Rows[0].Day;
        EXPECT_EQ(day.Open, row.Hundredths);
        EXPECT_EQ(day.High, row.Hundredths);
        EXPECT_EQ(day.Low, row.Hundredths);
        EXPECT_EQ(day.Close, row.Hundredths);
        EXPECT_EQ(day.Volume, (row.Hundredths + 50) / 100); // whole shares, halves up
    }
}

TEST(JQuantsClientTest, FiguresNoPriceCanHaveAreRefused)
{
    for (const char* price : {"-2.3", "1e16", "1e400", "\"2.3\"", "true"})
    {
        SCOPED_TRACE(price);
        const std::string body = std::string(R"({"data":[{"Date":"2025-03-03","Code":"72030","O":)") + price +
                                 R"(,"H":2.3,"L":2.3,"C":2.3,"Vo":1,"Va":1}]})";
        const std::optional<TBarsPage> page = ParseBarsPage(body);
        if (!page) // 1e400 is not a double: not the published JSON at all
            continue;
        EXPECT_TRUE(page->Rows.empty());
        EXPECT_EQ(page->Refused, 1);
    }
}

struct TUrlCase
{
    const char* Url;
    bool Safe;
};

TEST(JQuantsClientTest, TheKeyTravelsOverHttpsOrToThisComputerOnly)
{
    const std::vector<TUrlCase> cases = {
        {"https://data-api.example.invalid/v2", true},
        {"https://203.0.113.5/v2", true},
        {"http://127.0.0.1:8080/v2", true},
        {"http://127.1.2.3/v2", true},
        {"http://localhost:18650/v2", true},
        {"http://[::1]:8080/v2", true},
        {"HTTP://127.0.0.1/v2", true},
        {"http://data-api.example.invalid/v2", false},
        {"http://127.0.0.1.example.invalid/v2", false},
        {"http://localhost.example.invalid/v2", false},
        {"http://127.0.0.1@api.example.invalid/v2", false}, // user info, then the real host
        {"http://[::ffff:10.0.0.1]/v2", false},
        {"ftp://127.0.0.1/v2", false},
        {"no address", false},
    };
    for (const TUrlCase& row : cases)
    {
        SCOPED_TRACE(row.Url);
        EXPECT_EQ(KeyTravelsSafelyTo(row.Url), row.Safe);
    }
}

// Regression: an answer trickling 2 bytes a second was still waited on after 80 s.
TEST(JQuantsClientTest, ARequestEndsAtItsDeadline)
{
    TJQuantsStandin standin(TStandinMarket::Small({2025, 3, 3}, {2025, 3, 7}), 10);
    standin.Misbehave(TStandinFault::Trickle, {2025, 3, 3});
    const volatile std::sig_atomic_t stop = 0;
    TJQuantsClient client(standin.Url(), TJQuantsStandin::Key, &stop, {.Deadline = 300ms});
    const TApiAnswer answer = client.Get("/equities/bars/daily", {{"date", "2025-03-04"}});
    EXPECT_TRUE(answer.SourceFault);
    EXPECT_EQ(answer.Status, 0);
    EXPECT_TRUE(answer.Body.empty());
    EXPECT_NE(answer.Error.find("秒のうちに終わりませんでした"), std::string::npos) << answer.Error;

    // The same request at the source's usual pace is answered whole.
    standin.Misbehave(TStandinFault::None);
    const TApiAnswer whole = client.Get("/equities/bars/daily", {{"date", "2025-03-04"}});
    EXPECT_EQ(whole.Status, 200);
    ASSERT_TRUE(ParseBarsPage(whole.Body).has_value());
    EXPECT_EQ(ParseBarsPage(whole.Body)->Rows.size(), 6u); // the seventh lists from 03-05
}

} // namespace
