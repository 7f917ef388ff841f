// One server as a receiver sees it: the video connection (frame requests out, compressed frames in), the
// sound connection (sound blocks in), the decoder and the fixed buffers they fill. Quillon holds one,
// Brondel one per server.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "codec/CCODEC.h"
#include "net/CSock.h"
#include "receiver/receiver_picture.h"

namespace receiver {

struct Ports {
    std::uint16_t video = 8001;
    std::uint16_t sound = 8002;
};

class ServerLink {
  public:
    using SOCKET = CSock::SOCKET;
    enum class Kind { kNone, kVideo, kSound };
    static constexpr int kCodecThreshold = codec::kReceiverThreshold;

    CSock VideoClient;
    CSock WaveClient;
    CCODEC Codec;
    std::array<std::uint8_t, CSock::kReceiverMsgBufBound + 1> VideoBuf{};
    BmpBuffer BmpBuf{};
    std::array<std::uint8_t, CSock::kWaveBlockBytes> WaveBuf{};

    // Which of this server's connections a notification's socket is; kNone for 0 or another socket.
    Kind KindOf(SOCKET sock) const;

    // Starts both connects (video first, so that the server pairs them in that order).
    void Connect(const Ports& ports, const std::string& address);
    // The connect of a connection completed: TCP_NODELAY, then the notifications it needs (the video
    // connection: read, write and close; the sound connection: read and close).
    void VideoConnected(SOCKET sock);
    void SoundConnected(SOCKET sock);
    void CloseBoth();

    // Collect what arrived; true when a complete message is in VideoBuf (FLG) / WaveBuf (FWG).
    bool ReadFrame();
    bool ReadSoundBlock();
    // Decodes the frame in VideoBuf into BmpBuf; the codec's status (0 on success).
    int DecodeFrame();
    // Whether the last frame message carried a picture. A server that has compressed no picture yet (it
    // has just started, or has no camera) answers with the end marker alone: nothing to decode or show.
    bool FrameHasPicture() const { return VideoClient.LastVideoSize() > 2; }  // more than the end marker
    std::span<const std::uint8_t, CSock::kWaveBlockBytes> SoundBlock() const { return WaveBuf; }
};

}  // namespace receiver
