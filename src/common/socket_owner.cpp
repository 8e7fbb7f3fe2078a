#include "common/socket_owner.h"

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
    return SameHex(address, zero + zero)                         // ::, unless the socket is IPv6-only
           || SameHex(address, mappedPrefix + loopback)          // ::ffff:127.0.0.1
           || SameHex(address, mappedPrefix + any);              // ::ffff:0.0.0.0
}

constexpr std::string_view ListenState = "0A";

} // namespace

std::vector<unsigned> LoopbackListenerOwners(std::string_view table, int port)
{
    std::vector<unsigned> owners;
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
        NextField(line, pos); // remote address
        const std::string_view state = NextField(line, pos);
        NextField(line, pos);
        NextField(line, pos);
        NextField(line, pos);
        const std::optional<unsigned> uid = ReadUid(NextField(line, pos));
        if (slot.empty() || slot.back() != ':' || !uid || !SameHex(state, ListenState))
            continue; // the heading, or a line that does not read
        const std::size_t colon = local.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::optional<std::uint32_t> localPort = ReadHex(local.substr(colon + 1));
        if (!localPort || local.size() - colon - 1 != 4 || static_cast<int>(*localPort) != port)
            continue;
        if (TakesLoopback(local.substr(0, colon)))
            owners.push_back(*uid);
    }
    return owners;
}

std::optional<unsigned> LoopbackPortOwner(int port)
{
    std::vector<unsigned> owners;
    bool read = false;
    for (const char* file : {"/proc/net/tcp", "/proc/net/tcp6"})
    {
        std::ifstream in(file, std::ios::binary);
        if (!in)
            continue; // no IPv6 on this machine
        read = true;
        const std::string table((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::vector<unsigned> found = LoopbackListenerOwners(table, port);
        owners.insert(owners.end(), found.begin(), found.end());
    }
    if (!read || owners.empty())
        return std::nullopt;
    for (const unsigned owner : owners)
        if (owner != owners.front())
            return std::nullopt;
    return owners.front();
}
