#include "common/socket_owner.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

//! The next blank-separated field of `line` from `pos`; empty at the end.
std::string_view NextField(std::string_view line, std::size_t& pos)
{
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    const std::size_t start = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t')
        ++pos;
    return line.substr(start, pos - start);
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

//! A hexadecimal field of at most 8 digits; none when it is not one.
std::optional<std::uint32_t> ReadHex(std::string_view text)
{
    if (text.empty() || text.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text)
    {
        if (!IsHexDigit(c))
            return std::nullopt;
        const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

//! A decimal uid; none when it is not one or does not fit.
std::optional<unsigned> ReadUid(std::string_view text)
{
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text)
    {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xffffffffu)
        return std::nullopt;
    return static_cast<unsigned>(value);
}

// The kernel prints an address as 32-bit words in the machine's own byte order ("%08X" of
// each word as it lies in memory), so 127.0.0.1 reads 0100007F on x86: build the texts to
// compare the same way instead of assuming an order.
std::string WordText(const std::array<unsigned char, 4>& bytes)
{
    std::uint32_t word = 0;
    std::memcpy(&word, bytes.data(), sizeof word);
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, word >>= 4)
        text[static_cast<std::size_t>(i)] = Digits[word & 0xf];
    return text;
}

bool SameHex(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!IsHexDigit(a[i]) || (a[i] | 0x20) != (b[i] | 0x20))
            return false;
    return true;
}

//! Whether a socket bound to `address` (the kernel's hex text) takes connections to 127.0.0.1.
bool TakesLoopback(std::string_view address)
{
    const std::string loopback = WordText({127, 0, 0, 1});
    const std::string any = WordText({0, 0, 0, 0});
    if (address.size() == 8)
        return SameHex(address, loopback) || SameHex(address, any);
    if (address.size() != 32)
        return false;
    const std::string zero = any + any;
    const std::string mappedPrefix = zero + WordText({0, 0, 0xff, 0xff});
    return SameHex(address, zero + zero)                // ::, unless the socket is IPv6-only
           || SameHex(address, mappedPrefix + loopback) // ::ffff:127.0.0.1
           || SameHex(address, mappedPrefix + any);     // ::ffff:0.0.0.0
}

constexpr std::string_view ListenState = "0A";
constexpr std::string_view TimeWaitState = "06";

// One line of the kernel's table, its addresses still in the kernel's hex text.
struct TSocketLine
{
    std::string_view LocalAddress;
    std::uint32_t LocalPort = 0;
    std::string_view RemoteAddress;
    std::uint32_t RemotePort = 0;
    std::string_view State;
    unsigned Uid = 0;
};

//! "ADDRESS:PORT" split, the port exactly four hex digits; false when it does not read.
bool ReadEnd(std::string_view field, std::string_view& address, std::uint32_t& port)
{
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos || field.size() - colon - 1 != 4)
        return false;
    const std::optional<std::uint32_t> value = ReadHex(field.substr(colon + 1));
    if (!value)
        return false;
    address = field.substr(0, colon);
    port = *value;
    return true;
}

//! Calls `take` with each line of `table` that reads; the heading and broken lines are skipped.
template <typename TTake>
void ForEachSocket(std::string_view table, TTake&& take)
{
    std::size_t lineStart = 0;
    while (lineStart < table.size())
    {
        std::size_t lineEnd = table.find('\n', lineStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = table.size();
        const std::string_view line = table.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        // sl local_address rem_address st tx:rx tr:when retrnsmt uid ...
        std::size_t pos = 0;
        const std::string_view slot = NextField(line, pos);
        const std::string_view local = NextField(line, pos);
        const std::string_view remote = NextField(line, pos);
        TSocketLine socket;
        socket.State = NextField(line, pos);
        NextField(line, pos);
        NextField(line, pos);
        NextField(line, pos);
        const std::optional<unsigned> uid = ReadUid(NextField(line, pos));
        if (slot.empty() || slot.back() != ':' || !uid || socket.State.size() != 2 ||
            !ReadEnd(local, socket.LocalAddress, socket.LocalPort) ||
            !ReadEnd(remote, socket.RemoteAddress, socket.RemotePort))
            continue; // the heading, or a line that does not read
        socket.Uid = *uid;
        take(socket);
    }
}

//! The kernel's texts of the address `text` names: an IPv4 address as itself and in its
//! IPv4-mapped IPv6 form, an IPv6 address as itself (and a mapped one as its IPv4 form too).
std::vector<std::string> KernelForms(const std::string& text)
{
    const std::string any = WordText({0, 0, 0, 0});
    const std::string mappedPrefix = any + any + WordText({0, 0, 0xff, 0xff});
    in_addr v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1)
    {
        std::array<unsigned char, 4> bytes{};
        std::memcpy(bytes.data(), &v4, bytes.size());
        return {WordText(bytes), mappedPrefix + WordText(bytes)};
    }
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) != 1)
        return {};
    std::string whole;
    std::array<unsigned char, 4> word{};
    for (std::size_t i = 0; i < 16; i += 4)
    {
        std::memcpy(word.data(), v6.s6_addr + i, word.size());
        whole += WordText(word);
    }
    if (IN6_IS_ADDR_V4MAPPED(&v6))
        return {whole, WordText(word)};
    return {whole};
}

bool IsOneOf(std::string_view address, const std::vector<std::string>& forms)
{
    for (const std::string& form : forms)
        if (SameHex(address, form))
            return true;
    return false;
}

std::string ReadTable(const char* file, bool& read)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {}; // no IPv6 on this machine
    read = true;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

std::vector<unsigned> LoopbackListenerOwners(std::string_view table, int port)
{
    std::vector<unsigned> owners;
    ForEachSocket(table, [&](const TSocketLine& socket) {
        if (SameHex(socket.State, ListenState) && static_cast<int>(socket.LocalPort) == port &&
            TakesLoopback(socket.LocalAddress))
            owners.push_back(socket.Uid);
    });
    return owners;
}

std::optional<unsigned> ConnectionPeerOwner(std::string_view table, const TSocketEnd& local, const TSocketEnd& remote)
{
    const std::vector<std::string> localForms = KernelForms(local.Address);
    const std::vector<std::string> remoteForms = KernelForms(remote.Address);
    std::optional<unsigned> owner;
    ForEachSocket(table, [&](const TSocketLine& socket) {
        if (!owner && !SameHex(socket.State, ListenState) && !SameHex(socket.State, TimeWaitState) &&
            static_cast<int>(socket.LocalPort) == remote.Port && static_cast<int>(socket.RemotePort) == local.Port &&
            IsOneOf(socket.LocalAddress, remoteForms) && IsOneOf(socket.RemoteAddress, localForms))
            owner = socket.Uid;
    });
    return owner;
}

std::optional<unsigned> PeerSocketOwner(const TSocketEnd& local, const TSocketEnd& remote)
{
    // A socket connected to itself is its own peer: nobody else is there.
    if (local.Port == remote.Port && KernelForms(local.Address) == KernelForms(remote.Address))
        return std::nullopt;
    for (const char* file : {"/proc/net/tcp", "/proc/net/tcp6"})
    {
        bool read = false;
        if (const std::optional<unsigned> owner = ConnectionPeerOwner(ReadTable(file, read), local, remote))
            return owner;
    }
    return std::nullopt;
}

std::optional<unsigned> LoopbackPortOwner(int port)
{
    std::vector<unsigned> owners;
    bool read = false;
    for (const char* file : {"/proc/net/tcp", "/proc/net/tcp6"})
    {
        const std::vector<unsigned> found = LoopbackListenerOwners(ReadTable(file, read), port);
        owners.insert(owners.end(), found.begin(), found.end());
    }
    if (!read || owners.empty())
        return std::nullopt;
    for (const unsigned owner : owners)
        if (owner != owners.front())
            return std::nullopt;
    return owners.front();
}
