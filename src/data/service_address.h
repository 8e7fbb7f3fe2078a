#pragma once

#include <optional>
#include <string>
#include <string_view>

//! The finance service's address when `text` has the one accepted form http://host[:port]
//! (host a name, an IPv4 address or a bracketed IPv6 address; port 1 to 65535), with the scheme
//! in lower case; else nothing. The page paths and queries are appended to it as they are.
std::optional<std::string> CheckServiceAddress(std::string_view text);
