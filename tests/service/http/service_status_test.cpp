#include "market/data_version.h"
#include "market/raw_days.h"
#include "service_process.h"
#include "service_test_support.h"
#include "common/service_contract.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace {

nlohmann::json Status(const TServingProcess& service)
{
    const auto [status, body] = service.Get(StatusRoute);
    EXPECT_EQ(status, 200);
    // Throws, and so fails the test, on anything but one JSON object.
    return nlohmann::json::parse(body);
}

TEST(ServiceStatus, NamesTheProgramItsUserAndWhatItServes)
{
    // A folder name no JSON string can hold as it is: a quote, a backslash, a control byte and
    // a byte that is not UTF-8.
    const std::filesystem::path data = FreshFolder("status") / "a\"b\\c\x01"
                                                               "d\xff";
    std::filesystem::create_directories(data);
    std::filesystem::copy_file(SampleDataFolder() / "stocks.csv", data / "stocks.csv");

    TServingProcess service({"--data", data.string()});
    ASSERT_TRUE(service.Answers());
    const nlohmann::json sample = Status(service);
    EXPECT_EQ(sample.at("program"), "orvanta-service");
    EXPECT_EQ(sample.at("version"), "1.6a");
    EXPECT_EQ(sample.at("uid"), ::getuid());
    const std::string shown = data.string().substr(0, data.string().size() - 1) + "\xef\xbf\xbd"; // U+FFFD
    EXPECT_EQ(sample.at("data"), shown);
    EXPECT_EQ(sample.at("sample"), true);
    EXPECT_EQ(sample.at("data_version"), "0");

    // A one-shot command that makes the folder real shows at the next answer, without a restart.
    WriteBytes(data / RealDataFileName, "test\n");
    BumpDataVersion(data);
    const nlohmann::json real = Status(service);
    EXPECT_EQ(real.at("sample"), false);
    const std::string first = real.at("data_version");
    EXPECT_NE(first, "0");
    BumpDataVersion(data);
    EXPECT_NE(Status(service).at("data_version"), first) << "every bump gives a new token";

    EXPECT_EQ(service.Stop(), 143) << "SIGTERM ends the service with the status of the signal";
}

TEST(DataVersion, AnythingButATokenReadsAsNone)
{
    const std::filesystem::path data = FreshFolder("data_version");
    const struct
    {
        const char* name;
        std::string bytes;
        std::string token;
    } rows[] = {
        {"token and line end", "18a2f-3c-1\n", "18a2f-3c-1"},
        {"CR LF", "18a2f-3c-1\r\n", "18a2f-3c-1"},
        {"empty", "", "0"},
        {"a quote", "ab\"c\n", "0"},
        {"longer than a token", std::string(65, 'a'), "0"},
        {"foreign bytes", "\xff\xfe", "0"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        WriteBytes(data / DataVersionFileName, row.bytes);
        EXPECT_EQ(ReadDataVersion(data), row.token);
    }
    std::filesystem::remove(data / DataVersionFileName);
    EXPECT_EQ(ReadDataVersion(data), "0");
    EXPECT_THROW(BumpDataVersion(data / "missing"), std::system_error);
}

bool NotFound(const TServingProcess& service, const std::string& code)
{
    constexpr std::string_view NotFoundEuc =
        "\xb8\xab\xa4\xc4\xa4\xab\xa4\xea\xa4\xde\xa4\xbb\xa4\xf3\xa4\xc7\xa4\xb7\xa4\xbf"; // 見つかりませんでした
    return service.Get(std::string(QuoteRoute) + "?qt=" + code + ".t&sv=MN&pg=mn_schart.html")
               .second.find(NotFoundEuc) != std::string::npos;
}

//! Runs a one-shot command of the service on the folder; its exit status.
int RunCommand(const std::filesystem::path& data, const std::string& arguments)
{
    const std::string command =
        "'" ORVANTA_SERVICE_BINARY "' --data '" + data.string() + "' " + arguments + " > /dev/null 2>&1";
    return std::system(command.c_str());
}

//! Waits, boundedly, for the serving process to show what a one-shot command changed.
template <typename TCondition>
bool Eventually(TCondition condition)
{
    for (int i = 0; i < 200; ++i)
    {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(ServiceProgram, PicksUpAnImportAndAListingWithoutARestart)
{
    const std::filesystem::path root = FreshFolder("live_reload");
    const std::filesystem::path data = root / "data";
    std::filesystem::create_directories(data);
    std::filesystem::copy_file(SampleDataFolder() / "stocks.csv", data / "stocks.csv");
    TServingProcess service({"--data", data.string()});
    ASSERT_TRUE(service.Answers());
    const auto closeOf1301 = [&] {
        return service.Get(std::string(QuoteRoute) + "?qt=1301.t&sv=MN&pg=mn_schart.html").second;
    };
    EXPECT_FALSE(NotFound(service, "1301")) << "the sample stock has its made-up history";

    // An import of 1301's prices: its page shows the imported close (12,345 yen) soon after.
    std::filesystem::create_directories(root / "from");
    WriteBytes(root / "from" / "1301.csv",
               "Date,Open,High,Low,Close,Volume\n2026-12-03,12000,12400,11900,12345,1000\n");
    ASSERT_EQ(RunCommand(data, "--import '" + (root / "from").string() + "'"), 0);
    EXPECT_TRUE(Eventually([&] { return closeOf1301().find("12,345") != std::string::npos; }));

    // The listing makes the folder real: nothing made up any more. 1306 has no stored days; 1301
    // is served from the prices imported before, as imports stand for what no fetch brought.
    EXPECT_FALSE(NotFound(service, "1306"));
    ASSERT_EQ(RunCommand(data, "--listing '" ORVANTA_SERVICE_TEST_DATA "/listing.xls'"), 0);
    EXPECT_TRUE(Eventually([&] { return NotFound(service, "1306"); }));
    EXPECT_EQ(Status(service).at("sample"), false);
    EXPECT_NE(closeOf1301().find("12,345"), std::string::npos);

    // A later import into the real folder is served too: an import that says it imported is
    // not ignored.
    WriteBytes(root / "from" / "1301.csv",
               "Date,Open,High,Low,Close,Volume\n2026-12-03,12000,12400,11900,12346,1000\n");
    ASSERT_EQ(RunCommand(data, "--import '" + (root / "from").string() + "'"), 0);
    EXPECT_TRUE(Eventually([&] { return closeOf1301().find("12,346") != std::string::npos; }));
}

} // namespace
