#pragma once

#include "service_test_support.h"

#include "common/service_contract.h"

#include <csignal>
#include <fcntl.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// orvanta-service --fetch run as a user runs it: a child process with its own environment, its
// stderr and the --progress-fd lines kept in files of the test's folder.

struct TFetchResult
{
    int Exit = -1;
    std::string Stderr;
    std::string Stdout;
    std::vector<std::string> Progress;
    long MaxRssKb = 0; // the process's peak resident memory
};

class TFetchProcess
{
public:
    //! Starts `program` (the service, or the fetch on a fast clock) with `args`; `key` empty
    //! leaves ApiKeyVariable unset. Its stderr goes to `stderrFd` when one is given (a terminal).
    TFetchProcess(const std::filesystem::path& folder, const std::vector<std::string>& args, const std::string& key,
                  const std::vector<std::string>& extraEnvironment = {}, const char* program = ORVANTA_SERVICE_BINARY,
                  int stderrFd = -1)
        : ErrFile(folder / "fetch.stderr"), OutFile(folder / "fetch.stdout"), ProgressFile(folder / "fetch.progress")
    {
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back("--progress-fd");
        argv.push_back("3");
        std::vector<std::string> environment = {"HOME=" + folder.string(),
                                                "XDG_CONFIG_HOME=" + (folder / "config").string(),
                                                "XDG_DATA_HOME=" + (folder / "share").string(), "PATH=/usr/bin:/bin"};
        if (!key.empty())
            environment.push_back(std::string(ApiKeyVariable) + "=" + key);
        environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
        std::vector<char*> argvPointers, environmentPointers;
        for (std::string& arg : argv)
            argvPointers.push_back(arg.data());
        argvPointers.push_back(nullptr);
        for (std::string& variable : environment)
            environmentPointers.push_back(variable.data());
        environmentPointers.push_back(nullptr);
        const int out = ::open(OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = stderrFd >= 0 ? ::fcntl(stderrFd, F_DUPFD_CLOEXEC, 0)
                                      : ::open(ErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int progress = ::open(ProgressFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        Pid = ::fork();
        if (Pid == 0) { // only async-signal-safe calls until exec
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::dup2(progress, 3);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::execve(argvPointers[0], argvPointers.data(), environmentPointers.data());
            ::_exit(127);
        }
        ::close(out);
        ::close(err);
        ::close(progress);
    }

    ~TFetchProcess()
    {
        if (Pid > 0 && !Reaped) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
    }

    void Signal(int signal) { ::kill(Pid, signal); }

    //! Waits for the end (at most `limit`), killing a process that overstays.
    TFetchResult Wait(std::chrono::seconds limit = std::chrono::seconds(40))
    {
        TFetchResult result;
        int status = 0;
        rusage usage{};
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (::wait4(Pid, &status, WNOHANG, &usage) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(Pid, SIGKILL);
                ::waitpid(Pid, &status, 0);
                ADD_FAILURE() << "the fetch did not end in time";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Reaped = true;
        result.MaxRssKb = usage.ru_maxrss;
        result.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.Stderr = ReadBytes(ErrFile);
        result.Stdout = ReadBytes(OutFile);
        std::istringstream lines(ReadBytes(ProgressFile));
        for (std::string line; std::getline(lines, line);)
            result.Progress.push_back(line);
        return result;
    }

private:
    std::filesystem::path ErrFile;
    std::filesystem::path OutFile;
    std::filesystem::path ProgressFile;
    pid_t Pid = -1;
    bool Reaped = false;
};

inline TFetchResult RunFetch(const std::filesystem::path& folder, const std::vector<std::string>& args,
                             const std::string& key, const std::vector<std::string>& extraEnvironment = {})
{
    return TFetchProcess(folder, args, key, extraEnvironment).Wait();
}

//! The fetch with the source's minute passing in 60 s / `clockFactor` (ORVANTA_FAST_CLOCK_FETCH).
inline TFetchResult RunFastFetch(const std::filesystem::path& folder, std::vector<std::string> args,
                                 const std::string& key, int clockFactor = 300)
{
    args.insert(args.begin(), {"--clock-factor", std::to_string(clockFactor)});
    return TFetchProcess(folder, args, key, {}, ORVANTA_FAST_CLOCK_FETCH).Wait();
}
