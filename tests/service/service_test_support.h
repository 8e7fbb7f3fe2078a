#pragma once

#include "loopback_port.h"

#include "http/finance_service.h"
#include "market/market.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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


//! The exit status of a child as a shell gives it: 128 + the signal that ended it.
inline int ExitStatusOf(int waitStatus)
{
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

//! orvanta-service started with `args` (and `env` entries "NAME=value" added), its output
//! going to files of `folder`. Killed when it goes, if it still runs.
class TServiceProcess
{
public:
    TServiceProcess(const std::vector<std::string>& args, const std::filesystem::path& folder,
                    const std::vector<std::string>& env = {})
        : OutFile(folder / "stdout.txt")
        , ErrFile(folder / "stderr.txt")
    {
        // Everything is made before fork(): the child of a threaded process only opens and execs.
        std::vector<char*> argv{const_cast<char*>(ORVANTA_SERVICE_BINARY)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view name = std::string_view(*entry).substr(0, std::string_view(*entry).find('='));
            const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& added) {
                return added.rfind(std::string(name) + "=", 0) == 0;
            });
            if (!replaced)
                envp.push_back(*entry);
        }
        for (const std::string& entry : env)
            envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
        Pid = ::fork();
        if (Pid == 0) {
            const int out = ::open(OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            const int err = ::open(ErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
    }
    ~TServiceProcess()
    {
        if (Status < 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
    }
    TServiceProcess(const TServiceProcess&) = delete;
    TServiceProcess& operator=(const TServiceProcess&) = delete;

    //! The exit status once it ends, or -1 after `seconds` (and then it is killed).
    int Wait(int seconds = 60)
    {
        for (int i = 0; i < seconds * 100 && Status < 0; ++i) {
            int waitStatus = 0;
            if (::waitpid(Pid, &waitStatus, WNOHANG) == Pid)
                Status = ExitStatusOf(waitStatus);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return Status;
    }

    //! Its peak resident memory in KiB, from /proc; 0 when gone.
    long PeakMemoryKb() const
    {
        std::ifstream status("/proc/" + std::to_string(Pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmHWM:", 0) == 0)
                return std::stol(line.substr(6));
        return 0;
    }

    std::string Out() const { return ReadBytes(OutFile); }
    std::string Err() const { return ReadBytes(ErrFile); }

    pid_t Pid = -1;
    int Status = -1;

private:
    std::filesystem::path OutFile;
    std::filesystem::path ErrFile;
};

//! orvanta-service run to its end: exit status, stdout and stderr.
struct TProgramRun
{
    int Status = -1;
    std::string Out;
    std::string Err;
};
inline TProgramRun RunServiceProgram(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
{
    const std::filesystem::path folder = FreshFolder("program_run");
    TServiceProcess process(args, folder, env);
    const int status = process.Wait();
    return {status, process.Out(), process.Err()};
}
