#include "market/data_version.h"
#include "market/raw_days.h"
#include "service_process.h"
#include "service_test_support.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

nlohmann::json Status(const TServiceProcess& service)
{
    const auto [status, body] = service.Get("/orvanta/status");
    EXPECT_EQ(status, 200);
    // Throws, and so fails the test, on anything but one JSON object.
    return nlohmann::json::parse(body);
}

TEST(ServiceStatus, NamesTheProgramItsUserAndWhatItServes)
{
    // A folder name no JSON string can hold as it is: a quote, a backslash, a control byte and
    // a byte that is not UTF-8.
    const std::filesystem::path data = FreshFolder("status") / "a\"b\\c\x01" "d\xff";
    std::filesystem::create_directories(data);
    std::filesystem::copy_file(SampleDataFolder() / "stocks.csv", data / "stocks.csv");

    TServiceProcess service({"--data", data.string()});
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

    EXPECT_EQ(service.Stop(), 0);
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
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(data / DataVersionFileName, row.bytes);
        EXPECT_EQ(ReadDataVersion(data), row.token);
    }
    std::filesystem::remove(data / DataVersionFileName);
    EXPECT_EQ(ReadDataVersion(data), "0");
    EXPECT_THROW(BumpDataVersion(data / "missing"), std::system_error);
}

} // namespace
