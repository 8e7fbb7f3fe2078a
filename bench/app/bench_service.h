#pragma once

// Shared by the window benchmarks: a temporary market (generated stocks, or a data folder such
// as the sample's) served by the real orvanta-service on 127.0.0.1, and a working folder for
// the program's cache.

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

// A market served by orvanta-service until destroyed, with a working folder that holds its
// KabuList.dat and an empty dat/.
class TBenchMarket
{
public:
    //! `count` made-up stocks (codes from 1300 up, every sector in turn) in a fresh folder.
    TBenchMarket(const std::filesystem::path& root, int count) : Root(root)
    {
        Prepare();
        std::filesystem::create_directories(Root / "data");
        std::ofstream master(Root / "data" / "stocks.csv", std::ios::binary);
        static const char* const sectors[] = {"水産･農林業", "建設業", "食料品", "化学", "機械", "電気機器",
                                              "輸送用機器", "小売業", "銀行業"};
        static const char* const markets[] = {"東証１部", "東証２部", "JASDAQ", "マザーズ"};
        for (int i = 0; i < count; ++i)
            master << (1300 + i) << ",Bench" << i << "," << markets[i % 4] << "," << sectors[i % 9] << "\n";
        master.close();
        Run(std::string(ORVANTA_SERVICE_BINARY) + " --data " + (Root / "data").string() + " --make-list >/dev/null");
        Serve(Root / "data");
    }

    //! The market of an existing data folder, such as the bundled sample.
    TBenchMarket(const std::filesystem::path& root, const std::filesystem::path& data) : Root(root)
    {
        Prepare();
        Serve(data);
    }

    ~TBenchMarket()
    {
        ::kill(Pid, SIGTERM);
        ::waitpid(Pid, nullptr, 0);
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }

    std::string Address() const { return "http://127.0.0.1:" + std::to_string(Port); }
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

    void Serve(const std::filesystem::path& data)
    {
        std::filesystem::copy_file(data / "KabuList.dat", Root / "work" / "KabuList.dat");
        Port = FreeLoopbackPort();
        Pid = ::fork();
        if (Pid == 0)
        {
            const std::string port = std::to_string(Port);
            std::freopen("/dev/null", "w", stderr);
            ::execl(ORVANTA_SERVICE_BINARY, "orvanta-service", "--port", port.c_str(), "--data", data.c_str(),
                    static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        const std::string check = std::string(ORVANTA_SERVICE_BINARY) + " --check --port " + std::to_string(Port);
        for (int attempt = 0; attempt < 100; ++attempt)
        {
            if (std::system(check.c_str()) == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        throw std::runtime_error("orvanta-service did not start");
    }

    std::filesystem::path Root;
    int Port = 0;
    pid_t Pid = -1;
};

} // namespace bench
