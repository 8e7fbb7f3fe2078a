#include "common/data_folders.h"

#include <cstdlib>
#include <pwd.h>
#include <system_error>
#include <unistd.h>
#include <vector>

std::filesystem::path PerUserFolder(const char* xdgDataHome, const char* home)
{
    if (xdgDataHome != nullptr && std::filesystem::path(xdgDataHome).is_absolute())
        return std::filesystem::path(xdgDataHome) / "orvanta";
    if (home != nullptr && std::filesystem::path(home).is_absolute())
        return std::filesystem::path(home) / ".local" / "share" / "orvanta";
    return {};
}

std::filesystem::path PerUserFolder()
{
    const char* home = std::getenv("HOME");
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if ((home == nullptr || *home == '\0')
        && getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        home = found->pw_dir;
    return PerUserFolder(std::getenv("XDG_DATA_HOME"), home);
}

std::filesystem::path SampleMarketFolder(const std::filesystem::path& executable)
{
    const std::filesystem::path installed =
        (executable.parent_path() / ORVANTA_SAMPLE_FROM_BIN).lexically_normal();
    std::error_code ignored;
    if (!executable.empty() && std::filesystem::is_regular_file(installed / "stocks.csv", ignored))
        return installed;
    return ORVANTA_SOURCE_SAMPLE;
}

std::filesystem::path ExecutablePath()
{
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}
