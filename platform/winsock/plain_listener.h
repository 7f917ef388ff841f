// Plain listening sockets for libraries that run their own threads and loop (the web face's HTTP server):
// unlike the Winsock-shaped sockets, these are blocking descriptors that no window is told about.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace winsock {

// Opens a listening TCP socket on the dotted IPv4 address and port; the descriptor, or -1 with the reason in
// *error ("cannot listen on ADDRESS:PORT: ...").
int OpenPlainListener(const std::string& address, std::uint16_t port, std::string* error);
void ClosePlainSocket(int descriptor);
// The port a socket is bound to: the system's choice when it was opened on port 0; 0 when unknown.
std::uint16_t LocalPort(int descriptor);
// The IPv4 address of a peer in network byte order, as the socket layer keeps addresses; false for a peer
// that is not IPv4. peer points to the system's socket address of the given length.
bool PeerIPv4Address(const void* peer, std::size_t length, std::int32_t* address);

// Ends both directions of a connection that another thread owns: its reads see the end at once, and the
// owner closes the descriptor as usual.
void ShutdownPlainSocket(int descriptor);
// Fixes the kernel's send buffer of a connection at about `bytes` (no automatic growth), so that what a
// slow peer has not taken yet stays small; false when the system refused.
bool LimitSendBuffer(int descriptor, int bytes);
// How much of what was sent a connection's peer has not taken: *queued bytes not yet sent or not yet
// acknowledged, and *peer_room the room its receive buffer last advertised (it shrinks while the peer's
// program leaves bytes unread). False when the system does not tell.
bool PeerBacklog(int descriptor, std::uint32_t* queued, std::uint32_t* peer_room);
// This machine's host name; empty when the system does not tell.
std::string MachineHostName();

}  // namespace winsock
