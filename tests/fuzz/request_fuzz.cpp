// libFuzzer target for what a receiver sends on the video connection: any bytes as one receive. The text
// holds one code unit per two bytes, and the server acts on exactly the words that the bytes spell.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "net/request_words.h"

namespace {

// Whether the word, as UTF-16 code units low byte first, starts at an even offset of bytes.
bool SpelledAtEvenOffset(std::span<const uint8_t> bytes, std::u16string_view word) {
    for (std::size_t at = 0; at + 2 * word.size() <= bytes.size(); at += 2) {
        bool same = true;
        for (std::size_t k = 0; k < word.size() && same; ++k)
            same = bytes[at + 2 * k] == (word[k] & 0xFF) && bytes[at + 2 * k + 1] == (word[k] >> 8);
        if (same) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);  // exactly the receive: reads past it are caught
    std::u16string text;
    DecodeRequest(bytes, text);
    fuzz::Check(text.size() == size / 2);
    const RequestWords words = ScanRequest(text);
    fuzz::Check(words.next_frame == SpelledAtEvenOffset(bytes, u"VideoNext"));
    fuzz::Check(words.alarm == SpelledAtEvenOffset(bytes, u"MSG_DANGER"));
    return 0;
}
