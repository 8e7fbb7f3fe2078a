// orvanta-service --fetch against a source that breaks the published format, by mistake or on
// purpose: what it keeps, what it refuses, and that neither memory nor requests run away.
#include "fetch_process.h"
#include "jquants_standin.h"
#include "market/bar_store.h"

#include "common/service_contract.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;

const TDate MarketFirst{2025, 1, 6};
const TDate MarketLast{2026, 2, 6};

std::vector<std::string> Args(const std::string& source, const std::filesystem::path& data,
                              std::vector<std::string> more)
{
    std::vector<std::string> args = {"--data", data.string(), "--fetch", "--source", source, "--rate", "10000"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

size_t DaysOf(const std::filesystem::path& data, const std::string& code)
{
    const std::map<std::string, TRawDays> days = LoadRawDays(data);
    return days.contains(code) ? days.at(code).size() : 0;
}

size_t BarRequests(const TJQuantsStandin& standin)
{
    const std::vector<TStandinRequest> requests = standin.Requests();
    return static_cast<size_t>(std::count_if(requests.begin(), requests.end(), [](const TStandinRequest& request) {
        return request.Path == "/v2/equities/bars/daily";
    }));
}

struct TFaultCase
{
    const char* Name;
    TStandinFault Fault;
    std::string Says;
    size_t DaysKept;    // of 7203: 03-03 and 03-04 come before the fault
    size_t BarRequests; // at most
};

// Regressions: the same pagination key answered forever took requests, chunk files and disk
// without bound; an answer without a length, or gzipped, grew past every limit in memory; 48
// MiB of empty records took gigabytes to parse.
TEST(HostileSourceTest, ABrokenAnswerEndsTheFetchAndKeepsWhatCameBefore)
{
    const std::vector<TFaultCase> cases = {
        // The day's first page is stored; the page that repeats its key is not.
        {"the same page key again", TStandinFault::SamePageKey, "同じ pagination_key がまた返されました", 3, 4},
        {"a page key of 64 KiB", TStandinFault::LongPageKey, "上限の 4096 バイトを超えています", 2, 3},
        {"80 MiB with a length", TStandinFault::HugeWithLength, "応答が 64 MiB を超えた", 2, 3},
        {"80 MiB without a length", TStandinFault::HugeChunked, "応答が 64 MiB を超えた", 2, 3},
        {"80 MiB out of 100 KB of gzip", TStandinFault::HugeGzip, "応答が 64 MiB を超えた", 2, 3},
        {"48 MiB of empty records", TStandinFault::ManyEmptyRecords, "公開されている JSON の形ではありません", 2, 3},
    };
    for (const TFaultCase& row : cases)
    {
        SCOPED_TRACE(row.Name);
        const std::filesystem::path folder = FreshFolder("fetch_hostile");
        TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 10);
        standin.Misbehave(row.Fault, {2025, 3, 5});
        const TFetchResult result =
            TFetchProcess(folder, Args(standin.Url(), folder / "data", {"--from", "2025-03-03", "--to", "2025-03-07"}),
                          TJQuantsStandin::Key)
                .Wait(120s);
        EXPECT_EQ(result.Exit, ServiceExitSourceStopped) << result.Stderr;
        EXPECT_NE(result.Stderr.find("2025-03-05 の日足へのデータ元の応答"), std::string::npos) << result.Stderr;
        EXPECT_NE(result.Stderr.find(row.Says), std::string::npos) << result.Stderr;
        EXPECT_EQ(DaysOf(folder / "data", "7203"), row.DaysKept);
        EXPECT_LE(BarRequests(standin), row.BarRequests);
        // The answer's 64 MiB, the parse's bounded tree, the program: well under a gigabyte.
        EXPECT_LT(result.MaxRssKb, 1L << 20);
    }
}

struct TScopeCase
{
    const char* Name;
    std::vector<std::string> Extra;
    std::vector<std::string> Says;
    int Refused;
};

// Regression: a code query's answer stored another stock's row (9984 at 77,777 yen) and days
// outside the asked range.
TEST(HostileSourceTest, OnlyTheRowsAskedForAreKept)
{
    const std::vector<TScopeCase> cases = {
        // Each of the 5 days also brings the next day's row and one 30 days after today.
        {"by date", {}, {"72030 2025-03-04 (ほかの日)", "(今日より後の日)"}, 10},
        // The 5 days and 3 rows not asked for.
        {"by code",
         {"--codes", "7203"},
         {"99840 2025-03-03 (ほかの銘柄)", "72030 2025-02-28 (範囲の外の日)", "(今日より後の日)"},
         3},
    };
    for (const TScopeCase& row : cases)
    {
        SCOPED_TRACE(row.Name);
        const std::filesystem::path folder = FreshFolder("fetch_scope");
        TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 10);
        standin.Misbehave(TStandinFault::OtherRows, MarketFirst);
        std::vector<std::string> extra = {"--from", "2025-03-03", "--to", "2025-03-07"};
        extra.insert(extra.end(), row.Extra.begin(), row.Extra.end());
        const TFetchResult result = RunFetch(folder, Args(standin.Url(), folder / "data", extra), TJQuantsStandin::Key);
        ASSERT_EQ(result.Exit, 0) << result.Stderr;
        const std::map<std::string, TRawDays> days = LoadRawDays(folder / "data");
        EXPECT_FALSE(days.contains("9984"));
        ASSERT_TRUE(days.contains("7203"));
        const TRawDays& toyota = days.at("7203");
        ASSERT_EQ(toyota.size(), 5u);
        EXPECT_EQ(toyota.front().Date, (TDate{2025, 3, 3}));
        EXPECT_EQ(toyota.back().Date, (TDate{2025, 3, 7}));
        // 2025-03-03 is the market's t = 40: close 1040 yen.
        EXPECT_EQ(toyota.front().Close, 104000);
        for (const std::string& named : row.Says)
            EXPECT_NE(result.Stderr.find(named), std::string::npos) << result.Stderr;
        ASSERT_FALSE(result.Progress.empty());
        EXPECT_NE(result.Progress.back().find(" refused=" + std::to_string(row.Refused)), std::string::npos)
            << result.Progress.back();
    }
}

struct TSourceCase
{
    const char* Name;
    std::string Source; // "{port}" stands for the stand-in's
    bool ThroughProxy;  // http_proxy names the stand-in
    int Exit;
};

// Regression: for an http:// --source the key went out in clear text; a proxy on loopback
// received x-api-key.
TEST(HostileSourceTest, TheKeyGoesOutEncryptedOrToThisComputerOnly)
{
    const std::vector<TSourceCase> cases = {
        {"http elsewhere, through a proxy", "http://api.example.invalid/v2", true, ServiceExitUsage},
        {"http to 127.0.0.1", "http://127.0.0.1:{port}/v2", false, 0},
        {"http to localhost", "http://localhost:{port}/v2", false, 0},
    };
    for (const TSourceCase& row : cases)
    {
        SCOPED_TRACE(row.Name);
        const std::filesystem::path folder = FreshFolder("fetch_source");
        TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 10);
        const std::string base = standin.Url().substr(0, standin.Url().size() - 3); // without "/v2"
        std::string source = row.Source;
        if (const size_t at = source.find("{port}"); at != std::string::npos)
            source.replace(at, 6, base.substr(base.rfind(':') + 1));
        std::vector<std::string> environment;
        if (row.ThroughProxy)
            environment = {"http_proxy=" + base, "HTTP_PROXY=" + base};
        const TFetchResult result =
            RunFetch(folder, Args(source, folder / "data", {"--from", "2025-03-03", "--to", "2025-03-07"}),
                     TJQuantsStandin::Key, environment);
        EXPECT_EQ(result.Exit, row.Exit) << result.Stderr;
        if (row.Exit == ServiceExitUsage)
        {
            EXPECT_NE(result.Stderr.find("暗号化されない http です"), std::string::npos) << result.Stderr;
            EXPECT_EQ(standin.RequestCount(), 0u) << "the proxy saw the request";
        }
        else
        {
            EXPECT_EQ(DaysOf(folder / "data", "7203"), 5u);
        }
    }
}

struct TKeyFileCase
{
    const char* Name;
    std::function<void(const std::filesystem::path& file)> Make;
    int Exit;
    std::string Says;
};

// Regressions: a FIFO in the key file's place hung the fetch; another user's file was read.
TEST(HostileSourceTest, TheKeyFileIsReadOnlyWhenItIsTheUsersPrivateFile)
{
    const std::string key = std::string(TJQuantsStandin::Key) + "\n";
    const auto withMode = [key](mode_t mode) {
        return [key, mode](const std::filesystem::path& file) {
            WriteBytes(file, key);
            ::chmod(file.c_str(), mode);
        };
    };
    const std::vector<TKeyFileCase> cases = {
        {"0600", withMode(0600), 0, "5/5 日、"},
        {"0400", withMode(0400), 0, "5/5 日、"},
        {"a link to a private file",
         [&](const std::filesystem::path& file) {
             withMode(0600)(file.parent_path() / "elsewhere");
             std::filesystem::create_symlink(file.parent_path() / "elsewhere", file);
         },
         0, "5/5 日、"},
        {"others may read it", withMode(0644), ServiceExitUsage, "chmod 600"},
        {"a FIFO", [](const std::filesystem::path& file) { ::mkfifo(file.c_str(), 0600); }, ServiceExitUsage,
         "通常のファイルではありません (FIFO)"},
        {"a folder", [](const std::filesystem::path& file) { std::filesystem::create_directory(file); },
         ServiceExitUsage, "通常のファイルではありません"},
        {"another user's file",
         [&](const std::filesystem::path& file) {
             withMode(0600)(file);
             ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
         },
         ServiceExitUsage, "持ち主はあなたではありません"},
    };
    for (const TKeyFileCase& row : cases)
    {
        SCOPED_TRACE(row.Name);
        if (std::string(row.Name) == "another user's file" && ::geteuid() != 0)
            continue; // only root can give a file away
        const std::filesystem::path folder = FreshFolder("fetch_key_file");
        TJQuantsStandin standin(TStandinMarket::Small(MarketFirst, MarketLast), 10);
        const std::filesystem::path config = ConfigFolder((folder / "config").c_str(), nullptr);
        std::filesystem::create_directories(config);
        row.Make(ApiKeyFile(config));
        const TFetchResult result =
            TFetchProcess(folder, Args(standin.Url(), folder / "data", {"--from", "2025-03-03", "--to", "2025-03-07"}),
                          "")
                .Wait(10s);
        EXPECT_EQ(result.Exit, row.Exit) << result.Stderr;
        EXPECT_NE(result.Stderr.find(row.Says), std::string::npos) << result.Stderr;
        EXPECT_EQ(result.Stderr.find("not-a-real-key"), std::string::npos) << "the key shows";
    }
}

} // namespace
