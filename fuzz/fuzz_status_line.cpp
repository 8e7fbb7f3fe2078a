// The reading of a response's status line on any bytes, as libcurl hands header lines over.
#include "data/page_transfer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::optional<int> status = HttpStatusOfLine(line);
    if (status && (*status < 0 || *status > 999))
        std::abort(); // three digits at most
    return 0;
}
