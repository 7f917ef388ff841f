// CSock: the socket class of all three programs. It drives the Winsock-shaped layer in the message-driven
// style: every socket it creates is registered with WSAAsyncSelect on hMainWnd, so that its events arrive as
// WM_SOCKET messages, and nothing in it waits on the network.
//
// The server holds one instance for everything (listening sockets, and the *Sock operations on the sockets
// of its client table); a receiver holds one instance per connection (MySock and the operations without
// "Sock"). Every instance keeps its own receive state: four byte counters, each with its buffer.
//
// Wire messages (no header, no length; the kind of connection tells the boundaries):
// - request: the text as UTF-16 code units, low byte first ("VideoNext|END" is 26 bytes);
// - video frame message: the compressed frame followed by the end marker FF FF;
// - sound block: exactly 1600 bytes; numbered sound block: Num, WaveNum, then the 1600 bytes.
//
// Frames and sound blocks never wait for a slow peer: what a socket does not take at once stays in that
// connection's pending output (kPendingOutputBytes: one frame message and 2 s of sound blocks, allocated
// once per connection, the first time it is needed) and goes out when the socket takes bytes again; on each
// connection the bytes keep the order of the messages. Requests are tiny and go out in one plain send.
//
// A connection that breaks the protocol or stops taking bytes is declared broken: it is shut down at once,
// the message at hand and anything pending are dropped, LastFailure() and FailureOf(sock) tell why, and the
// window gets one plain FD_CLOSE (lParam 32) for that socket, so that its owner closes it exactly as after a
// close by the peer:
// - a video connection that delivers MsgBufBound bytes without an end marker (kOverlongVideoMessage);
// - a frame or sound message that does not fit beside the bytes already pending (kSendOverLimit);
// - pending output of which no byte was taken for 2 s (SetSendStallLimitMs) (kSendStalled): an instance
//   with pending output looks for such connections every kStallCheckMs while the event loop runs;
// - a frame or sound send that fails (the peer reset the connection, ...) (kSendFailed).
// The sending operations return false when the connection was declared broken (or for bad arguments).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "net/frame_collector.h"
#include "net/request_words.h"
#include "platform/window/timer.h"
#include "platform/window/window.h"
#include "platform/winsock/winsock.h"

class CSock {
  public:
    using SOCKET = winsock::SOCKET;

    // MsgBufBound, the highest index of the request and video buffers, is each program's build-time choice.
    static constexpr int kReceiverMsgBufBound = 65535;
    static constexpr int kServerMsgBufBound = 65000;
    static constexpr int kMaxMsgBufBound = 65535;
    static constexpr int kWaveBlockBytes = 1600;
    static constexpr int kNumberedWaveBytes = 1602;
    static constexpr int kDefaultSendStallLimitMs = 2000;
    static constexpr int kStallCheckMs = 100;
    // The largest frame message (the largest compressed frame and its end marker) and 2 s of numbered
    // sound blocks (10 x 1,602 bytes): what one connection may have pending, 31,023 bytes.
    static constexpr int kLargestFrameMessageBytes = 15001 + 2;
    static constexpr int kPendingOutputBytes = kLargestFrameMessageBytes + 10 * kNumberedWaveBytes;

    // kNone must stay 0: the others are passed to the socket layer as the reason of a broken connection.
    enum class Failure { kNone, kOverlongVideoMessage, kSendStalled, kSendFailed, kSendOverLimit };

    explicit CSock(int msg_buf_bound = kReceiverMsgBufBound);
    ~CSock();
    CSock(const CSock&) = delete;
    CSock& operator=(const CSock&) = delete;

    // ---- Fields: public, read and written by the callers ----
    SOCKET MySock = 0;                      // the instance's own connection; 0 when there is none
    platform::Flag FWG = platform::kFalse;  // a sound block is complete; the caller clears it
    platform::Flag FLG = platform::kFalse;  // a video frame message is complete; the caller clears it
    std::string SERVER;                     // dotted text of the address the listening sockets are bound to
    platform::Flag fServer = platform::kFalse;
    std::string ListenFailure;  // the box text of the last SetListenSock that failed; empty after success
    platform::Flag fWsa = platform::kFalse;

    int MsgBufBound() const { return msg_buf_bound_; }

    // ---- Starting Winsock, listening, connecting ----
    void WSAOpen();
    void WSAClose();
    // Opens one listening socket per port into ListenSock, stopping at the first port 0 (unless any-port
    // listening is on); on success fills SERVER and sets fServer. Does nothing while fServer is True.
    void SetListenSock(std::span<const std::uint16_t> PORT, std::span<SOCKET> ListenSock);
    // With this on, a port 0 in SetListenSock's list asks the system for a free port instead of ending the
    // list; ListenPort tells which port a listening socket got.
    void SetAnyPortListening(bool on) { any_port_listening_ = on; }
    static std::uint16_t ListenPort(SOCKET listening);
    void CloseListenSock(std::span<SOCKET> ListenSock);
    // Listen on this address (dotted text or host name) instead of the machine's own; empty restores that.
    void SetBindAddress(std::string address) { bind_address_ = std::move(address); }
    // Starts a connect; its outcome arrives as FD_CONNECT (an unknown server name as WSAHOST_NOT_FOUND in
    // the high word). Starts a fresh receive state: bytes of an earlier connection never leak into this one.
    void SetClient(std::uint16_t PORTNUMBER, const std::string& ServerAddress);
    void CloseSock();

    // ---- Wire messages ----
    // Frame: Dat must reach index DataSize + 1, where the end marker is written. Num is not used.
    // The frame and sound sending operations return true when the message went out or is pending.
    bool SendDCTVideoDataSock(SOCKET Sock, std::span<std::uint8_t> Dat, std::int32_t DataSize,
                              std::int32_t Num);
    bool SendDCTVideoData(std::span<std::uint8_t> Dat, std::int32_t DataSize, std::int32_t Num);
    // Once per FD_READ: collects what arrived; a complete message (end marker included) is copied to Data,
    // which must hold MsgBufBound bytes, and FLG is set.
    void RecvVideoDataSock(SOCKET Sock, std::span<std::uint8_t> Data);
    void RecvVideoData(std::span<std::uint8_t> Data);
    bool SendWaveDataSock(SOCKET Sock, std::span<const std::uint8_t> Data);
    bool SendWaveData(std::span<const std::uint8_t> Data);
    // Once per FD_READ: collects up to the end of the current 1600-byte block; a complete one goes to WOut
    // and FWG is set.
    void RecvWaveDataSock(SOCKET Sock, std::span<std::uint8_t> WOut);
    void RecvWaveData(std::span<std::uint8_t> WOut);
    bool SendWaveServerSock(SOCKET Sock, std::span<const std::uint8_t> Data, std::int32_t Num,
                            std::int32_t WaveNum);
    bool SendWaveServer(std::span<const std::uint8_t> Data, std::int32_t Num, std::int32_t WaveNum);
    bool SendStartDataSock(SOCKET Sock, std::u16string_view SendData);
    bool SendStartData(std::u16string_view SendData);
    // One receive, decoded by itself; RecvStartData returns -1 when the receive failed, else 0.
    void RecvStartDataSock(SOCKET Sock, std::u16string& RecvData);
    std::int32_t RecvStartData(std::u16string& RecvData);

    // ---- Address helpers and the address file ----
    static std::string AdToIP(std::int32_t IPaddress);
    static std::int16_t LWORD(std::int32_t LongValue);
    static std::int16_t HWORD(std::int32_t LongValue);
    // Reads the first field of FNAME in the program's folder; a failure shows its error and gives "".
    std::string AdrFileLoad(const std::string& FNAME);
    // Writes Adr and CR LF to FNAME in the program's folder; false when the file cannot be written.
    bool AdrFileSave(const std::string& FNAME, const std::string& Adr);
    static std::string GetMyLocalIPString(std::int32_t IP);

    // ---- What the callers may want to know beyond the flags ----
    // Bytes of the last completed video frame message, end marker included.
    std::int32_t LastVideoSize() const { return last_video_size_; }
    Failure LastFailure() const { return last_failure_; }
    SOCKET LastFailedSock() const { return last_failed_sock_; }
    // Why the connection sock was declared broken; kNone when it was not, or once it is closed.
    static Failure FailureOf(SOCKET sock);
    static const char* DescribeFailure(Failure failure);
    void SetSendStallLimitMs(int ms) { send_stall_limit_ms_ = ms; }

  private:
    struct WaveCollector {
        std::int32_t count = 0;
        std::array<std::uint8_t, kWaveBlockBytes> buf;
    };
    // The receive state of the instance and a scratch buffer for requests, allocated once.
    struct Buffers {
        FrameCollector video_sock;
        FrameCollector video;
        WaveCollector wave_sock;
        WaveCollector wave;
        std::array<std::uint8_t, kMaxMsgBufBound + 1> scratch;
    };

    std::int32_t HostToAd(const std::string& name);
    std::int32_t IPToAd(const std::string& text);
    std::int32_t ListenAddress();
    bool OpenListener(std::uint16_t port, std::int32_t address, SOCKET* sock);
    void ResetReceiveState();

    std::int32_t ReadRequest(SOCKET sock, std::u16string& RecvData);
    void CollectVideo(FrameCollector& c, SOCKET sock, std::span<std::uint8_t> Data);
    void CollectWave(WaveCollector& c, SOCKET sock, std::span<std::uint8_t> WOut);
    bool SendAll(SOCKET sock, const std::uint8_t* data, std::int32_t size);
    void WatchStalls();
    void DropStalled();
    void Broken(SOCKET sock, Failure why);

    int msg_buf_bound_;
    std::unique_ptr<Buffers> buffers_;
    std::string bind_address_;
    bool any_port_listening_ = false;
    std::int32_t last_video_size_ = 0;
    Failure last_failure_ = Failure::kNone;
    SOCKET last_failed_sock_ = 0;
    int send_stall_limit_ms_ = kDefaultSendStallLimitMs;
    std::unique_ptr<platform::Timer> stall_check_;  // runs while some connection has pending output
};
