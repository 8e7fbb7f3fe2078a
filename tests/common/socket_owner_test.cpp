#include "common/socket_owner.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {

// Lines as a little-endian machine's kernel writes them; port 18650 is 48DA.
constexpr const char* Heading =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

std::string Tcp(const char* local, const char* state, const char* uid)
{
    return std::string("   3: ") + local + " 00000000:0000 " + state + " 00000000:00000000 00:00000000 00000000  " +
           uid + "        0 81241 1 0000000000000000 100 0 0 10 0\n";
}

TEST(LoopbackListenerOwners, TakesOnlyListenersThatAConnectionTo127001Reaches)
{
    struct Row
    {
        const char* name;
        std::string table;
        std::vector<unsigned> owners;
    };
    const Row rows[] = {
        {"127.0.0.1", Tcp("0100007F:48DA", "0A", "1000"), {1000}},
        {"0.0.0.0", Tcp("00000000:48DA", "0A", "0"), {0}},
        {"lower-case hex", Tcp("0100007f:48da", "0A", "7"), {7}},
        {"::", Tcp("00000000000000000000000000000000:48DA", "0A", "1001"), {1001}},
        {"::ffff:127.0.0.1", Tcp("0000000000000000FFFF00000100007F:48DA", "0A", "1002"), {1002}},
        {"::ffff:0.0.0.0", Tcp("0000000000000000FFFF000000000000:48DA", "0A", "1003"), {1003}},
        {"::1 is not reached from 127.0.0.1", Tcp("00000000000000000000000001000000:48DA", "0A", "5"), {}},
        {"another loopback address", Tcp("0200007F:48DA", "0A", "5"), {}},
        {"another interface", Tcp("0F02000A:48DA", "0A", "5"), {}},
        {"another port", Tcp("0100007F:48DB", "0A", "5"), {}},
        {"a connection, not a listener", Tcp("0100007F:48DA", "01", "5"), {}},
        {"TIME_WAIT", Tcp("0100007F:48DA", "06", "0"), {}},
        {"two listeners", Tcp("0100007F:48DA", "0A", "1000") + Tcp("00000000:48DA", "0A", "1001"), {1000, 1001}},
        {"the heading alone", Heading, {}},
        {"a uid past 32 bits", Tcp("0100007F:48DA", "0A", "4294967296"), {}},
        {"a uid that is not a number", Tcp("0100007F:48DA", "0A", "10x"), {}},
        {"a port of five digits", Tcp("0100007F:048DA", "0A", "5"), {}},
        {"an address of odd length", Tcp("100007F:48DA", "0A", "5"), {}},
        {"no colon in the address", Tcp("0100007F48DA", "0A", "5"), {}},
        {"a cut line", "   3: 0100007F:48DA 00000000:0000 0A", {}},
        {"no slot", Tcp("0100007F:48DA", "0A", "5").substr(6), {}},
        {"empty", "", {}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(LoopbackListenerOwners(Heading + row.table, 18650), row.owners);
    }
}

//! A socket listening on 127.0.0.1 at a free port; the port, or 0.
int Listen(int& fd)
{
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

TEST(LoopbackPortOwner, TheKernelNamesThisProcesssUserAndNobodyForAClosedPort)
{
    int fd = -1;
    const int port = Listen(fd);
    ASSERT_NE(port, 0);
    EXPECT_EQ(LoopbackPortOwner(port), ::geteuid());
    ::close(fd);
    EXPECT_EQ(LoopbackPortOwner(port), std::nullopt) << "nothing listens there any more";
}

} // namespace
