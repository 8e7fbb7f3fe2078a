#include "data/cache_file.h"

#include "common/exact_format.h"
#include "data/data_error.h"
#include "data/page_scan.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

std::chrono::year_month_day LocalDate(std::time_t time)
{
    std::tm local{};
    localtime_r(&time, &local);
    return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                       std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                       std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

struct TFileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

std::string DateText(std::chrono::year_month_day date)
{
    return FormatD(static_cast<int>(date.year()), 4, 4) + "/" +
           FormatD(static_cast<unsigned>(date.month()), 2, 2) + "/" +
           FormatD(static_cast<unsigned>(date.day()), 2, 2);
}

std::chrono::year_month_day TodayLocal()
{
    return LocalDate(std::time(nullptr));
}

bool IsCacheFresh(const std::filesystem::path& file)
{
    struct stat status
    {
    };
    if (::stat(file.c_str(), &status) != 0)
        return false;
    return DateText(LocalDate(status.st_mtime)) == DateText(TodayLocal());
}

std::string ReadCacheFile(const std::filesystem::path& file, std::size_t maxBytes)
{
    const std::unique_ptr<std::FILE, TFileCloser> stream(std::fopen(file.c_str(), "rb"));
    if (!stream)
        throw TDataError(file.string() + " を開けません: " + std::strerror(errno));
    std::string bytes(maxBytes, '\0');
    const std::size_t read = std::fread(bytes.data(), 1, maxBytes, stream.get());
    if (std::ferror(stream.get()))
        throw TDataError(file.string() + " を読めません");
    bytes.resize(read);
    return bytes;
}

std::uintmax_t CacheFileSize(const std::filesystem::path& file)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    if (error)
        throw TDataError(file.string() + " を開けません: " + error.message());
    return size;
}

std::string TrimmedKey(std::string_view key)
{
    return std::string(TrimControls(key));
}
