#pragma once

#include "finance_service.h"
#include "market.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

inline std::filesystem::path SampleDataFolder()
{
    return ORVANTA_SAMPLE_DATA;
}

inline const TMarket& SampleMarket()
{
    static const TMarket market = [] {
        std::vector<std::string> warnings;
        TMarket loaded = TMarket::Load(SampleDataFolder(), warnings);
        EXPECT_TRUE(warnings.empty());
        return loaded;
    }();
    return market;
}

inline std::string ReadBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& file, const std::string& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

//! An empty folder of its own for one test, under the test build folder.
inline std::filesystem::path FreshFolder(const std::string& name)
{
    const char* base = std::getenv("ORVANTA_TEST_TMP");
    const std::filesystem::path folder = std::filesystem::path(base ? base : "/tmp")
                                         / (name + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

//! The service on a free port of 127.0.0.1, serving from its own thread until destroyed.
class TRunningService
{
public:
    explicit TRunningService(const TMarket& market, std::function<TDate()> today = LocalToday)
        : Service(market, std::move(today), [this](const std::string& line) {
            const std::lock_guard<std::mutex> lock(LogMutex);
            LogLines.push_back(line);
        })
    {
        Port = Service.BindAnyPort();
        Thread = std::thread([this] { Service.Serve(); });
        // Stop() only reaches a server that runs; wait for it, boundedly.
        for (int i = 0; i < 500 && !Service.IsRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    ~TRunningService()
    {
        Service.Stop();
        Thread.join();
    }

    std::vector<std::string> Log()
    {
        const std::lock_guard<std::mutex> lock(LogMutex);
        return LogLines;
    }

    TFinanceService Service;
    int Port = -1;

private:
    std::thread Thread;
    std::mutex LogMutex;
    std::vector<std::string> LogLines;
};
