#include "platform/winsock/plain_listener.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace winsock {

int OpenPlainListener(const std::string& address, std::uint16_t port, std::string* error) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    const std::string where = address + ":" + std::to_string(port);
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        *error = "cannot listen on " + where + ": not an IPv4 address";
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) {
        *error = "cannot listen on " + where + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

void ClosePlainSocket(int descriptor) {
    if (descriptor >= 0) ::close(descriptor);
}

std::uint16_t LocalPort(int descriptor) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&a), &length) != 0 || a.sin_family != AF_INET) {
        return 0;
    }
    return ntohs(a.sin_port);
}

bool PeerIPv4Address(const void* peer, std::size_t length, std::int32_t* address) {
    if (peer == nullptr || length < sizeof(sockaddr_in)) return false;
    const auto* in = static_cast<const sockaddr_in*>(peer);
    if (in->sin_family != AF_INET) return false;
    std::memcpy(address, &in->sin_addr, sizeof *address);
    return true;
}

void ShutdownPlainSocket(int descriptor) {
    if (descriptor >= 0) ::shutdown(descriptor, SHUT_RDWR);
}

bool LimitSendBuffer(int descriptor, int bytes) {
    return ::setsockopt(descriptor, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0;
}

bool PeerBacklog(int descriptor, std::uint32_t* queued, std::uint32_t* peer_room) {
    int outq = 0;
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::ioctl(descriptor, SIOCOUTQ, &outq) != 0 ||
        ::getsockopt(descriptor, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd) {
        return false;
    }
    *queued = static_cast<std::uint32_t>(outq);
    *peer_room = info.tcpi_snd_wnd;
    return true;
}

std::string MachineHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

}  // namespace winsock
