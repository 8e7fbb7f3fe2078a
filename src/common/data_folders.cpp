#include "common/data_folders.h"

#include <cstdlib>
#include <pwd.h>
#include <system_error>
#include <unistd.h>
#include <vector>

std::filesystem::path XdgFolder(const char* xdgBase, const char* home, const std::filesystem::path& homeDefault)
{
    if (xdgBase != nullptr && std::filesystem::path(xdgBase).is_absolute())
        return std::filesystem::path(xdgBase) / "orvanta";
    if (home != nullptr && std::filesystem::path(home).is_absolute())
        return std::filesystem::path(home) / homeDefault / "orvanta";
    return {};
}

std::filesystem::path PerUserFolder(const char* xdgDataHome, const char* home)
{
    return XdgFolder(xdgDataHome, home, std::filesystem::path(".local") / "share");
}

std::filesystem::path PerUserFolder()
{
    const std::string home = HomeFolder();
    return PerUserFolder(std::getenv("XDG_DATA_HOME"), home.c_str());
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return {};
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
