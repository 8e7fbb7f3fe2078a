// The proxy rule's reading of an address on any bytes: libcurl's URL parser, then the host
// checks.
#include "data/web_page.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    IsLoopbackUrl(text);
    IsLoopbackUrl("http://" + text + "/MnStock");
    return 0;
}
