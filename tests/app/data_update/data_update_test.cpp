#include "app/data_update/data_update.h"

#include "../startup_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TEST(FetchProgressLine, ReadsTheChildsLinesAndNothingElse)
{
    const auto progress = ParseFetchProgress("request=3 left=12 days=3/15 rows=12000 eta=144 http=200\n");
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->Requests, 3);
    EXPECT_EQ(progress->RequestsLeft, 12);
    EXPECT_EQ(progress->DaysDone, 3);
    EXPECT_EQ(progress->DaysTotal, 15);
    EXPECT_EQ(progress->Rows, 12000);
    EXPECT_EQ(progress->SecondsLeft, 144);
    EXPECT_EQ(progress->HttpStatus, 200);

    const auto end = ParseFetchEnd("end exit=2 days=3 stocks=4000 rows=12000 requests=4 refused=7\r\n");
    ASSERT_TRUE(end);
    EXPECT_EQ(end->ExitStatus, 2);
    EXPECT_EQ(end->Stocks, 4000);
    EXPECT_EQ(end->Refused, 7);

    struct Row
    {
        const char* Name;
        const char* Line;
    };
    const Row refused[] = {
        {"no days", "request=3 left=12 rows=12000 eta=144 http=200"},
        {"days without total", "request=3 left=12 days=3 rows=12000 eta=144 http=200"},
        {"negative", "request=-3 left=12 days=3/15 rows=12000 eta=144 http=200"},
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
    EXPECT_FALSE(ParseFetchEnd("endexit=0 days=3 stocks=4000 rows=12000 requests=4 refused=0"));
    EXPECT_FALSE(ParseFetchEnd("end exit=0 days=3 stocks=4000 rows=12000 requests=4"));
}

TEST(DurationText, RoundsToTheNearestMinute)
{
    const std::pair<int, const char*> rows[] = {
        {0, "1分未満"}, {59, "1分未満"},  {60, "約1分"},     {89, "約1分"},
        {90, "約2分"},  {3569, "約59分"}, {3570, "約1時間"}, {3930, "約1時間6分"},
    };
    for (const auto& [seconds, text] : rows)
    {
        SCOPED_TRACE(seconds);
        EXPECT_EQ(DurationText(seconds), QString::fromUtf8(text));
    }
}

class ApiKeyFileTest : public TTempFolderTest
{};

TEST_F(ApiKeyFileTest, TheKeyIsKeptForTheUserAloneAndNeverThroughAPlantedLink)
{
    const std::filesystem::path config = Root / "config" / "orvanta";
    const std::filesystem::path elsewhere = Root / "elsewhere";
    WriteText(elsewhere, "keep me");
    std::filesystem::create_directories(config);
    std::filesystem::create_symlink(elsewhere, ApiKeyFile(config));
    EXPECT_FALSE(HasSavedApiKey(config)) << "a link is not a saved key";

    SaveApiKey(config, "test-key-not-a-real-key");

    EXPECT_EQ(ReadText(elsewhere), "keep me");
    EXPECT_TRUE(HasSavedApiKey(config));
    EXPECT_EQ(ReadText(ApiKeyFile(config)), "test-key-not-a-real-key\n");
    struct stat file
    {};
    ASSERT_EQ(::lstat(ApiKeyFile(config).c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(config.c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 07777, 0700u);
}

TEST_F(ApiKeyFileTest, ThePlanIsRememberedAndAnUnknownOneIsFree)
{
    const std::filesystem::path config = Root / "orvanta";
    EXPECT_STREQ(RememberedPlan(config).Name, "free");
    RememberPlan(config, DataPlanNamed("standard"));
    EXPECT_EQ(RememberedPlan(config).RequestsPerMinute, 120);
    WriteText(config / "jquants-plan", "platinum\n");
    EXPECT_STREQ(RememberedPlan(config).Name, "free");
    EXPECT_EQ(ConfigFolder("relative", "/home/u"), std::filesystem::path("/home/u/.config/orvanta"));
    EXPECT_EQ(ConfigFolder("/x", "/home/u"), std::filesystem::path("/x/orvanta"));
}

} // namespace
