#include "net/request_words.h"

void DecodeRequest(std::span<const std::uint8_t> bytes, std::u16string& text) {
    text.resize(bytes.size() / 2);
    for (std::size_t k = 0; k < text.size(); ++k)
        text[k] = static_cast<char16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
}

RequestWords ScanRequest(std::u16string_view text) {
    RequestWords words;
    words.next_frame = text.find(u"VideoNext") != std::u16string_view::npos;
    words.alarm = text.find(u"MSG_DANGER") != std::u16string_view::npos;
    return words;
}
