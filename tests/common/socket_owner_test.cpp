#include "common/socket_owner.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <thread>

namespace {

// Lines as a little-endian machine's kernel writes them; port 18650 is 48DA.
constexpr const char* Heading =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

std::string Tcp(const char* local, const char* state, const char* uid, const char* remote = "00000000:0000")
{
    return std::string("   3: ") + local + ' ' + remote + ' ' + state + " 00000000:00000000 00:00000000 00000000  " +
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

// Our connection from 127.0.0.1:40000 (9C40) to 127.0.0.1:18650 (48DA): the socket at its far
// end is the one whose own end is the service's and whose peer is ours.
TEST(ConnectionPeerOwner, IsTheOwnerOfTheSocketThatAcceptedOurConnection)
{
    const TSocketEnd ours{"127.0.0.1", 40000};
    const TSocketEnd service{"127.0.0.1", 18650};
    const std::string ourSide = Tcp("0100007F:9C40", "01", "0", "0100007F:48DA");
    struct Row
    {
        const char* name;
        std::string table;
        std::optional<unsigned> owner;
    };
    const Row rows[] = {
        {"the accepted socket", ourSide + Tcp("0100007F:48DA", "01", "1000", "0100007F:9C40"), 1000},
        {"accepted by a dual-stack listener",
         Tcp("0000000000000000FFFF00000100007F:48DA", "01", "1001", "0000000000000000FFFF00000100007F:9C40"), 1001},
        {"not yet accepted", Tcp("0100007F:48DA", "03", "1002", "0100007F:9C40"), 1002},
        {"our own side alone", ourSide, std::nullopt},
        {"the listener, not the connection", Tcp("0100007F:48DA", "0A", "1003"), std::nullopt},
        {"another user listening IPv6-only on the port",
         Tcp("00000000000000000000000000000000:48DA", "0A", "1004") +
             Tcp("0100007F:48DA", "01", "1000", "0100007F:9C40"),
         1000},
        {"another client's connection", Tcp("0100007F:48DA", "01", "1005", "0100007F:9C41"), std::nullopt},
        {"TIME_WAIT", Tcp("0100007F:48DA", "06", "0", "0100007F:9C40"), std::nullopt},
        {"another address", Tcp("0200007F:48DA", "01", "1006", "0100007F:9C40"), std::nullopt},
        {"a cut line", "   3: 0100007F:48DA 0100007F:9C40 01", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ConnectionPeerOwner(Heading + row.table, ours, service), row.owner);
    }
    EXPECT_EQ(ConnectionPeerOwner(Heading + Tcp("00000000000000000000000001000000:48DA", "01", "7",
                                                "00000000000000000000000001000000:9C40"),
                                  {"::1", 40000}, {"::1", 18650}),
              7u)
        << "::1";
    EXPECT_EQ(ConnectionPeerOwner(Heading + ourSide, ours, ours), std::nullopt) << "no address reads as a socket";
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

//! A connection from this process to `port` on 127.0.0.1; the descriptor and our end.
int Connect(int port, TSocketEnd& ours)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return fd;
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ours = {"127.0.0.1", ntohs(address.sin_port)};
    return fd;
}

TEST(PeerSocketOwner, TheKernelNamesWhoAcceptedOurConnection)
{
    constexpr unsigned Nobody = 65534;
    int listener = -1;
    const int port = Listen(listener);
    ASSERT_NE(port, 0);
    TSocketEnd ours;
    const int fd = Connect(port, ours);
    ASSERT_NE(ours.Port, 0);
    EXPECT_EQ(PeerSocketOwner(ours, {"127.0.0.1", port}), ::geteuid()) << "waiting to be accepted: the listener's";
    EXPECT_EQ(PeerSocketOwner(ours, ours), std::nullopt);
    ::close(fd);
    ::close(listener);

    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to accept as another user";
    // The accepting thread's file-system uid owns what it accepts.
    int listener2 = -1;
    const int port2 = Listen(listener2);
    ASSERT_NE(port2, 0);
    const int client = Connect(port2, ours);
    int accepted = -1;
    std::thread([&] {
        ::setfsuid(Nobody);
        accepted = ::accept(listener2, nullptr, nullptr);
    }).join();
    ASSERT_GE(accepted, 0);
    EXPECT_EQ(PeerSocketOwner(ours, {"127.0.0.1", port2}), Nobody);
    ::close(accepted);
    ::close(client);
    ::close(listener2);
}

} // namespace
