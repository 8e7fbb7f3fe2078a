#include "common/data_folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

TEST(PerUserFolder, FollowsTheXdgRules)
{
    struct Row
    {
        const char* name;
        const char* xdgDataHome;
        const char* home;
        const char* folder;
    };
    const Row rows[] = {
        {"XDG_DATA_HOME wins", "/data/u", "/home/u", "/data/u/orvanta"},
        {"unset XDG_DATA_HOME", nullptr, "/home/u", "/home/u/.local/share/orvanta"},
        {"empty XDG_DATA_HOME", "", "/home/u", "/home/u/.local/share/orvanta"},
        {"a relative XDG_DATA_HOME is ignored", "data", "/home/u", "/home/u/.local/share/orvanta"},
        {"no home at all", nullptr, nullptr, ""},
        {"a relative home is no home", nullptr, "home", ""},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PerUserFolder(row.xdgDataHome, row.home), std::filesystem::path(row.folder));
    }
}

TEST(SampleMarketFolder, TheInstalledSampleElseTheSourceTree)
{
    const char* base = std::getenv("ORVANTA_TEST_TMP");
    const std::filesystem::path prefix =
        std::filesystem::path(base ? base : "/tmp") / ("prefix_" + std::to_string(::getpid()));
    std::filesystem::remove_all(prefix);
    std::filesystem::create_directories(prefix / "bin");
    std::filesystem::create_directories(prefix / "share" / "orvanta");

    // A folder without a stock master is not an installed sample (a half-removed install).
    const std::filesystem::path sourceSample = SampleMarketFolder({});
    EXPECT_TRUE(std::filesystem::exists(sourceSample / "stocks.csv")) << sourceSample;
    EXPECT_EQ(SampleMarketFolder(prefix / "bin" / "orvanta"), sourceSample);

    std::ofstream(prefix / "share" / "orvanta" / "stocks.csv") << "# master\n";
    EXPECT_EQ(SampleMarketFolder(prefix / "bin" / "orvanta"), prefix / "share" / "orvanta");
    std::filesystem::remove_all(prefix);
}

} // namespace
