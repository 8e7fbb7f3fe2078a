// The service's status answer read on any bytes, and the same bytes as a service address.
#include "app/startup/startup_status.h"
#include "common/service_contract.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    ParseServiceStatus(text);
    LoopbackServicePort(text);
    LoopbackServicePort("http://" + std::string(ServiceHost) + text);
    return 0;
}
