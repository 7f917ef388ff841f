#include "net/listen_address.h"

#include <cstring>

bool IsLoopbackAddress(std::int32_t address) {
    unsigned char first_octet;
    std::memcpy(&first_octet, &address, 1);  // the first octet lies in the lowest-addressed byte
    return first_octet == 127;
}

std::int32_t ChooseListenAddress(std::int32_t host_first_address, std::int32_t first_interface_address) {
    if (IsLoopbackAddress(host_first_address) && first_interface_address != -1)
        return first_interface_address;
    return host_first_address;
}
