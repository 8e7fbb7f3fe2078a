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
    ConnectionPeerOwner(table, {"127.0.0.1", 40000}, {"127.0.0.1", DefaultServicePort});
    ConnectionPeerOwner(table, {"::1", 40000}, {"::ffff:127.0.0.1", DefaultServicePort});
    return 0;
}
