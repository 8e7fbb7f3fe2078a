#include "market/data_version.h"

#include "market/raw_days.h"

#include "common/temp_file.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <sys/stat.h>
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
    const auto nanos =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
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

namespace {

//! What changes with every commit to <folder>/market.db, by any program: the database's and its
//! journal's size and modification time (a commit appends to the journal, a checkpoint rewrites
//! the database). Empty without a database.
std::string DatabaseStamp(const std::filesystem::path& dataFolder)
{
    std::uint64_t hash = 0xcbf29ce484222325u; // FNV-1a over the figures
    bool any = false;
    for (const char* name : {"market.db", "market.db-wal"})
    {
        struct stat info
        {};
        if (::stat((dataFolder / name).c_str(), &info) != 0)
            continue;
        any = true;
        for (const std::uint64_t figure :
             {static_cast<std::uint64_t>(info.st_size), static_cast<std::uint64_t>(info.st_mtim.tv_sec),
              static_cast<std::uint64_t>(info.st_mtim.tv_nsec), static_cast<std::uint64_t>(info.st_ino)})
            for (int shift = 0; shift < 64; shift += 8)
                hash = (hash ^ ((figure >> shift) & 0xff)) * 0x100000001b3u;
    }
    if (!any)
        return {};
    char stamp[24];
    std::snprintf(stamp, sizeof stamp, ".%016llx", static_cast<unsigned long long>(hash));
    return stamp;
}

std::string FileToken(const std::filesystem::path& dataFolder)
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

} // namespace

std::string ReadDataVersion(const std::filesystem::path& dataFolder)
{
    return FileToken(dataFolder) + DatabaseStamp(dataFolder);
}

bool IsRealDataFolder(const std::filesystem::path& dataFolder)
{
    std::error_code error;
    return std::filesystem::is_regular_file(dataFolder / RealDataFileName, error);
}
