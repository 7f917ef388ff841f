// A receiver's request on the video connection: its bytes decoded into text, and the words the server acts
// on. One receive may carry two requests that arrived together (an alarm sent right before a frame
// request), so every word found counts.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The request texts of the video connection.
inline constexpr std::u16string_view kVideoNextRequest = u"VideoNext|END";
inline constexpr std::u16string_view kDangerRequest = u"MSG_DANGER|END";

// UTF-16 code units, low byte first, into text; an odd last byte is dropped.
void DecodeRequest(std::span<const std::uint8_t> bytes, std::u16string& text);

struct RequestWords {
    bool next_frame = false;  // "VideoNext"
    bool alarm = false;       // "MSG_DANGER"
};
RequestWords ScanRequest(std::u16string_view text);
