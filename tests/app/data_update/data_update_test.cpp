#include "app/data_update/data_update.h"

#include "../startup_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

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
}

} // namespace
