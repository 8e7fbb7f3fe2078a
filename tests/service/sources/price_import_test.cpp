// The import and the command line of orvanta-service, run as a user runs them.

#include "sources/price_import.h"
#include "common/service_contract.h"

#include "service_test_support.h"

#include "data/quote_page.h"

#include <httplib.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

const std::string Header = "Date,Open,High,Low,Close,Volume\n";

//! A data folder holding the sample master, and an empty folder to import from.
struct TImportFolders
{
    explicit TImportFolders(const std::string& name)
        : Data(FreshFolder(name + "_data")), From(FreshFolder(name + "_from"))
    {
        std::filesystem::copy_file(SampleDataFolder() / "stocks.csv", Data / "stocks.csv");
        std::filesystem::create_directories(Data / "prices");
    }

    TProgramRun Import(std::vector<std::string> extra = {}) const
    {
        std::vector<std::string> args{"--data", Data.string(), "--import", From.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunServiceProgram(args);
    }

    std::filesystem::path Data;
    std::filesystem::path From;
};

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

// A later, shorter file replaced a stock's whole history without a word (500 days became 2).
TEST(ServiceImport, MergesByDateUnlessAskedToReplace)
{
    const TImportFolders folders("merge");
    WriteBytes(folders.Data / "prices" / "7203.csv", Header + "2026-12-01,2500,2520,2490,2510,1000\n"
                                                              "2026-12-02,2510,2530,2500,2520,1100\n"
                                                              "2026-12-03,2520,2540,2510,2530,1200\n");
    WriteBytes(folders.From / "7203.csv", Header + "2026-12-04,2530,2560,2525,2550,900\n"
                                                   "2026-12-03,2520,2545,2505,2535,1300\n");
    const TProgramRun merged = folders.Import();
    EXPECT_EQ(merged.Status, 0) << merged.Out << merged.Err;
    EXPECT_EQ(ReadBytes(folders.Data / "prices" / "7203.csv"), Header + "2026-12-01,2500,2520,2490,2510,1000\n"
                                                                        "2026-12-02,2510,2530,2500,2520,1100\n"
                                                                        "2026-12-03,2520,2545,2505,2535,1300\n"
                                                                        "2026-12-04,2530,2560,2525,2550,900\n");
    EXPECT_TRUE(Contains(merged.Out, "新しい日 1、置き換えた日 1")) << merged.Out;
    EXPECT_TRUE(Contains(merged.Out, "4 日分 (2026/12/01 〜 2026/12/04)")) << merged.Out;

    WriteBytes(folders.From / "7203.csv", Header + "2026-12-07,2550,2560,2540,2555,800\n");
    const TProgramRun replaced = folders.Import({"--replace"});
    EXPECT_EQ(replaced.Status, 0) << replaced.Out << replaced.Err;
    EXPECT_EQ(ReadBytes(folders.Data / "prices" / "7203.csv"), Header + "2026-12-07,2550,2560,2540,2555,800\n");

    // A history that cannot be read is not silently overwritten by a merge.
    WriteBytes(folders.Data / "prices" / "7203.csv", "2026-12-07,x\n");
    const TProgramRun damaged = folders.Import();
    EXPECT_EQ(damaged.Status, 1);
    EXPECT_EQ(ReadBytes(folders.Data / "prices" / "7203.csv"), "2026-12-07,x\n");
    EXPECT_TRUE(Contains(damaged.Out, "--replace")) << damaged.Out;
}

TEST(ServiceImport, RefusesOrListsWhatItDoesNotTake)
{
    const TImportFolders folders("refuse");
    WriteBytes(folders.From / "1301.csv", Header + "2026-12-04,100,110,90,105,1000\n");
    WriteBytes(folders.From / "1301.T.csv", Header + "2026-12-04,200,210,190,205,1000\n");
    WriteBytes(folders.From / "1332.CSV", Header + "2026-12-04,100,110,90,105,1000\n");
    WriteBytes(folders.From / "1333.txt", Header + "2026-12-04,100,110,90,105,1000\n");
    WriteBytes(folders.From / "1377.csv", Header + "2026-12-04,100,110,90,105,1000\n2099-01-05,100,110,90,105,1000\n");
    WriteBytes(folders.From / "1605.csv", Header + "2026-12-03,100,110,90,105,1000\n2026-12-04,100,110,0,105,1000\n");
    WriteBytes(folders.From / "130a.T.csv", Header + "2026-12-04,100,110,90,105,1000\n");
    WriteBytes(folders.From / "13OA.csv", Header + "2026-12-04,100,110,90,105,1000\n"); // the letter O
    WriteBytes(folders.From / "\x1b]0;owned\x07.csv", Header);
    WriteBytes(folders.From / "1801.csv", Header + "2026-12-04,500,510,490,505,1000\n");

    const TProgramRun run = folders.Import();
    EXPECT_EQ(run.Status, 1);
    struct Row
    {
        const char* name;
        std::string said;
    };
    const Row rows[] = {
        {"two files of one stock, both named",
         (folders.From / "1301.T.csv").string() + ", " + (folders.From / "1301.csv").string() + ": どれも銘柄 1301"},
        {"upper-case extension ignored", (folders.From / "1332.CSV").string() + ": 株価ファイルの名前"},
        {"other extension ignored", (folders.From / "1333.txt").string() + ": 株価ファイルの名前"},
        {"a letter O where a code has none", (folders.From / "13OA.csv").string() + ": 株価ファイルの名前"},
        {"a day after today, with its line", (folders.From / "1377.csv").string() + ": 3 行目: 2099/01/05 は今日"},
        {"a low of 0, with its line", (folders.From / "1605.csv").string() + ": 3 行目: 安値と高値"},
        {"a letter code, read in upper case",
         (folders.From / "130a.T.csv").string() + ": 銘柄マスターに 130A がありません"},
        {"control characters of a name escaped", "\\x1b]0;owned\\x07.csv: 株価ファイルの名前"},
        {"the good file imported", "1801: 1 日分 (2026/12/04 〜 2026/12/04) を取り込みました"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(Contains(run.Out, row.said)) << run.Out;
    }
    EXPECT_FALSE(Contains(run.Out, "\x1b")) << "an escape character reached the terminal";
    for (const char* code : {"1301", "1332", "1333", "1377", "1605", "130A"})
        EXPECT_FALSE(std::filesystem::exists(folders.Data / "prices" / (std::string(code) + ".csv"))) << code;
    EXPECT_TRUE(std::filesystem::exists(folders.Data / "prices" / "1801.csv"));
}

TEST(ImportCodeOfFile, ReadsTheCodesOfBothForms)
{
    struct Row
    {
        const char* name;
        std::optional<std::string> code;
    };
    const Row rows[] = {
        {"7203.csv", "7203"},   {"7203.T.csv", "7203"}, {"25935.csv", "25935"}, {"130A.csv", "130A"},
        {"130a.t.csv", "130A"}, {"9A7A.csv", "9A7A"},   {"13OA.csv", {}},       {"1E00.csv", {}},
        {"130.csv", {}},        {"1332.CSV", {}},       {"7203.TYO.csv", {}},   {".csv", {}},
        {"notes.csv", {}},      {"7203.csv.txt", {}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ImportCodeOfFile(row.name), row.code);
    }
}

// A bad argument exited 2, the status that now means the source stopped the command.
TEST(ServiceProgram, ExitsWithTheStatusOfWhatHappened)
{
    const std::filesystem::path empty = FreshFolder("program_empty");
    const int port = FreeLoopbackPort();
    struct Row
    {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string said; // on stderr
    };
    const Row rows[] = {
        {"an unknown argument", {"--frobnicate"}, 64, "\"--frobnicate\" は知らない引数です"},
        {"an escape sequence in an argument, escaped", {"--\x1b[2J"}, 64, "\"--\\x1b[2J\" は知らない引数です"},
        {"a right-to-left override in an argument, escaped",
         {"--\xe2\x80\xae"
          "tropmi"},
         64,
         "\"--\\xe2\\x80\\xaetropmi\" は知らない引数です"},
        {"a port without its value", {"--port"}, 64, "--port の後に値がありません"},
        {"a port past the last", {"--port", "65536"}, 64, "0〜65535"},
        {"a latency over a minute", {"--latency", "60001"}, 64, "0〜60000"},
        {"--replace without --import", {"--replace"}, 64, "--replace は --import"},
        {"two modes at once", {"--check", "--make-list"}, 64, "一度に一つだけ"},
        {"nothing answers the check", {"--check", "--port", std::to_string(port)}, 1, ""},
        {"a data folder without a master", {"--data", empty.string(), "--port", std::to_string(port)}, 1, "stocks.csv"},
        {"an import from a folder that is not there",
         {"--data", empty.string(), "--import", (empty / "none").string()},
         1,
         ""},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const TProgramRun run = RunServiceProgram(row.args);
        EXPECT_EQ(run.Status, row.status) << run.Err;
        EXPECT_TRUE(Contains(run.Err, row.said)) << run.Err;
        EXPECT_FALSE(Contains(run.Err, "\x1b")) << "an escape character reached the terminal";
        EXPECT_FALSE(Contains(run.Err, "\xe2\x80\xae")) << "a bidirectional control reached the terminal";
        if (row.status == 64)
        {
            EXPECT_TRUE(Contains(run.Err, "使い方")) << "the usage follows a bad command line";
        }
    }
    EXPECT_EQ(RunServiceProgram({"--help"}).Status, 0);
}

TEST(ServiceProgram, StopsOnASignalWithItsStatus)
{
    struct Row
    {
        int signal;
        int status;
    };
    for (const Row row : {Row{SIGINT, 130}, Row{SIGTERM, 143}})
    {
        SCOPED_TRACE(row.status);
        const std::filesystem::path folder = FreshFolder("signal");
        const int port = FreeLoopbackPort();
        TServiceProcess service({"--port", std::to_string(port), "--data", SampleDataFolder().string()}, folder);
        for (int i = 0; i < 500 && !ServiceAnswers(port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(ServiceAnswers(port)) << service.Err();
        ::kill(service.Pid, row.signal);
        EXPECT_EQ(service.Wait(), row.status);
        EXPECT_TRUE(Contains(service.Err(), "停止しました")) << service.Err();
    }
}

// The delay of --latency had no test: dropping it passed the suite.
TEST(ServiceProgram, DelaysEveryAnswerByTheLatencyAsked)
{
    const std::filesystem::path folder = FreshFolder("latency");
    const int port = FreeLoopbackPort();
    TServiceProcess service(
        {"--port", std::to_string(port), "--data", SampleDataFolder().string(), "--latency", "1500"}, folder);
    for (int i = 0; i < 1000 && !ServiceAnswers(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(ServiceAnswers(port)) << service.Err();
    httplib::Client client(ServiceHost, port);
    client.set_read_timeout(30, 0);
    const auto start = std::chrono::steady_clock::now();
    const httplib::Result answer = client.Get(std::string(QuoteRoute) + "?qt=7203.t&sv=MN&pg=mn_schart.html");
    const auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_GE(waited, std::chrono::milliseconds(1500)) << "answered before the latency had passed";
}

// A day's change and its rate, worked by hand, as the program reads them off the quote page.
TEST(ServiceImport, ADaysChangeReadsBackAsWorkedByHand)
{
    const TImportFolders folders("change");
    struct Row
    {
        const char* name;
        const char* code;
        std::string days;
        std::int64_t change;         // yen
        std::int64_t rateHundredths; // percent times 100
    };
    const Row rows[] = {
        {"a rise: 50 / 2540 = 1.9685 %", "7203",
         "2026-12-03,2500,2550,2480,2540,1200\n2026-12-04,2540,2600,2530,2590,900\n", 50, 197},
        {"a fall of exactly 1.5 %", "6758", "2026-12-03,1600,1600,1600,1600,10\n2026-12-04,1576,1576,1576,1576,10\n",
         -24, -150},
        {"0.125 % rounds up", "9984", "2026-12-03,800,800,800,800,10\n2026-12-04,801,801,801,801,10\n", 1, 13},
        {"-0.125 % rounds away from zero", "8306", "2026-12-03,800,800,800,800,10\n2026-12-04,799,799,799,799,10\n", -1,
         -13},
        {"a day without trades is passed over", "4385",
         "2026-12-02,1000,1000,1000,1000,10\n2026-12-03,0,0,0,0,0\n2026-12-04,1010,1010,1010,1010,10\n", 10, 100},
        {"the first day has no change", "9843", "2026-12-04,500,500,500,500,10\n", 0, 0},
    };
    for (const Row& row : rows)
        WriteBytes(folders.From / (std::string(row.code) + ".csv"), Header + row.days);
    ASSERT_EQ(folders.Import().Status, 0);

    std::vector<std::string> warnings;
    const TMarket market = TMarket::Load(folders.Data, warnings);
    TRunningService running(market, [] { return TDate{2026, 12, 4}; });
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        httplib::Client client(ServiceHost, running.Port);
        const httplib::Result page =
            client.Get(std::string(QuoteRoute) + "?qt=" + std::string(row.code) + ".t&sv=MN&pg=mn_schart.html");
        ASSERT_TRUE(page);
        const std::optional<TKabuQuote> quote = ParseQuotePage(page->body, std::string(row.code) + ".t", {});
        ASSERT_TRUE(quote.has_value());
        EXPECT_EQ(quote->Zenjitsuhi, row.change * FixedPointOne);
        EXPECT_EQ(quote->ZenjitsuhiRate, row.rateHundredths * (FixedPointOne / 100));
    }
}

// An import stopped by a signal ends between files with the signal's status, every file it
// wrote whole. The master of the folder is a pipe here, so the signal comes while it is read.
TEST(ServiceImport, StopsBetweenFilesOnASignal)
{
    const TImportFolders folders("import_signal");
    WriteBytes(folders.From / "1301.csv", Header + "2026-12-04,100,110,90,105,1000\n");
    ASSERT_EQ(::mkfifo((folders.From / "stocks.csv").c_str(), 0600), 0);
    const std::filesystem::path output = FreshFolder("import_signal_output");
    TServiceProcess import({"--data", folders.Data.string(), "--import", folders.From.string()}, output);
    int writer = -1;
    for (int i = 0; i < 1000 && writer < 0; ++i)
    { // opens once the import reads the pipe
        writer = ::open((folders.From / "stocks.csv").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(writer, 0) << import.Err();
    ::kill(import.Pid, SIGINT);
    ::close(writer);
    EXPECT_EQ(import.Wait(), 130) << import.Out() << import.Err();
    EXPECT_TRUE(Contains(import.Out(), "中断しました")) << import.Out();
    EXPECT_FALSE(std::filesystem::exists(folders.Data / "prices" / "1301.csv"));
    EXPECT_TRUE(std::filesystem::exists(folders.Data / "KabuList.dat")) << "the list still matches the master";
}
