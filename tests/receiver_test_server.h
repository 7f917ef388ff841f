// A small server for the receivers' tests, on 127.0.0.1 and free ports, running on a thread of its own
// with plain blocking sockets (so that the receiver under test owns the window and every notification).
// It accepts one video and one sound connection in that order, logs every request text, answers
// "VideoNext|END" with a frame when auto-answering, and sends sound blocks, frames, closes and resets on
// demand.
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec/CCODEC.h"
#include "csock_test_util.h"
#include "platform/testpattern.h"
#include "platform/timestamp.h"

namespace receiver_test {

inline std::string Utf16Request(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// A compressed test picture stamped with the time of encoding, followed by the end marker. Each server
// thread has its own codec and picture: a codec instance encodes one frame at a time.
inline std::vector<std::uint8_t> EncodedTestFrame(std::uint64_t number) {
    thread_local CCODEC codec;
    codec.敷居 = 10;
    thread_local std::vector<std::uint8_t> picture(platform::TestPattern::kFrameBytes);
    thread_local platform::TestPattern pattern;
    pattern.Render(picture.data(), number, platform::MonotonicMicros());
    std::vector<std::uint8_t> frame(codec::kFrameBufSize + 2);
    EXPECT_EQ(codec.EncodeDCTPress(picture, frame), 0);
    frame.resize(static_cast<std::size_t>(codec.SendDataSize));
    frame.push_back(0xFF);
    frame.push_back(0xFF);
    return frame;
}

class ThreadServer {
  public:
    // Listens on free ports, or on the given ones.
    explicit ThreadServer(bool auto_answer = true, std::uint16_t video_port = 0, std::uint16_t sound_port = 0,
                          const char* address = "127.0.0.1")
        : auto_answer_(auto_answer) {
        video_listen_ = Listen(address, video_port, &video_port_);
        sound_listen_ = Listen(address, sound_port, &sound_port_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ThreadServer() { Stop(); }

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        for (int* fd : {&video_listen_, &sound_listen_, &video_, &sound_}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }

    std::uint16_t VideoPort() const { return video_port_; }
    std::uint16_t SoundPort() const { return sound_port_; }
    bool BothAccepted() const { return accepted_ == 2; }

    std::vector<std::u16string> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int CountRequests(const std::u16string& text) const {
        int n = 0;
        for (const auto& r : Requests()) n += r == text;
        return n;
    }
    long FramesSent() const { return frames_sent_; }

    void SetAutoAnswer(bool on) { auto_answer_ = on; }
    // Auto-answers with these bytes instead of a frame (a server that sends garbage).
    void SetAnswerBytes(std::vector<std::uint8_t> bytes) {
        std::lock_guard lock(mutex_);
        answer_bytes_ = std::move(bytes);
    }
    // Sends one frame (or the given bytes) on the video connection now.
    void SendFrame() { queued_frames_ += 1; }
    void SendVideoBytes(std::vector<std::uint8_t> bytes) {
        std::lock_guard lock(mutex_);
        raw_video_.push_back(std::move(bytes));
    }
    void SendSoundBlocks(int n, std::uint8_t value = 0x35) {
        std::lock_guard lock(mutex_);
        for (int i = 0; i < n; ++i) sound_blocks_.push_back(value);
    }
    void CloseVideo() { close_video_ = true; }
    void CloseSound() { close_sound_ = true; }
    // Ends the connection with a reset (RST), as a server that ends with a request unread does.
    void ResetVideo() { reset_video_ = true; }
    void ResetSound() { reset_sound_ = true; }

  private:
    static int Listen(const char* address, std::uint16_t port, std::uint16_t* bound) {
        // Not inherited by the programs that a test starts: a copy there would keep the port taken.
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a = csock_test::Loopback(port);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::listen(fd, 8);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        *bound = ntohs(a.sin_port);
        return fd;
    }

    void Serve() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!stop_ && std::chrono::steady_clock::now() < deadline) {
            AcceptWaiting();
            ReadRequests();
            SendQueued();
            CloseOnDemand();
        }
    }

    // A receiver may close its connections at any time: a send that fails ends that connection only.
    static void SendOrClose(int& fd, const std::vector<std::uint8_t>& bytes) {
        std::size_t sent = 0;
        while (fd >= 0 && sent < bytes.size()) {
            const ssize_t k = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (k <= 0) {
                ::close(fd);
                fd = -2;
                return;
            }
            sent += static_cast<std::size_t>(k);
        }
    }

    static bool Readable(int fd, int wait_ms) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, wait_ms) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    }

    void AcceptWaiting() {
        if (video_ == -1 && Readable(video_listen_, 2)) {
            video_ = ::accept4(video_listen_, nullptr, nullptr, SOCK_CLOEXEC);
            ++accepted_;
        }
        if (video_ >= 0 && sound_ == -1 && Readable(sound_listen_, 2)) {
            sound_ = ::accept4(sound_listen_, nullptr, nullptr, SOCK_CLOEXEC);
            ++accepted_;
        }
    }

    void ReadRequests() {
        if (video_ < 0 || !Readable(video_, 5)) return;
        char buf[4096];
        const ssize_t n = ::recv(video_, buf, sizeof buf, 0);
        if (n <= 0) {
            ::close(video_);
            video_ = -2;  // closed by the peer; not accepted again
            return;
        }
        pending_.append(buf, static_cast<std::size_t>(n));
        for (const std::u16string& text :
             {std::u16string(u"VideoNext|END"), std::u16string(u"MSG_DANGER|END")}) {
            const std::string bytes = Utf16Request(text);
            std::size_t at;
            while ((at = pending_.find(bytes)) != std::string::npos) {
                pending_.erase(at, bytes.size());
                std::lock_guard lock(mutex_);
                requests_.push_back(text);
                if (!auto_answer_ || text != u"VideoNext|END") continue;
                if (answer_bytes_.empty()) {
                    queued_frames_ += 1;
                } else {
                    raw_video_.push_back(answer_bytes_);
                }
            }
        }
    }

    void SendQueued() {
        if (video_ >= 0) {
            for (; queued_frames_ > 0 && video_ >= 0; --queued_frames_) {
                SendOrClose(video_, EncodedTestFrame(static_cast<std::uint64_t>(frames_sent_)));
                ++frames_sent_;
            }
        }
        std::vector<std::vector<std::uint8_t>> raw;
        std::vector<std::uint8_t> blocks;
        {
            std::lock_guard lock(mutex_);
            raw.swap(raw_video_);
            if (sound_ >= 0) blocks.swap(sound_blocks_);
        }
        if (video_ >= 0) {
            for (const auto& bytes : raw) SendOrClose(video_, bytes);
        }
        for (std::uint8_t value : blocks) SendOrClose(sound_, std::vector<std::uint8_t>(1600, value));
    }

    // Closes as a server does when it ends a connection: the end of the stream first, then, once the
    // receiver has closed its side (or after half a second), the socket. Closing at once with a request
    // still unread would reset the connection instead, a close the receivers do not act on.
    static void CloseGracefully(int& fd) {
        ::shutdown(fd, SHUT_WR);
        char buf[4096];
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!Readable(fd, 20)) continue;
            if (::recv(fd, buf, sizeof buf, 0) <= 0) break;
        }
        ::close(fd);
        fd = -2;
    }

    static void Reset(int& fd) {
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(fd);
        fd = -2;
    }

    void CloseOnDemand() {
        if (close_video_.exchange(false) && video_ >= 0) CloseGracefully(video_);
        if (close_sound_.exchange(false) && sound_ >= 0) CloseGracefully(sound_);
        if (reset_video_.exchange(false) && video_ >= 0) Reset(video_);
        if (reset_sound_.exchange(false) && sound_ >= 0) Reset(sound_);
    }

    std::atomic<bool> auto_answer_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> close_video_{false};
    std::atomic<bool> close_sound_{false};
    std::atomic<bool> reset_video_{false};
    std::atomic<bool> reset_sound_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> queued_frames_{0};
    std::atomic<long> frames_sent_{0};
    std::uint16_t video_port_ = 0;
    std::uint16_t sound_port_ = 0;
    int video_listen_ = -1;
    int sound_listen_ = -1;
    int video_ = -1;
    int sound_ = -1;
    std::string pending_;
    mutable std::mutex mutex_;
    std::vector<std::u16string> requests_;
    std::vector<std::vector<std::uint8_t>> raw_video_;
    std::vector<std::uint8_t> answer_bytes_;
    std::vector<std::uint8_t> sound_blocks_;
    std::thread thread_;
};

}  // namespace receiver_test
