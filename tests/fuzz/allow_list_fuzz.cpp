// libFuzzer target for the server's --allow list: any text. A list that parses allows every address that it
// names (an entry with or without a prefix length, as the C library reads the address), and everyone when
// it holds "any"; a list that does not parse says why in one line.
#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "server/allow_list.h"

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// Every entry's address that the C library reads too must be allowed.
void CheckNamedAddressesAllowed(const tessaly::AllowList& list, std::string_view text) {
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string entry(Trimmed(text.substr(0, comma)));
        const std::string address = entry.substr(0, entry.find('/'));
        in_addr parsed{};
        if (inet_pton(AF_INET, address.c_str(), &parsed) == 1) {
            std::int32_t as_socket_layer_holds = 0;
            std::memcpy(&as_socket_layer_holds, &parsed.s_addr, 4);
            fuzz::Check(list.Allows(as_socket_layer_holds));
        }
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto list = tessaly::AllowList::Parse(text, &error);
    if (!list) {
        fuzz::Check(!error.empty());
        return 0;
    }
    CheckNamedAddressesAllowed(*list, text);
    if (list->AllowsAnyone()) fuzz::Check(list->Allows(0x12345678) && list->Allows(-1));
    return 0;
}
