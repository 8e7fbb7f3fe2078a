// A folder of the chunk store's time becomes a market database without losing a day, a request
// or a stock, also when the conversion is killed in the middle.

#include "market/bar_store.h"
#include "market/market_db.h"
#include "market/store_migration.h"
#include "service_test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

const TDate Today{2026, 12, 4};

std::filesystem::path KeptFolder(const std::string& name)
{
    const std::filesystem::path folder = FreshFolder(name);
    std::filesystem::copy(std::filesystem::path(ORVANTA_SERVICE_TEST_DATA) / "chunk-store-folder", folder,
                          std::filesystem::copy_options::recursive);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    return folder;
}

struct TFolderContent
{
    std::map<std::string, TRawDays> Days;
    std::map<std::string, std::string> SourceCodes;
    std::vector<TBarRequest> Requests;
    std::vector<TStock> Master;
};

TFolderContent ReadOldFolder(const std::filesystem::path& folder)
{
    TFolderContent content;
    std::vector<std::string> warnings;
    content.Days = LoadRawDays(folder, warnings, &content.SourceCodes);
    EXPECT_TRUE(warnings.empty());
    content.Requests = TBarStore(folder, TBarStore::TMode::ReadOnly).Requests();
    content.Master = ParseStockMaster(ReadBytes(folder / "stocks.csv"));
    return content;
}

TRawDay Imported(TDate date, std::int64_t open, std::int64_t high, std::int64_t low, std::int64_t close,
                 std::int64_t volume)
{
    return {date, true, open * 100, high * 100, low * 100, close * 100, volume, 0, "1"};
}

void ExpectConverted(const std::filesystem::path& folder, const TFolderContent& old)
{
    TMarketDb db(folder, TMarketDb::TMode::ReadOnly);
    TDbSkips skips;
    std::map<std::string, TRawDays> expected = old.Days;
    // 1301 had no fetched days: its imported file is what was served, one day without trades.
    expected["1301"] = {Imported({2026, 3, 12}, 3000, 3050, 2990, 3040, 1200), TRawDay{{2026, 3, 13}},
                        Imported({2026, 3, 16}, 3045, 3100, 3010, 3090, 1500)};
    EXPECT_EQ(db.AllDays(Today, skips), expected);
    EXPECT_EQ(db.Requests(), old.Requests);

    std::vector<TDbStock> master;
    for (const TStock& stock : old.Master)
        master.push_back({stock, old.SourceCodes.count(stock.Code) ? old.SourceCodes.at(stock.Code) : ""});
    std::sort(master.begin(), master.end(),
              [](const TDbStock& a, const TDbStock& b) { return a.Stock.Code < b.Stock.Code; });
    EXPECT_EQ(db.Stocks(skips), master);
    EXPECT_EQ(skips.Stocks + skips.Bars, 0);
}

TEST(StoreConversion, TheKeptFolderLosesNothingAndItsOldFilesAreRenamedNotDeleted)
{
    const std::filesystem::path folder = KeptFolder("convert_kept");
    const TFolderContent old = ReadOldFolder(folder);
    ASSERT_EQ(old.SourceCodes.at("7203"), "72030");
    ASSERT_EQ(old.SourceCodes.at("25935"), "25935");
    ASSERT_FALSE(old.Requests.empty());

    const TConversion conversion = ConvertChunkStore(folder, Today);
    EXPECT_TRUE(conversion.Converted);
    EXPECT_EQ(conversion.Stocks, static_cast<long long>(old.Master.size()));
    EXPECT_EQ(conversion.Requests, static_cast<long long>(old.Requests.size()));
    EXPECT_EQ(conversion.ImportedDays, 3);
    ASSERT_EQ(conversion.Warnings.size(), 1u);
    EXPECT_NE(conversion.Warnings[0].find("prices/8233.csv: "), std::string::npos) << conversion.Warnings[0];
    ExpectConverted(folder, old);

    for (const char* name : {"bars", "prices", "stocks.csv"})
    {
        EXPECT_FALSE(std::filesystem::exists(folder / name)) << name;
        EXPECT_TRUE(std::filesystem::exists(folder / (std::string(name) + ".migrated"))) << name;
    }
    EXPECT_TRUE(std::filesystem::exists(folder / "real-data"));
    EXPECT_TRUE(std::filesystem::exists(folder / "KabuList.dat"));
    EXPECT_FALSE(ConvertChunkStore(folder, Today).Converted);
    ExpectConverted(folder, old);
}

TEST(StoreConversion, AConversionKilledWhileWritingLeavesTheOldFilesAndIsDoneAgain)
{
    const std::filesystem::path folder = KeptFolder("convert_killed");
    const TFolderContent old = ReadOldFolder(folder);

    // A file size limit kills the converting process with SIGXFSZ once a file passes 34 KiB: the
    // schema (16 KiB) and the journal's index (32 KiB) fit, the converted days do not.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        const rlimit limit{34 * 1024, 34 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ConvertChunkStore(folder, Today);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "status " << status;
    // The schema was committed before: the kill came while the days went to the journal.
    EXPECT_GT(std::filesystem::file_size(folder / (std::string(MarketDbFileName) + "-wal")), 0u);

    for (const char* name : {"bars", "prices", "stocks.csv"})
        EXPECT_TRUE(std::filesystem::exists(folder / name)) << name;
    EXPECT_FALSE(TMarketDb(folder, TMarketDb::TMode::Write).Converted());

    EXPECT_TRUE(ConvertChunkStore(folder, Today).Converted);
    ExpectConverted(folder, old);
}

TEST(StoreConversion, SpecialAndForeignFilesAreSkippedByNameWithoutHanging)
{
    const std::filesystem::path folder = KeptFolder("convert_special");
    const TFolderContent old = ReadOldFolder(folder);
    ::mkfifo((folder / "bars" / "00000100.chunk").c_str(), 0600);
    std::filesystem::create_symlink("/dev/zero", folder / "bars" / "00000101.chunk");
    {
        // An 8 GB file that takes no disk.
        std::ofstream sparse(folder / "bars" / "00000102.chunk", std::ios::binary);
        sparse.seekp((std::streamoff{8} << 30) - 1);
        sparse.put('\0');
    }
    ::mkfifo((folder / "prices" / "1301.csv.csv").c_str(), 0600);

    const TConversion conversion = ConvertChunkStore(folder, Today);
    EXPECT_TRUE(conversion.Converted);
    std::string warnings;
    for (const std::string& line : conversion.Warnings)
        warnings += line + "\n";
    for (const char* name : {"00000100.chunk: 通常のファイルではない", "00000101.chunk: リンクなので",
                             "00000102.chunk: 8589934592 バイトあり", "1301.csv.csv: "})
        EXPECT_NE(warnings.find(name), std::string::npos) << name << "\n" << warnings;
    ExpectConverted(folder, old);
}

} // namespace
