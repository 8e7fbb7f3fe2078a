// The kernel's socket tables read on any bytes.
#include "common/socket_owner.h"
#include "common/service_contract.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view table(reinterpret_cast<const char*>(data), size);
    LoopbackListenerOwners(table, DefaultServicePort);
    LoopbackListenerOwners(table, 0);
    return 0;
}
