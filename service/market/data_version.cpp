#include "market/data_version.h"

#include "market/raw_days.h"

#include "common/temp_file.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

// A token must be something a reader can compare and a JSON answer can carry as it is.
constexpr std::size_t MaxTokenBytes = 64;

bool TokenByte(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.';
}

std::string NewToken()
{
    // Time, process and a counter: two bumps in the same nanosecond still differ.
    static std::atomic<unsigned> counter{0};
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    char token[64];
    std::snprintf(token, sizeof token, "%llx-%x-%x", static_cast<unsigned long long>(nanos),
                  static_cast<unsigned>(::getpid()), counter.fetch_add(1) + 1U);
    return token;
}

} // namespace

void BumpDataVersion(const std::filesystem::path& dataFolder)
{
    WriteFileReplacing(dataFolder / DataVersionFileName, NewToken() + '\n');
}

std::string ReadDataVersion(const std::filesystem::path& dataFolder)
{
    std::FILE* in = std::fopen((dataFolder / DataVersionFileName).c_str(), "rb");
    if (!in)
        return "0";
    char buffer[MaxTokenBytes + 1];
    const std::size_t length = std::fread(buffer, 1, sizeof buffer, in);
    std::fclose(in);
    std::string token;
    for (std::size_t i = 0; i < length && TokenByte(buffer[i]); ++i)
        token += buffer[i];
    // Anything but a token and its line end (foreign bytes, an overlong line) is no token.
    const bool whole = token.size() == length || buffer[token.size()] == '\n' || buffer[token.size()] == '\r';
    if (token.empty() || token.size() > MaxTokenBytes || !whole)
        return "0";
    return token;
}

bool IsRealDataFolder(const std::filesystem::path& dataFolder)
{
    std::error_code error;
    return std::filesystem::is_regular_file(dataFolder / RealDataFileName, error);
}
