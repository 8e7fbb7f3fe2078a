#pragma once

#include <optional>
#include <string_view>
#include <vector>

// Who listens on a loopback port, as the kernel tells it in /proc/net/tcp and /proc/net/tcp6.
// A program's own answer about itself can be faked by anyone; the socket's owner cannot.

//! The owners (uids) of the listening sockets in `table`, the text of /proc/net/tcp or
//! /proc/net/tcp6, that take connections made to 127.0.0.1:`port`: bound to 127.0.0.1, to
//! 0.0.0.0, to :: or to their IPv4-mapped IPv6 forms. Lines that do not read are skipped.
std::vector<unsigned> LoopbackListenerOwners(std::string_view table, int port);

//! The uid that owns every socket listening for 127.0.0.1:`port` on this machine; none when
//! nothing listens there, the tables cannot be read, or the listeners belong to different users.
std::optional<unsigned> LoopbackPortOwner(int port);
