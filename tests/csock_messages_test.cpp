// CSock's wire messages over loopback: the exact bytes of each message, their collection across receives,
// sending on what a socket did not take, and the four ways a connection is declared broken. The far ends are
// plain blocking sockets, so that a test decides where the receives of the class begin and end.
#include <netinet/tcp.h>

#include <algorithm>
#include <array>
#include <random>

#include "allocation_counter.h"
#include "csock_test_util.h"

using namespace csock_test;
using platform::kFalse;
using platform::kTrue;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Utf16(std::u16string_view text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

Bytes Frame(const Bytes& payload) {
    Bytes out = payload;
    out.push_back(0xFF);
    out.push_back(0xFF);
    return out;
}

Bytes Filled(std::size_t n, std::uint8_t value) {
    return Bytes(n, value);
}

class CSockMessagesTest : public LoopbackTest {
  protected:
    void SetUp() override {
        LoopbackTest::SetUp();
        on_socket_ = [this](CSock::SOCKET s, std::int32_t lp) { Dispatch(s, lp); };
    }

    // Connects client to a fresh plain listener as a receiver does, registers it for events and returns
    // the peer's end.
    int ConnectReceiver(CSock& client, long events) {
        std::uint16_t port;
        int listener = Keep(PeerListen(&port));
        client.SetClient(port, "127.0.0.1");
        EXPECT_TRUE(WaitFor([&] { return Count(client.MySock, winsock::FD_CONNECT) == 1; }));
        winsock::WSAAsyncSelect(client.MySock, hMainWnd, platform::WM_SOCKET, events);
        const std::int16_t on = -1;
        winsock::setsockopt(client.MySock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), 2);
        return Keep(::accept(listener, nullptr, nullptr));
    }

    // A listening server instance on 127.0.0.1 and one accepted connection, registered as the server does.
    CSock::SOCKET AcceptOnServer(int* peer, int peer_rcvbuf = 0) {
        if (listening_[0] == 0) {
            server_.SetBindAddress("127.0.0.1");
            server_.SetAnyPortListening(
                true);  // a port of the system's choosing, kept by the listening socket
            server_.SetListenSock(std::array<std::uint16_t, 1>{0}, listening_);
            server_port_ = CSock::ListenPort(listening_[0]);
        }
        const int accepts = Count(listening_[0], winsock::FD_ACCEPT);
        *peer = Keep(PeerConnect(server_port_, peer_rcvbuf));
        EXPECT_TRUE(WaitFor([&] { return Count(listening_[0], winsock::FD_ACCEPT) > accepts; }));
        CSock::SOCKET s = winsock::accept(listening_[0], nullptr, nullptr);
        winsock::WSAAsyncSelect(s, hMainWnd, platform::WM_SOCKET, winsock::FD_READ | winsock::FD_CLOSE);
        return s;
    }

    // What the programs' window procedures do with a read: collect, and keep each completed message.
    void Dispatch(CSock::SOCKET s, std::int32_t lp) {
        if (lp != winsock::FD_READ) return;
        if (s == video_.MySock && s != 0) {
            video_.RecvVideoData(video_buf_);
            ++video_reads_;
            if (video_.FLG == kTrue) {
                video_.FLG = kFalse;
                frames_.emplace_back(video_buf_.begin(), video_buf_.begin() + video_.LastVideoSize());
            }
        } else if (s == wave_.MySock && s != 0) {
            wave_.RecvWaveData(wave_buf_);
            ++wave_reads_;
            if (wave_.FWG == kTrue) {
                wave_.FWG = kFalse;
                blocks_.emplace_back(wave_buf_.begin(), wave_buf_.end());
            }
        } else {
            server_.RecvStartDataSock(s, request_);
            requests_.push_back(request_);
        }
    }

    // Writes bytes to a peer and waits until the instance has received once more.
    void Feed(int peer, const Bytes& bytes, const int& reads) {
        const int before = reads;
        WriteAll(peer, bytes);
        ASSERT_TRUE(WaitFor([&] { return reads > before; }));
    }

    CSock video_;
    CSock wave_;
    CSock server_{CSock::kServerMsgBufBound};
    std::array<CSock::SOCKET, 1> listening_{};
    std::uint16_t server_port_ = 0;
    std::array<std::uint8_t, 65536> video_buf_{};
    std::array<std::uint8_t, 1600> wave_buf_{};
    std::u16string request_;
    int video_reads_ = 0;
    int wave_reads_ = 0;
    std::vector<Bytes> frames_;
    std::vector<Bytes> blocks_;
    std::vector<std::u16string> requests_;
};

TEST_F(CSockMessagesTest, RequestsGoOutAsUtf16LowByteFirstAndComeBackFromOneReceive) {
    int peer = ConnectReceiver(video_, 35);
    EXPECT_TRUE(video_.SendStartData(kVideoNextRequest));
    const Bytes expected = {0x56, 0,    0x69, 0,    0x64, 0,    0x65, 0,    0x6F, 0,    0x4E, 0,    0x65,
                            0,    0x78, 0,    0x74, 0,    0x7C, 0,    0x45, 0,    0x4E, 0,    0x44, 0};
    EXPECT_EQ(ReadExactly(peer, 26), expected);
    EXPECT_TRUE(video_.SendStartData(kDangerRequest));
    EXPECT_EQ(ReadExactly(peer, 28), Utf16(u"MSG_DANGER|END"));
    EXPECT_FALSE(video_.SendStartData(std::u16string(32769, u'x'))) << "longer than the buffer: nothing sent";

    std::u16string text = u"old";
    EXPECT_EQ(video_.RecvStartData(text), -1) << "nothing to read";
    EXPECT_TRUE(text.empty());

    int client;
    AcceptOnServer(&client);
    Bytes odd = Utf16(kVideoNextRequest);
    WriteAll(client, odd);
    ASSERT_TRUE(WaitFor([&] { return requests_.size() == 1; }));
    odd.push_back(0x41);  // an odd last byte is dropped
    WriteAll(client, odd);
    ASSERT_TRUE(WaitFor([&] { return requests_.size() == 2; }));
    EXPECT_EQ(requests_[0], u"VideoNext|END");
    EXPECT_EQ(requests_[1], u"VideoNext|END");
}

TEST_F(CSockMessagesTest, AFrameIsCompleteOnlyWhenTheCollectedBytesEndInTheMarker) {
    int peer = ConnectReceiver(video_, 35);
    Feed(peer, {1, 2, 3}, video_reads_);
    Feed(peer, {0xFF, 4, 5}, video_reads_);
    EXPECT_TRUE(frames_.empty());
    Feed(peer, {6, 0xFF}, video_reads_);  // the marker split over two receives
    EXPECT_TRUE(frames_.empty());
    Feed(peer, {0xFF}, video_reads_);
    ASSERT_EQ(frames_.size(), 1u);
    EXPECT_EQ(frames_[0], (Bytes{1, 2, 3, 0xFF, 4, 5, 6, 0xFF, 0xFF}));

    Feed(peer, {0xFF, 0xFF}, video_reads_);  // an empty frame
    ASSERT_EQ(frames_.size(), 2u);
    EXPECT_EQ(frames_[1], (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(video_.LastVideoSize(), 2);

    // FF FF at the end of a receive ends the message there, as the protocol has it.
    Feed(peer, {7, 0xFF, 0xFF}, video_reads_);
    Feed(peer, {8, 0xFF, 0xFF}, video_reads_);
    ASSERT_EQ(frames_.size(), 4u);
    EXPECT_EQ(frames_[3], (Bytes{8, 0xFF, 0xFF}));
}

TEST_F(CSockMessagesTest, FramesLeaveWithTheMarkerWrittenIntoTheCallersBuffer) {
    int peer;
    CSock::SOCKET s = AcceptOnServer(&peer);
    Bytes dat = {10, 20, 30, 40, 50, 0, 0};
    EXPECT_TRUE(server_.SendDCTVideoDataSock(s, dat, 5, 1));
    EXPECT_EQ(dat[5], 0xFF);
    EXPECT_EQ(dat[6], 0xFF);
    EXPECT_FALSE(server_.SendDCTVideoDataSock(s, dat, 6, 1)) << "no room for the marker: nothing is sent";
    EXPECT_FALSE(server_.SendDCTVideoDataSock(s, dat, -1, 1));
    EXPECT_TRUE(server_.SendDCTVideoDataSock(s, dat, 0, 1));
    EXPECT_EQ(ReadExactly(peer, 9), (Bytes{10, 20, 30, 40, 50, 0xFF, 0xFF, 0xFF, 0xFF}));

    Bytes block(1600);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
    EXPECT_TRUE(server_.SendWaveDataSock(s, block));
    EXPECT_EQ(ReadExactly(peer, 1600), block);
    EXPECT_FALSE(server_.SendWaveDataSock(s, Bytes(1599)));
    EXPECT_TRUE(server_.SendWaveServerSock(s, block, 3, 255));
    Bytes numbered = {3, 255};
    numbered.insert(numbered.end(), block.begin(), block.end());
    EXPECT_EQ(ReadExactly(peer, 1602), numbered);
    EXPECT_FALSE(server_.SendWaveServerSock(s, block, 256, 0));
    EXPECT_FALSE(server_.SendWaveServerSock(s, block, 0, -1));
}

TEST_F(CSockMessagesTest, SoundBlocksAreCollectedTo1600BytesAndNeverBeyond) {
    int peer = ConnectReceiver(wave_, 33);
    Feed(peer, Filled(600, 1), wave_reads_);
    EXPECT_TRUE(blocks_.empty());
    Feed(peer, Filled(1000, 2), wave_reads_);
    ASSERT_EQ(blocks_.size(), 1u);
    Bytes first = Filled(600, 1);
    first.resize(1600, 2);
    EXPECT_EQ(blocks_[0], first);

    // 1000 + 1000: the second receive takes only 600; the other 400 start the next block.
    Feed(peer, Filled(1000, 3), wave_reads_);
    Feed(peer, Filled(1000, 4), wave_reads_);
    ASSERT_TRUE(WaitFor([&] { return blocks_.size() == 2; }));
    WriteAll(peer, Filled(1200, 5));
    ASSERT_TRUE(WaitFor([&] { return blocks_.size() == 3; }));
    Bytes third = Filled(400, 4);
    third.resize(1600, 5);
    EXPECT_EQ(blocks_[2], third);
}

TEST_F(CSockMessagesTest, AVideoMessageWithoutMarkerThatFillsTheBufferBreaksTheConnection) {
    int peer = ConnectReceiver(video_, 35);
    Bytes longest = Filled(65533, 0x11);
    WriteAll(peer, Frame(longest));
    ASSERT_TRUE(WaitFor([&] { return frames_.size() == 1; }));
    EXPECT_EQ(video_.LastVideoSize(), 65535) << "the longest message the receivers accept";

    const CSock::SOCKET s = video_.MySock;
    WriteAll(peer, Filled(65535, 0x22));
    ASSERT_TRUE(WaitFor([&] { return Count(s, winsock::FD_CLOSE) == 1; }));
    EXPECT_EQ(video_.LastFailure(), CSock::Failure::kOverlongVideoMessage);
    EXPECT_EQ(video_.LastFailedSock(), s);
    EXPECT_EQ(frames_.size(), 1u);
    EXPECT_EQ(video_.FLG, kFalse);
    char c;
    EXPECT_EQ(::recv(peer, &c, 1, 0), 0) << "the broken connection is shut down";
    Settle();
    EXPECT_EQ(Count(s, winsock::FD_CLOSE), 1);
}

// A server connection whose peer reads little: a small send buffer on this side, a small receive buffer
// there.
CSock::SOCKET Narrow(CSock::SOCKET s) {
    const std::int16_t small = 4096;
    winsock::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), 2);
    return s;
}

TEST_F(CSockMessagesTest, WhatASocketDoesNotTakeGoesOutLaterInOrderWithoutAllocatingPerMessage) {
    int peer;
    const CSock::SOCKET s = Narrow(AcceptOnServer(&peer, 4096));
    // Frames and sound blocks, each filled with its own number, more than the two buffers hold.
    std::vector<Bytes> messages;
    for (std::uint8_t i = 1; i <= 6; ++i) {
        messages.push_back(Filled(3002, i));
        messages.push_back(Filled(1600, static_cast<std::uint8_t>(100 + i)));
    }
    Bytes expected;
    expected.reserve(6 * (3002 + 1600));
    long allocations_before = -1;
    for (Bytes& m : messages) {
        const bool frame = m.size() == 3002;
        ASSERT_TRUE(frame ? server_.SendDCTVideoDataSock(s, m, 3000, 1) : server_.SendWaveDataSock(s, m));
        expected.insert(expected.end(), m.begin(), m.end());  // the frame's marker was written into m
        if (allocations_before < 0 && winsock::PendingOutputBytes(s) > 0)
            allocations_before = AllocationCount();
    }
    ASSERT_GE(allocations_before, 0) << "every byte went out at once: the buffers are larger than assumed";
    EXPECT_EQ(AllocationCount(), allocations_before) << "a kept message allocated";
    EXPECT_LE(winsock::PendingOutputBytes(s), CSock::kPendingOutputBytes);

    // The peer reads: the loop sends the rest on as room comes back, and every byte arrives in order.
    Bytes got;
    EXPECT_TRUE(WaitFor([&] {
        std::uint8_t buf[8192];
        const ssize_t n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) got.insert(got.end(), buf, buf + n);
        return got.size() >= expected.size();
    }));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(winsock::PendingOutputBytes(s), 0);
    EXPECT_TRUE(EventsOf(s).empty()) << "sending on posts nothing";
}

TEST_F(CSockMessagesTest, APeerThatFallsBehindOrTakesNothingIsDroppedWithoutWaitingAndTheOthersGoOn) {
    int behind_peer;
    int silent_peer;
    int healthy_peer;
    const CSock::SOCKET behind = Narrow(AcceptOnServer(&behind_peer, 4096));
    const CSock::SOCKET silent = Narrow(AcceptOnServer(&silent_peer, 4096));
    const CSock::SOCKET healthy = AcceptOnServer(&healthy_peer);
    server_.SetSendStallLimitMs(300);

    // Frames are taken or kept until one no longer fits beside those pending: that one is refused at once.
    Bytes frame(15002, 0x33);
    int taken = 0;
    while (taken < 100 && server_.SendDCTVideoDataSock(behind, frame, 15000, 1)) ++taken;
    ASSERT_LT(taken, 100);
    EXPECT_EQ(server_.LastFailure(), CSock::Failure::kSendOverLimit);
    EXPECT_EQ(server_.LastFailedSock(), behind);
    EXPECT_EQ(CSock::FailureOf(behind), CSock::Failure::kSendOverLimit);
    EXPECT_EQ(winsock::PendingOutputBytes(behind), 0) << "a broken connection keeps nothing";
    // Later sends to the dropped connection fail at once and report nothing new.
    EXPECT_FALSE(server_.SendWaveDataSock(behind, Bytes(1600)));
    EXPECT_EQ(server_.LastFailure(), CSock::Failure::kSendFailed);
    EXPECT_EQ(CSock::FailureOf(behind), CSock::Failure::kSendOverLimit);

    // Sound blocks that wait and are never taken: the connection is dropped once the stall limit has passed.
    for (int i = 0; i < 20 && winsock::PendingOutputBytes(silent) == 0; ++i)
        ASSERT_TRUE(server_.SendWaveDataSock(silent, Bytes(1600, 0x44)));
    ASSERT_GT(winsock::PendingOutputBytes(silent), 0);
    ASSERT_TRUE(WaitFor([&] { return Count(silent, winsock::FD_CLOSE) == 1; }));
    EXPECT_EQ(CSock::FailureOf(silent), CSock::Failure::kSendStalled);
    EXPECT_EQ(server_.LastFailure(), CSock::Failure::kSendStalled);

    EXPECT_TRUE(server_.SendDCTVideoDataSock(healthy, frame, 15000, 2));
    EXPECT_EQ(ReadExactly(healthy_peer, 15002).size(), 15002u);
    Settle();
    EXPECT_EQ(EventsOf(behind), (std::vector<std::int32_t>{winsock::FD_CLOSE}));
    EXPECT_EQ(EventsOf(silent), (std::vector<std::int32_t>{winsock::FD_CLOSE}));
    EXPECT_TRUE(EventsOf(healthy).empty());
}

TEST_F(CSockMessagesTest, ANewConnectionStartsWithAnEmptyReceiveStateButKeepsTheFlags) {
    int peer = ConnectReceiver(video_, 35);
    int wave_peer = ConnectReceiver(wave_, 33);
    Feed(peer, Filled(100, 0x44), video_reads_);  // cut off mid-frame
    Feed(wave_peer, Filled(700, 0x55), wave_reads_);
    video_.CloseSock();
    wave_.CloseSock();
    video_.FLG = kTrue;  // the caller's, not touched by a new connection

    peer = ConnectReceiver(video_, 35);
    wave_peer = ConnectReceiver(wave_, 33);
    EXPECT_EQ(video_.FLG, kTrue);
    video_.FLG = kFalse;
    Feed(peer, {1, 2, 0xFF, 0xFF}, video_reads_);
    WriteAll(wave_peer, Filled(1600, 0x66));
    ASSERT_TRUE(WaitFor([&] { return frames_.size() == 1 && blocks_.size() == 1; }));
    EXPECT_EQ(frames_[0], (Bytes{1, 2, 0xFF, 0xFF}));
    EXPECT_EQ(blocks_[0], Filled(1600, 0x66));
}

// A payload without the pair FF FF and not ending in FF: the framing cannot tell such a pair from the marker.
Bytes RandomPayload(std::mt19937& rng) {
    std::uniform_int_distribution<int> size(0, 15001);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes p(static_cast<std::size_t>(size(rng)));
    for (std::size_t i = 0; i < p.size(); ++i) {
        p[i] = static_cast<std::uint8_t>(byte(rng));
        if (p[i] == 0xFF && (i + 1 == p.size() || (i > 0 && p[i - 1] == 0xFF))) p[i] = 0xFE;
    }
    return p;
}

// Cuts bytes into 1 to 6 pieces at random places.
std::vector<Bytes> RandomChunks(const Bytes& bytes, std::mt19937& rng) {
    std::uniform_int_distribution<std::size_t> cut(1, std::max<std::size_t>(bytes.size() - 1, 1));
    std::vector<std::size_t> cuts = {0, bytes.size()};
    for (int i = std::uniform_int_distribution<int>(0, 5)(rng); i > 0 && bytes.size() > 1; --i) {
        cuts.push_back(cut(rng));
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<Bytes> chunks;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        chunks.emplace_back(bytes.begin() + cuts[i], bytes.begin() + cuts[i + 1]);
    }
    return chunks;
}

TEST_F(CSockMessagesTest, AnyChunkingOfFramesAndSoundBlocksGivesBackExactlyTheMessagesSent) {
    int video_peer = ConnectReceiver(video_, 35);
    int wave_peer = ConnectReceiver(wave_, 33);
    std::vector<Bytes> sent_frames;
    std::vector<Bytes> sent_blocks;
    for (unsigned seed = 1; seed <= 50; ++seed) {
        std::mt19937 rng(seed);
        std::vector<Bytes> video_chunks;
        std::vector<Bytes> wave_chunks;
        for (int m = 0; m < 3; ++m) {
            sent_frames.push_back(RandomPayload(rng));
            for (Bytes& c : RandomChunks(Frame(sent_frames.back()), rng))
                video_chunks.push_back(std::move(c));
            Bytes block(1600);
            for (auto& b : block) b = static_cast<std::uint8_t>(rng());
            sent_blocks.push_back(block);
            for (Bytes& c : RandomChunks(block, rng)) wave_chunks.push_back(std::move(c));
        }
        // Each connection's chunks in order, the two connections interleaved at random.
        std::size_t v = 0;
        std::size_t w = 0;
        while (v < video_chunks.size() || w < wave_chunks.size()) {
            const bool video_turn = w == wave_chunks.size() || (v < video_chunks.size() && rng() % 2 == 0);
            if (video_turn) {
                Feed(video_peer, video_chunks[v++], video_reads_);
            } else {
                Feed(wave_peer, wave_chunks[w++], wave_reads_);
            }
        }
        ASSERT_TRUE(WaitFor([&] {
            return frames_.size() == sent_frames.size() && blocks_.size() == sent_blocks.size();
        })) << "seed "
            << seed;
    }
    for (std::size_t i = 0; i < sent_frames.size(); ++i) EXPECT_EQ(frames_[i], Frame(sent_frames[i])) << i;
    EXPECT_EQ(blocks_, sent_blocks);
}

}  // namespace
