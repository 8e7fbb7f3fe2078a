#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>
#include <sys/types.h>
#include <unistd.h>

// What a running process has used so far, from /proc: for benchmarks of the serving process.

//! utime + stime in seconds, from /proc/<pid>/stat (clock ticks, 10 ms on most kernels).
inline double ProcessCpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')'); // the command name may hold spaces
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field && index <= 15; ++index)
    {
        if (index == 14)
            utime = std::stoull(field);
        if (index == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

//! A size field of /proc/<pid>/status in kB ("VmRSS:", "VmHWM:"); 0 when the process is gone.
inline long StatusKb(pid_t pid, std::string_view field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(field))
            return std::stol(line.substr(field.size()));
    return 0;
}

//! A null-ended argv over `args`, for execve; `args` must outlive it.
inline std::vector<char*> ExecArgv(std::vector<std::string>& args)
{
    std::vector<char*> pointers;
    for (std::string& arg : args)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return pointers;
}
