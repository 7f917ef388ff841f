// Address values as dotted text, and the two halves of a notification's lParam.
#include "net/CSock.h"

std::string CSock::AdToIP(std::int32_t IPaddress) {
    // The value's bytes from the least significant up: the order in which the octets lie in memory.
    const auto v = static_cast<std::uint32_t>(IPaddress);
    std::string text;
    for (int k = 0; k < 4; ++k) {
        if (k > 0) text += '.';
        text += std::to_string((v >> (8 * k)) & 0xFF);
    }
    return text;
}

std::string CSock::GetMyLocalIPString(std::int32_t IP) {
    return AdToIP(IP);
}

std::int16_t CSock::LWORD(std::int32_t LongValue) {
    std::int32_t x = LongValue & 0xFFFF;
    if (x > 32767) x -= 65536;
    return static_cast<std::int16_t>(x);
}

std::int16_t CSock::HWORD(std::int32_t LongValue) {
    const auto high = static_cast<std::int32_t>(static_cast<std::uint32_t>(LongValue) & 0xFFFF0000u);
    return static_cast<std::int16_t>(high / 65536);
}
