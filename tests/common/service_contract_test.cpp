#include "common/service_contract.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace {

TEST(LoopbackServicePort, ReadsTheAddressesLoopbackServiceUrlWrites)
{
    EXPECT_EQ(LoopbackServiceUrl(18650), "http://127.0.0.1:18650");
    EXPECT_EQ(LoopbackServicePort(LoopbackServiceUrl(DefaultServicePort)), DefaultServicePort);
    struct Row
    {
        const char* name;
        const char* url;
        std::optional<int> port;
    };
    const Row rows[] = {
        {"a port", "http://127.0.0.1:8080", 8080},
        {"no port is http's", "http://127.0.0.1", 80},
        {"the last port", "http://127.0.0.1:65535", 65535},
        {"port 0", "http://127.0.0.1:0", std::nullopt},
        {"past the last port", "http://127.0.0.1:65536", std::nullopt},
        {"a colon alone", "http://127.0.0.1:", std::nullopt},
        {"a path after the port", "http://127.0.0.1:8080/", std::nullopt},
        {"a sign", "http://127.0.0.1:+80", std::nullopt},
        {"another loopback address", "http://127.0.0.2:8080", std::nullopt},
        {"a longer address on the same start", "http://127.0.0.10:8080", std::nullopt},
        {"https", "https://127.0.0.1:8080", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(LoopbackServicePort(row.url), row.port);
    }
}

TEST(FetchProgressLine, IsReadBackAsItWasWritten)
{
    const TFetchProgress progress{3, 12, 3, 15, 12000, 144, 200};
    EXPECT_EQ(FetchProgressLine(progress), "request=3 left=12 days=3/15 rows=12000 eta=144 http=200\n");
    const std::optional<TFetchProgress> read = ParseFetchProgress(FetchProgressLine(progress));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Requests, 3);
    EXPECT_EQ(read->RequestsLeft, 12);
    EXPECT_EQ(read->DaysDone, 3);
    EXPECT_EQ(read->DaysTotal, 15);
    EXPECT_EQ(read->Rows, 12000);
    EXPECT_EQ(read->SecondsLeft, 144);
    EXPECT_EQ(read->HttpStatus, 200);

    // Rows of a whole history pass 2^31; the reader keeps them whole.
    const TFetchProgress many{1, 0, 1, 1, 5'000'000'000, 0, 0};
    EXPECT_EQ(FetchProgressLine(many), "request=1 left=0 days=1/1 rows=5000000000 eta=0 http=0\n");
    ASSERT_TRUE(ParseFetchProgress(FetchProgressLine(many)));
    EXPECT_EQ(ParseFetchProgress(FetchProgressLine(many))->Rows, 5'000'000'000);
}

TEST(FetchProgressLine, ReadsTheChildsLinesAndNothingElse)
{
    EXPECT_TRUE(ParseFetchProgress("request=3 left=12 days=3/15 rows=12000 eta=144 http=200\r\n"));
    EXPECT_TRUE(ParseFetchProgress("request=3 left=12 days=3/15 rows=12000 eta=144 http=200"));
    struct Row
    {
        const char* Name;
        const char* Line;
    };
    const Row refused[] = {
        {"no days", "request=3 left=12 rows=12000 eta=144 http=200"},
        {"days without total", "request=3 left=12 days=3 rows=12000 eta=144 http=200"},
        {"negative", "request=-3 left=12 days=3/15 rows=12000 eta=144 http=200"},
        {"over 10^9", "request=1000000001 left=12 days=3/15 rows=12000 eta=144 http=200"},
        {"not a number", "request=3x left=12 days=3/15 rows=12000 eta=144 http=200"},
        {"a word without a value", "request=3 left=12 days=3/15 rows=12000 eta=144 http"},
        {"the end line", "end exit=0 days=3 stocks=4000 rows=12000 requests=4 refused=0"},
        {"a human line", "取得中 3/15"},
        {"empty", ""},
    };
    for (const Row& row : refused)
    {
        SCOPED_TRACE(row.Name);
        EXPECT_FALSE(ParseFetchProgress(row.Line));
    }
}

TEST(FetchEndLine, IsReadBackAsItWasWrittenAndNothingElseIs)
{
    const TFetchEnd end{143, 3, 4000, 12000, 4, 7};
    EXPECT_EQ(FetchEndLine(end), "end exit=143 days=3 stocks=4000 rows=12000 requests=4 refused=7\n");
    const std::optional<TFetchEnd> read = ParseFetchEnd(FetchEndLine(end));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->ExitStatus, 143);
    EXPECT_EQ(read->Days, 3);
    EXPECT_EQ(read->Stocks, 4000);
    EXPECT_EQ(read->Rows, 12000);
    EXPECT_EQ(read->Requests, 4);
    EXPECT_EQ(read->Refused, 7);
    EXPECT_TRUE(ParseFetchEnd("end exit=2 days=3 stocks=4000 rows=12000 requests=4 refused=7\r\n"));

    // Why it ended: a word the window reads; none, or one it does not know, is Unknown.
    const TFetchEnd noNetwork{2, 0, 0, 0, 1, 0, TFetchReason::NoNetwork};
    EXPECT_EQ(FetchEndLine(noNetwork), "end exit=2 days=0 stocks=0 rows=0 requests=1 refused=0 reason=no-network\n");
    ASSERT_TRUE(ParseFetchEnd(FetchEndLine(noNetwork)));
    EXPECT_EQ(ParseFetchEnd(FetchEndLine(noNetwork))->Reason, TFetchReason::NoNetwork);
    EXPECT_EQ(ParseFetchEnd(FetchEndLine(end))->Reason, TFetchReason::Unknown);
    EXPECT_EQ(ParseFetchEnd("end exit=2 days=0 stocks=0 rows=0 requests=1 refused=0 reason=gremlins")->Reason,
              TFetchReason::Unknown);

    EXPECT_FALSE(ParseFetchEnd("endexit=0 days=3 stocks=4000 rows=12000 requests=4 refused=0"));
    EXPECT_FALSE(ParseFetchEnd("end exit=0 days=3 stocks=4000 rows=12000 requests=4"));
    EXPECT_FALSE(ParseFetchEnd("request=3 left=12 days=3/15 rows=12000 eta=144 http=200"));
}

TEST(FetchOutlookJson, GivesNullForNothingHeld)
{
    TFetchOutlookFigures outlook;
    outlook.From = "2025-01-06";
    outlook.To = "2026-02-10";
    outlook.Days = 285;
    outlook.Requests = 286;
    outlook.Seconds = 3420;
    EXPECT_EQ(FetchOutlookJson(outlook), "{\"held_first\":null,\"held_last\":null,\"stocks\":0,\"from\":\"2025-01-06\","
                                         "\"to\":\"2026-02-10\",\"days\":285,\"requests\":286,\"seconds\":3420}\n");
    outlook.HeldFirst = "2025-01-06";
    outlook.HeldLast = "2025-03-31";
    outlook.Stocks = 4000;
    EXPECT_EQ(FetchOutlookJson(outlook),
              "{\"held_first\":\"2025-01-06\",\"held_last\":\"2025-03-31\",\"stocks\":4000,\"from\":\"2025-01-06\","
              "\"to\":\"2026-02-10\",\"days\":285,\"requests\":286,\"seconds\":3420}\n");
}

TEST(FindDataPlan, KnowsThePlansByTheNamesPlanTakes)
{
    ASSERT_NE(FindDataPlan("free"), nullptr);
    EXPECT_EQ(FindDataPlan("free")->RequestsPerMinute, 5);
    EXPECT_EQ(FindDataPlan("free")->HeldBackDays, 84) << "twelve weeks back";
    ASSERT_NE(FindDataPlan("premium"), nullptr);
    EXPECT_EQ(FindDataPlan("premium")->RequestsPerMinute, 500);
    EXPECT_EQ(FindDataPlan("Free"), nullptr) << "the caption is not a name";
    EXPECT_EQ(FindDataPlan(""), nullptr);
}

// The XDG rule itself is tested with PerUserFolder; here the folder it names.
TEST(ConfigFolder, IsUnderXdgConfigHomeElseHome)
{
    EXPECT_EQ(ConfigFolder("/x", "/home/u"), std::filesystem::path("/x/orvanta"));
    EXPECT_EQ(ConfigFolder(nullptr, "/home/u"), std::filesystem::path("/home/u/.config/orvanta"));
    EXPECT_EQ(ConfigFolder("relative", "/home/u"), std::filesystem::path("/home/u/.config/orvanta"));
    EXPECT_EQ(ApiKeyFile("/home/u/.config/orvanta"), std::filesystem::path("/home/u/.config/orvanta/jquants-api-key"));
}

//! Sets an environment variable for the length of a scope; null unsets it.
class TScopedVariable
{
public:
    TScopedVariable(const char* name, const char* value) : Name(name)
    {
        if (const char* old = std::getenv(name))
            Old = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~TScopedVariable() { Old ? ::setenv(Name, Old->c_str(), 1) : ::unsetenv(Name); }
    TScopedVariable(const TScopedVariable&) = delete;
    TScopedVariable& operator=(const TScopedVariable&) = delete;

private:
    const char* Name;
    std::optional<std::string> Old;
};

// Without HOME the fetch read its key from ".config/orvanta" under whatever folder it was
// started in, while the window kept the key nowhere: both now take the account's home folder.
TEST(ConfigFolder, WithoutHomeIsUnderTheAccountsHomeFolder)
{
    const passwd* account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    const std::filesystem::path accountConfig = std::filesystem::path(account->pw_dir) / ".config" / "orvanta";
    const TScopedVariable noXdg("XDG_CONFIG_HOME", nullptr);
    {
        const TScopedVariable noHome("HOME", nullptr);
        EXPECT_EQ(ConfigFolder(), accountConfig);
    }
    {
        const TScopedVariable emptyHome("HOME", "");
        EXPECT_EQ(ConfigFolder(), accountConfig);
    }
    {
        const TScopedVariable home("HOME", "/home/someone");
        EXPECT_EQ(ConfigFolder(), std::filesystem::path("/home/someone/.config/orvanta"));
        const TScopedVariable xdg("XDG_CONFIG_HOME", "/x");
        EXPECT_EQ(ConfigFolder(), std::filesystem::path("/x/orvanta"));
    }
}

} // namespace
