// Names and addresses: gethostbyname, inet_addr, htons, and the machine's first network address.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <string>

#include "platform/winsock/winsock_internal.h"

namespace winsock {
namespace {

constexpr std::size_t kMaxAddresses = 16;

// The storage behind the entry that gethostbyname hands out, as Winsock keeps one per thread.
struct HostStorage {
    std::string name;
    std::array<in_addr, kMaxAddresses> addresses{};
    std::array<char*, kMaxAddresses + 1> list{};
    HOSTENT entry{};
};

HostStorage& Storage() {
    thread_local HostStorage storage;
    return storage;
}

std::string LocalHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Letters, digits, '-' and '_' in dot-separated labels of 1 to 63 characters; at most 253 in all.
bool LooksLikeHostName(const std::string& name) {
    if (name.empty() || name.size() > 253) return false;
    std::size_t label = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '.') {
            if (label == 0 && i + 1 != name.size()) return false;
            label = 0;
            continue;
        }
        if (!std::isalnum(c) && c != '-' && c != '_') return false;
        if (++label > 63) return false;
    }
    return true;
}

// The top-level domain "invalid" is reserved never to resolve; no resolver needs to be asked about it.
bool IsReservedInvalid(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!name.empty() && name.back() == '.') name.pop_back();
    return name == "invalid" || EndsWith(name, ".invalid");
}

const HOSTENT* HostNotFound() {
    WSASetLastError(WSAHOST_NOT_FOUND);
    return nullptr;
}

}  // namespace

const HOSTENT* gethostbyname(const char* name) {
    if (!detail::Started()) {
        WSASetLastError(WSANOTINITIALISED);
        return nullptr;
    }
    std::string host = name != nullptr ? name : "";
    if (host.empty()) host = LocalHostName();
    if (!LooksLikeHostName(host) || IsReservedInvalid(host)) return HostNotFound();

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return HostNotFound();

    HostStorage& st = Storage();
    st.name = host;
    std::size_t count = 0;
    for (addrinfo* ai = found; ai != nullptr && count < kMaxAddresses; ai = ai->ai_next) {
        const in_addr a = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr;
        bool seen = false;
        for (std::size_t i = 0; i < count; ++i) seen = seen || st.addresses[i].s_addr == a.s_addr;
        if (!seen) st.addresses[count++] = a;
    }
    ::freeaddrinfo(found);
    for (std::size_t i = 0; i < count; ++i) st.list[i] = reinterpret_cast<char*>(&st.addresses[i]);
    st.list[count] = nullptr;
    st.entry = HOSTENT{st.name.c_str(), AF_INET, 4, st.list.data()};
    return &st.entry;
}

u_long inet_addr(const char* cp) {
    if (cp == nullptr) return INADDR_NONE_VALUE;
    return ::inet_addr(cp);
}

u_short htons(u_short hostshort) {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<u_short>((hostshort >> 8) | (hostshort << 8));
    }
    return hostshort;
}

u_long FirstNonLoopbackAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return INADDR_NONE_VALUE;
    u_long result = INADDR_NONE_VALUE;
    for (ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET) continue;
        if (!(ifa->ifa_flags & IFF_UP) || (ifa->ifa_flags & IFF_LOOPBACK)) continue;
        const in_addr a = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr;
        if ((ntohl(a.s_addr) >> 24) == 127) continue;
        result = a.s_addr;
        break;
    }
    ::freeifaddrs(list);
    return result;
}

}  // namespace winsock
