#pragma once

// Shared by the window benchmarks: a temporary market (generated stocks, or a data folder such
// as the sample's) served by the real orvanta-service on 127.0.0.1, and a working folder for
// the program's cache.

#include "app/commands/user_dialogs.h"
#include "loopback_port.h"

#include <QString>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace bench {

inline long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

inline long CurrentRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// orvanta-service on a free port of 127.0.0.1 serving `data`, each answer delayed by
// `latencyMs`, until destroyed.
class TBenchService
{
public:
    TBenchService(const std::filesystem::path& data, int latencyMs)
    {
        Port = FreeLoopbackPort();
        Pid = ::fork();
        if (Pid == 0)
        {
            const std::string port = std::to_string(Port);
            const std::string folder = data.string();
            const std::string latency = std::to_string(latencyMs);
            // Quiet; should /dev/null fail to open, the service's notes only reach the terminal.
            [[maybe_unused]] FILE* quiet = std::freopen("/dev/null", "w", stderr);
            ::execl(ORVANTA_SERVICE_BINARY, "orvanta-service", "--port", port.c_str(), "--data", folder.c_str(),
                    "--latency", latency.c_str(), static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        const std::string check = std::string(ORVANTA_SERVICE_BINARY) + " --check --port " + std::to_string(Port);
        for (int attempt = 0; attempt < 100; ++attempt)
        {
            if (std::system(check.c_str()) == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        Stop();
        throw std::runtime_error("orvanta-service did not start");
    }

    ~TBenchService() { Stop(); }
    TBenchService(const TBenchService&) = delete;
    TBenchService& operator=(const TBenchService&) = delete;

    std::string Address() const { return "http://127.0.0.1:" + std::to_string(Port); }

private:
    void Stop()
    {
        if (Pid <= 0)
            return;
        ::kill(Pid, SIGTERM);
        ::waitpid(Pid, nullptr, 0);
        Pid = -1;
    }

    int Port = 0;
    pid_t Pid = -1;
};

// A market served by orvanta-service without delay until destroyed, with a working folder
// that holds its KabuList.dat and an empty dat/.
class TBenchMarket
{
public:
    //! `count` made-up stocks (codes from 1300 up, every sector in turn) in a fresh folder.
    TBenchMarket(const std::filesystem::path& root, int count) : Root(root), DataFolder(root / "data")
    {
        Prepare();
        std::filesystem::create_directories(DataFolder);
        std::ofstream master(DataFolder / "stocks.csv", std::ios::binary);
        static const char* const sectors[] = {"水産･農林業", "建設業", "食料品", "化学", "機械", "電気機器",
                                              "輸送用機器", "小売業", "銀行業"};
        static const char* const markets[] = {"東証１部", "東証２部", "JASDAQ", "マザーズ"};
        for (int i = 0; i < count; ++i)
            master << (1300 + i) << ",Bench" << i << "," << markets[i % 4] << "," << sectors[i % 9] << "\n";
        master.close();
        Run(std::string(ORVANTA_SERVICE_BINARY) + " --data " + DataFolder.string() + " --make-list >/dev/null");
        Serve();
    }

    //! The market of an existing data folder, such as the bundled sample.
    TBenchMarket(const std::filesystem::path& root, const std::filesystem::path& data) : Root(root), DataFolder(data)
    {
        Prepare();
        Serve();
    }

    ~TBenchMarket()
    {
        Service.reset();
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }

    std::string Address() const { return Service->Address(); }
    //! The data folder served, for more services of the same market.
    const std::filesystem::path& Data() const { return DataFolder; }
    std::filesystem::path Work() const { return Root / "work"; }

private:
    static void Run(const std::string& command)
    {
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("failed: " + command);
    }

    void Prepare()
    {
        std::filesystem::remove_all(Root);
        std::filesystem::create_directories(Root / "work" / "dat");
    }

    void Serve()
    {
        std::filesystem::copy_file(DataFolder / "KabuList.dat", Root / "work" / "KabuList.dat");
        Service = std::make_unique<TBenchService>(DataFolder, 0);
    }

    std::filesystem::path Root;
    std::filesystem::path DataFolder;
    std::unique_ptr<TBenchService> Service;
};

// The message boxes of a benchmark's window: counted and printed on stderr, never waited for.
class TBenchDialogs final : public TUserDialogs
{
public:
    int Messages = 0;
    bool Print = true;

    void ShowMessage(QWidget*, const TMessageBoxRequest& request) override
    {
        ++Messages;
        if (Print)
            std::fprintf(stderr, "message: %s\n", request.Text.toStdString().c_str());
    }
    QString AskForPath(QWidget*, const TFileDialogRequest&) override { return QString(); }
    bool ShiftKeyDown() override { return false; }
    void OpenUrl(const QString&) override {}
};

} // namespace bench
