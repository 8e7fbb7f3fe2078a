#include "data/service_address.h"

#include <algorithm>
#include <cctype>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsHostName(std::string_view host)
{
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
    });
}

bool IsIpv6Literal(std::string_view host)
{
    if (host.size() < 4 || host.front() != '[' || host.back() != ']')
        return false;
    const std::string_view inner = host.substr(1, host.size() - 2);
    return inner.find(':') != std::string_view::npos && std::all_of(inner.begin(), inner.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
           });
}

bool IsPort(std::string_view port)
{
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit))
        return false;
    int value = 0;
    for (const char c : port)
        value = value * 10 + (c - '0');
    return value >= 1 && value <= 65535;
}

} // namespace

std::optional<std::string> CheckServiceAddress(std::string_view text)
{
    constexpr std::string_view Scheme = "http://";
    if (text.size() < Scheme.size() ||
        !std::equal(Scheme.begin(), Scheme.end(), text.begin(),
                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
        return std::nullopt;
    const std::string_view authority = text.substr(Scheme.size());
    // The port's colon is the first one, after an IPv6 literal's closing bracket if there is one.
    const std::size_t bracket = authority.rfind(']');
    const std::size_t colon = authority.find(':', bracket == std::string_view::npos ? 0 : bracket);
    const std::string_view host = authority.substr(0, colon);
    if (!IsHostName(host) && !IsIpv6Literal(host))
        return std::nullopt;
    if (colon != std::string_view::npos && !IsPort(authority.substr(colon + 1)))
        return std::nullopt;
    return std::string(Scheme) + std::string(authority);
}
