#pragma once

#include <optional>
#include <string>
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

//! One end of a TCP connection: an IPv4 or IPv6 address as text ("127.0.0.1", "::1") and a port.
struct TSocketEnd
{
    std::string Address;
    int Port = 0;
};

//! The owner (uid) of the socket in `table`, the text of /proc/net/tcp or /proc/net/tcp6, at the
//! far end of our connection from `local` to `remote`: the one whose own end is `remote` and
//! whose peer is `local`. An IPv4 end also matches its IPv4-mapped IPv6 form, as a dual-stack
//! listener's connections are shown. Listeners and TIME_WAIT lines (whose owner the kernel no
//! longer knows) are passed over. None when no line matches.
std::optional<unsigned> ConnectionPeerOwner(std::string_view table, const TSocketEnd& local, const TSocketEnd& remote);

//! The same on this machine's tables: who owns the socket that accepted our connection, which a
//! listener of another user on the same port number (IPv6-only, say) cannot stand in for. None
//! when the tables cannot be read, nothing matches, or both ends are one (a socket connected to
//! itself).
std::optional<unsigned> PeerSocketOwner(const TSocketEnd& local, const TSocketEnd& remote);
