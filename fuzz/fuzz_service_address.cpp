// The service address check on any text (a command line or an environment variable). What it
// accepts must be a clean http://host[:port] that the check accepts again unchanged, since the
// page paths and queries are appended to it as they are.
#include "data/service_address.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto address = CheckServiceAddress(text);
    if (!address)
        return 0;
    const std::string_view authority = std::string_view(*address).substr(7);
    if (address->rfind("http://", 0) != 0 || authority.find_first_of("/?#@ \t\r\n") != std::string_view::npos ||
        CheckServiceAddress(*address) != address)
        std::abort();
    return 0;
}
