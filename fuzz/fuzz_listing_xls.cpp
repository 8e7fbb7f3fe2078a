// The .xls path of the listed-issues reader on any bytes. The library reads a file by its name,
// so the bytes go to an anonymous memory file first. A file it cannot use is refused with the
// reader's own error; anything else, a crash or runaway memory included, is a fault. The library
// runs in a child process: its own faults there (reported by the sanitizer in the child) are
// refusals here, as they are for a user.
#include "sources/listing_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int fd = ::memfd_create("listing.xls", 0);
    if (fd < 0)
        return 0;
    if (::write(fd, data, size) == static_cast<ssize_t>(size))
    {
        try
        {
            ListingRowsFromXls("/proc/self/fd/" + std::to_string(fd));
        }
        catch (const TListingError&)
        {}
    }
    ::close(fd);
    return 0;
}
