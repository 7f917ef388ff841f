// platform/winsock, the Winsock-shaped socket layer: the calls, constants and error numbers below, the
// engine that watches the sockets from the window thread (winsock_engine.cpp), error texts and name
// resolution. It builds on platform/window for its notifications, and it is the only room that includes the
// POSIX socket headers: the TCP constants the programs set (IPPROTO_TCP, TCP_NODELAY) come from here.
//
// The Winsock 1.1 calls that the programs use, over non-blocking POSIX sockets, with Winsock's error numbers
// and its window-message notifications (WSAAsyncSelect).
//
// Notifications reach the registered window as posted messages: wParam = the socket, lParam = the event in
// the low 16 bits and a Winsock error number in the high 16 bits. They follow Winsock's rules:
// - FD_READ is posted once and re-armed only by recv on that socket; FD_ACCEPT is re-armed by accept;
// - FD_WRITE is posted when a connect completes (or at registration when the socket is already connected)
//   and again only after a send failed with WSAEWOULDBLOCK and room came back;
// - FD_CONNECT is posted once, with the error number in the high word when the connect failed;
// - FD_CLOSE is posted once when the peer closes (error 0) or resets (WSAECONNRESET), even while unread data
//   is waiting, and never after the program's own shutdown(SD_BOTH) or closesocket. A notification that
//   was already queued when the socket was closed still arrives; handles are not reused for a long time,
//   so it names no other socket.
// - A socket handle is never 0 and never INVALID_SOCKET.
// Like Winsock, listen keeps a few pending connections even when asked for none, bind refuses broadcast and
// multicast addresses, and a listening port can be bound again while old connections linger in TIME_WAIT.
//
// Every call belongs to the window thread: the thread that called the first WSAStartup, whose Qt event loop
// watches the sockets. Nothing here waits on the network.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstdint>

#include "platform/window/window.h"

// glibc turns htons into a macro when optimising; the Winsock-shaped function below must keep its name.
#ifdef htons
#undef htons
#endif

namespace winsock {

using SOCKET = std::uint32_t;
using WORD = std::uint16_t;
using u_short = std::uint16_t;
using u_long = std::uint32_t;
using SOCKADDR = ::sockaddr;
using SOCKADDR_IN = ::sockaddr_in;  // the 16-byte record: family, port, address, 8 zero bytes

inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;
inline constexpr u_long INADDR_NONE_VALUE = 0xFFFFFFFFu;  // inet_addr's "not an address"

// Address family, socket type and the TCP option keep the POSIX macros, whose values are Winsock's.
static_assert(AF_INET == 2 && SOCK_STREAM == 1 && IPPROTO_TCP == 6 && TCP_NODELAY == 1);

// Network events of WSAAsyncSelect.
inline constexpr long FD_READ = 1;
inline constexpr long FD_WRITE = 2;
inline constexpr long FD_OOB = 4;
inline constexpr long FD_ACCEPT = 8;
inline constexpr long FD_CONNECT = 16;
inline constexpr long FD_CLOSE = 32;

// shutdown modes.
inline constexpr int SD_RECEIVE = 0;
inline constexpr int SD_SEND = 1;
inline constexpr int SD_BOTH = 2;

// Winsock error numbers.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
};

// The host entry of gethostbyname: h_addr_list ends with a null pointer, each entry h_length (4) bytes.
struct HOSTENT {
    const char* h_name;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};

int WSAStartup(WORD wVersionRequested, WSADATA* lpWSAData);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const SOCKADDR* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, SOCKADDR* addr, int* addrlen);
int connect(SOCKET s, const SOCKADDR* name, int namelen);
int send(SOCKET s, const char* buf, int len, int flags);
int recv(SOCKET s, char* buf, int len, int flags);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockname(SOCKET s, SOCKADDR* name, int* namelen);

// Registers the socket so that the events in lEvent reach hWnd as wMsg; lEvent 0 cancels. Replaces any
// earlier registration of the socket; an event whose condition already holds is posted at once.
int WSAAsyncSelect(SOCKET s, platform::HWND hWnd, platform::UINT wMsg, long lEvent);

// The first host entry of a name; an empty name means this machine. Names that cannot be host names and
// names under the reserved top-level domain "invalid" fail at once, without asking a resolver. The entry
// stays valid until the next call.
const HOSTENT* gethostbyname(const char* name);
u_long inet_addr(const char* cp);
u_short htons(u_short hostshort);

// ---- Beyond Winsock: what the socket class needs on Linux ----

// The IPv4 address (network byte order) of the first interface that is up and not a loopback one, or
// INADDR_NONE_VALUE when there is none.
u_long FirstNonLoopbackAddress();

// Hands a whole message to a connection without waiting. What the socket does not take at once is kept,
// in order, in the socket's own pending-output buffer, and the engine sends it on as room comes back (no
// FD_WRITE is posted for it); while bytes are pending, later messages are kept behind them. The buffer holds
// up to `capacity` bytes and is allocated once per socket, the first time a message does not go out whole.
// Returns 0 when the message went out or was kept; else SOCKET_ERROR with
// - WSAENOBUFS: the message does not fit beside the bytes already pending, and nothing of it was sent or
//   kept (only a message larger than capacity may have gone out in part); the caller gives up the
//   connection;
// - the error of the failed send (reset, shut down, ...): the connection is broken.
int SendWhole(SOCKET s, const char* buf, int len, int capacity);

// Bytes kept for the socket and not sent yet; 0 for a handle that is no socket.
int PendingOutputBytes(SOCKET s);

// Bytes handed to the connection that the peer has not acknowledged yet: its pending output and everything
// the system's send buffer holds, sent or not. On a slow link the queue builds up at the link, after the
// bytes have left this machine, so bytes not yet sent alone would not show it. 0 for a handle that is no
// socket.
int UndeliveredOutputBytes(SOCKET s);

// The first socket whose pending output has had no byte taken for idle_ms or longer, 0 when none has.
SOCKET FindStalledOutput(int idle_ms);

// True while some socket has pending output.
bool AnyPendingOutput();

// Declares a connection broken by the program (a peer that breaks the protocol or stops taking bytes): the
// connection is shut down in both directions, so nothing more goes out or comes in, its pending output is
// dropped, and the registered window gets one plain FD_CLOSE (lParam 32, no error) if the socket is
// registered for it and has had no FD_CLOSE yet. The owner then closes the socket as after any FD_CLOSE.
// reason, the program's own number for why (not 0), stays readable through BrokenReason until the socket
// is closed; the first reason given is kept. Returns SOCKET_ERROR for a handle that is no socket
// (WSAENOTSOCK) or a reason of 0 (WSAEINVAL).
int ReportBroken(SOCKET s, int reason);

// The reason given to the first ReportBroken of the socket; 0 when the program has not declared it broken
// or the handle is no (longer a) socket.
int BrokenReason(SOCKET s);

// Winsock error number for a POSIX errno value.
int ErrorFromErrno(int err);

// A short English description of a Winsock error number ("connection refused").
const char* DescribeError(int wsa_error);

}  // namespace winsock
