#include "market/data_layers.h"

#include "market/market.h"
#include "service_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace {

const std::string Header = "Date,Open,High,Low,Close,Volume\n";
constexpr TDate Today{2026, 12, 7};

// テスト商事, 東証２部, 卸売業
const std::string ExtraStockLine = "2222,\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88\xe5\x95\x86\xe4\xba\x8b,"
                                   "\xe6\x9d\xb1\xe8\xa8\xbc\xef\xbc\x92\xe9\x83\xa8,"
                                   "\xe5\x8d\xb8\xe5\xa3\xb2\xe6\xa5\xad\n";

std::int64_t LastClose(const TMarket& market, const std::string& code)
{
    const TStock* stock = market.Find(code);
    if (stock == nullptr)
        return -1;
    return market.QuoteDays(*stock, Today).back().Close;
}

//! Every file under `folder` with its bytes.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        files[entry.path().lexically_relative(folder).string()] =
            entry.is_regular_file() ? ReadBytes(entry.path()) : std::string("(folder)");
    return files;
}

TEST(DataLayers, TheUsersDataLiesOverTheSample)
{
    const std::filesystem::path sample = FreshFolder("layers_sample");
    const std::filesystem::path user = FreshFolder("layers_user");
    std::filesystem::copy_file(SampleDataFolder() / "stocks.csv", sample / "stocks.csv");
    std::filesystem::create_directories(sample / "prices");
    std::filesystem::create_directories(user / "prices");
    WriteBytes(sample / "prices" / "7203.csv", Header + "2026-12-04,2500,2600,2400,2550,1000\n");
    WriteBytes(sample / "prices" / "6758.csv", Header + "2026-12-04,3000,3100,2900,3050,1000\n");
    WriteBytes(user / "prices" / "7203.csv", Header + "2026-12-04,2500,2600,2400,2590,1000\n");

    std::vector<std::string> warnings;
    const TMarket overlaid = TMarket::Load(TDataLayers{sample, user}, warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(LastClose(overlaid, "7203"), 2590) << "the user's prices of a stock replace the sample's";
    EXPECT_EQ(LastClose(overlaid, "6758"), 3050) << "the sample's prices of other stocks stay";
    EXPECT_EQ(LastClose(overlaid, "2222"), -1);

    // A master of the user's own replaces the sample's whole; their prices follow it.
    WriteBytes(user / "stocks.csv", ReadBytes(sample / "stocks.csv") + ExtraStockLine);
    WriteBytes(user / "prices" / "2222.csv", Header + "2026-12-04,100,110,90,105,1000\n");
    const TMarket extended = TMarket::Load(TDataLayers{sample, user}, warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(LastClose(extended, "2222"), 105);
    EXPECT_EQ(extended.Stocks().size(), SampleMarket().Stocks().size() + 1);

    // A user folder that does not exist yet is nothing laid over.
    const TMarket plain = TMarket::Load(TDataLayers{sample, user / "missing"}, warnings);
    EXPECT_EQ(LastClose(plain, "7203"), 2550);
}

TEST(DataLayers, OnlyTheTopLayerIsWritten)
{
    const std::filesystem::path sample = FreshFolder("writable_sample");
    const std::filesystem::path user = FreshFolder("writable_user") / "orvanta" / "service";
    std::filesystem::copy_file(SampleDataFolder() / "stocks.csv", sample / "stocks.csv");

    EXPECT_EQ(WritableLayer({sample, user}), user);
    EXPECT_EQ(ReadBytes(user / "stocks.csv"), ReadBytes(sample / "stocks.csv"));

    // Once the user has a master of their own, it is theirs.
    WriteBytes(user / "stocks.csv", ReadBytes(sample / "stocks.csv") + ExtraStockLine);
    EXPECT_EQ(WritableLayer({sample, user}), user);
    EXPECT_NE(ReadBytes(user / "stocks.csv").find(ExtraStockLine), std::string::npos);

    EXPECT_EQ(DefaultDataLayers(sample, user.parent_path()), (TDataLayers{sample, user}));
    EXPECT_THROW(DefaultDataLayers(sample, {}), std::runtime_error);
}

TEST(ServiceProgram, ImportsIntoTheUsersFolderAndLeavesTheSampleAlone)
{
    const std::filesystem::path xdg = FreshFolder("program_xdg");
    const std::filesystem::path from = FreshFolder("program_from");
    WriteBytes(from / "7203.csv", Header + "2026-12-04,2500,2600,2400,2590,1000\n");
    WriteBytes(from / "stocks.csv", ExtraStockLine);
    WriteBytes(from / "2222.csv", Header + "2026-12-04,100,110,90,105,1000\n");
    const auto sampleBefore = Snapshot(SampleDataFolder());

    // Without --data the program's own sample market is read and the user's folder written.
    const std::string command = "XDG_DATA_HOME='" + xdg.string() + "' '" ORVANTA_SERVICE_BINARY "' --import '" +
                                from.string() + "' > '" + (xdg / "report.txt").string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadBytes(xdg / "report.txt");

    const std::filesystem::path user = xdg / "orvanta" / "service";
    EXPECT_EQ(Snapshot(SampleDataFolder()), sampleBefore);
    EXPECT_TRUE(std::filesystem::exists(user / "prices" / "7203.csv"));
    EXPECT_TRUE(std::filesystem::exists(user / "prices" / "2222.csv"));
    EXPECT_NE(ReadBytes(user / "stocks.csv").find(ExtraStockLine), std::string::npos);
    EXPECT_NE(ReadBytes(user / "KabuList.dat").find("2222,"), std::string::npos);
    EXPECT_NE(ReadBytes(xdg / "report.txt").find(user.string()), std::string::npos)
        << "the report says where the data went";

    std::vector<std::string> warnings;
    const TMarket served = TMarket::Load(DefaultDataLayers(SampleDataFolder(), xdg / "orvanta"), warnings);
    EXPECT_EQ(LastClose(served, "7203"), 2590);
    EXPECT_EQ(LastClose(served, "2222"), 105);
}

} // namespace
