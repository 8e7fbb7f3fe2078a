#include "common/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>

namespace {

[[noreturn]] void ThrowErrno(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// The process's umask as the kernel reports it. umask() itself cannot be read without
// setting it, which would change the mode of files other threads create meanwhile.
mode_t CurrentUmask()
{
    constexpr mode_t Private = 077;
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (status == nullptr)
        return Private;
    mode_t mask = Private;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr)
    {
        unsigned value = 0;
        if (std::sscanf(line, "Umask: %o", &value) == 1)
        {
            mask = static_cast<mode_t>(value & 0777);
            break;
        }
    }
    std::fclose(status);
    return mask;
}

} // namespace

TTempFile::TTempFile(std::filesystem::path target, TFileAccess access) : Target(std::move(target))
{
    // mkostemp creates with O_CREAT | O_EXCL under a name of its own choosing, retrying on
    // one that exists, so neither a planted link nor a crash's leftover gets in the way.
    std::string name = Target.string() + ".part-XXXXXX";
    Fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (Fd < 0)
        ThrowErrno("cannot create a temporary file beside " + Target.string());
    TempPath = name;
    // mkostemp makes the file private; the file it replaces had the user's usual mode. A
    // private file never widens, not even for a moment: a reader who opened it then could
    // read what is written later.
    if (access == TFileAccess::Usual && ::fchmod(Fd, static_cast<mode_t>(0666 & ~CurrentUmask())) != 0)
    {
        const int error = errno;
        ::close(Fd);
        ::unlink(TempPath.c_str());
        errno = error;
        ThrowErrno("cannot set the mode of " + TempPath.string());
    }
}

TTempFile::~TTempFile()
{
    if (Fd >= 0)
        ::close(Fd);
    if (!Committed)
        ::unlink(TempPath.c_str());
}

void TTempFile::Write(std::string_view bytes)
{
    while (!bytes.empty())
    {
        const ssize_t written = ::write(Fd, bytes.data(), bytes.size());
        if (written < 0)
        {
            if (errno == EINTR)
                continue;
            ThrowErrno("cannot write " + TempPath.string());
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void TTempFile::Commit()
{
    const int fd = std::exchange(Fd, -1);
    if (::close(fd) != 0)
        ThrowErrno("cannot write " + TempPath.string());
    if (::rename(TempPath.c_str(), Target.c_str()) != 0)
        ThrowErrno("cannot replace " + Target.string());
    Committed = true;
}

void WriteFileReplacing(const std::filesystem::path& target, std::string_view bytes, TFileAccess access)
{
    TTempFile file(target, access);
    file.Write(bytes);
    file.Commit();
}
