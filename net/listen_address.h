// Where a server listens when no address is named: the first address of the host name, unless that is a
// loopback one (Debian maps the host name to 127.0.1.1), in which case the first non-loopback address of the
// machine's interfaces stands in for it, so that receivers on the network can connect.
#pragma once

#include <cstdint>

// Address values hold the bytes of an IPv4 address in network order; -1 means no address.
std::int32_t ChooseListenAddress(std::int32_t host_first_address, std::int32_t first_interface_address);

// 127.0.0.0/8.
bool IsLoopbackAddress(std::int32_t address);
