#include "market/own_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::optional<std::string> ReadOwnFile(const std::filesystem::path& file, std::size_t maxBytes, std::string& problem)
{
    problem.clear();
    // O_NONBLOCK: opening a FIFO returns at once instead of waiting for a writer.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
    {
        if (errno == ELOOP)
            problem = "リンクなので読みません";
        else if (errno != ENOENT)
            problem = std::string("読めません (") + std::strerror(errno) + ")";
        return std::nullopt;
    }
    struct stat info
    {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        problem = "通常のファイルではないので読みません";
    else if (info.st_uid != ::geteuid())
        problem = "ほかのユーザーのファイルなので読みません";
    else if (static_cast<std::uint64_t>(info.st_size) > maxBytes)
        problem = std::to_string(info.st_size) + " バイトあり、大きすぎるので読みません";
    if (!problem.empty())
    {
        ::close(fd);
        return std::nullopt;
    }
    // Only the size seen now is read: a file that grows meanwhile cannot push past the bound.
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size())
    {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
        {
            problem = std::string("読めません (") + std::strerror(errno) + ")";
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}
