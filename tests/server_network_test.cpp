// tessaly as a program among receivers that misbehave, on ports of 127.0.0.1 that the system chooses: stalled
// receivers beside a normal one (streamtool probe), churn of receivers that come and go in every way, and
// hostile connections. Every wait and loop is bounded; the programs are ended whatever happens. Sizes can be
// raised for the benchmarks that run these tests (bench/server_stall.sh, bench/server_churn.sh):
// STREAM_STALLED_RECEIVERS, STREAM_STALL_SECONDS and STREAM_CHURN_CYCLES.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "csock_test_util.h"
#include "program_process.h"

namespace {

using program_test::Program;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

const Bytes kRequest = {'V', 0,   'i', 0,   'd', 0,   'e', 0,   'o', 0,   'N', 0,   'e',
                        0,   'x', 0,   't', 0,   '|', 0,   'E', 0,   'N', 0,   'D', 0};

int EnvNumber(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && std::atoi(text) >= 0 && *text != '\0' ? std::atoi(text) : fallback;
}

// The number after "name=" in text, -1 when it is not there.
double Figure(const std::string& text, const std::string& name) {
    const std::size_t at = text.rfind(name + "=");
    return at == std::string::npos ? -1 : std::atof(text.c_str() + at + name.size() + 1);
}

// What a normal receiver (streamtool probe) saw: pictures and sound kept coming, never a pause of a second.
void ExpectSteadyStream(const std::string& out, double frames, double blocks) {
    EXPECT_GE(Figure(out, "frames"), frames) << out;
    EXPECT_GE(Figure(out, "sound_blocks"), blocks) << out;
    EXPECT_LT(Figure(out, "longest_frame_gap_ms"), 1000) << out;
    EXPECT_LT(Figure(out, "longest_sound_gap_ms"), 1000) << out;
}

// Reads one frame message from a blocking peer (its receive timeout bounds the wait); empty when none came.
Bytes ReadFrameMessage(int fd) {
    Bytes got;
    std::uint8_t buf[16384];
    while (got.size() < 2 || got[got.size() - 2] != 0xFF || got.back() != 0xFF) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return {};
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

void SendNow(int fd, const std::uint8_t* bytes, std::size_t size) {
    ::send(fd, bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL);
}

class ServerNetworkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = std::make_unique<program_test::Tessaly>();
        ASSERT_TRUE(server_->WaitForPorts()) << server_->Errors();
        video_port_ = server_->GetPorts().video;
        sound_port_ = server_->GetPorts().sound;
        ASSERT_TRUE(server_->WaitForLine("待機します。(127.0.0.1)")) << server_->Output();
    }
    void TearDown() override {
        for (int fd : peers_) ::close(fd);
    }

    std::unique_ptr<Program> Probe(const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"probe", "--video-port", std::to_string(video_port_), "--sound-port",
                                         std::to_string(sound_port_)};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("127.0.0.1");
        return std::make_unique<Program>("streamtool", args);
    }
    void ExpectAFreshReceiverServed() {
        auto fresh = Probe({"--frames", "5", "--seconds", "10"});
        ASSERT_TRUE(fresh->WaitForExit(15000));
        EXPECT_EQ(Figure(fresh->Output(), "frames"), 5) << fresh->Output() << fresh->Errors();
    }
    int Keep(int fd) {
        peers_.push_back(fd);
        return fd;
    }
    // A video connection that the server has placed in a slot: a frame answered its request.
    int PlacedVideo(int rcvbuf = 0) {
        const int video = Keep(csock_test::PeerConnect(video_port_, rcvbuf));
        csock_test::WriteAll(video, kRequest);
        EXPECT_FALSE(ReadFrameMessage(video).empty());
        return video;
    }
    // A receiver as the real ones connect: the sound connection comes once the video connection is placed,
    // so that the server pairs the two.
    std::pair<int, int> Join(int rcvbuf = 0) {
        const int video = PlacedVideo(rcvbuf);
        return {video, Keep(csock_test::PeerConnect(sound_port_, rcvbuf))};
    }
    // Starts a connection without waiting for it: the server's short accept queue would make a blocking
    // connect wait for the retry of a dropped handshake.
    int ConnectWithoutWaiting(std::uint16_t port) {
        const int fd = Keep(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        const sockaddr_in a = csock_test::Loopback(port);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        return fd;
    }
    void Forget(int fd) { peers_.erase(std::remove(peers_.begin(), peers_.end(), fd), peers_.end()); }

    int OpenDescriptors() const {
        const std::filesystem::path dir = "/proc/" + std::to_string(server_->Pid()) + "/fd";
        return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir), {}));
    }
    long ResidentKib() const {
        std::ifstream status("/proc/" + std::to_string(server_->Pid()) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
        }
        return -1;
    }
    // Waits (bounded) until the server's descriptors stay the same for half a second; gives their count.
    int SettledDescriptors() {
        int last = OpenDescriptors();
        for (int stable = 0, i = 0; stable < 10 && i < 200; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const int now = OpenDescriptors();
            stable = now == last ? stable + 1 : 0;
            last = now;
        }
        return last;
    }

    std::unique_ptr<program_test::Tessaly> server_;
    std::uint16_t video_port_ = 0;
    std::uint16_t sound_port_ = 0;
    std::vector<int> peers_;
};

TEST_F(ServerNetworkTest, StalledReceiversAreDroppedWithTheirLineWhileAnotherKeepsItsPicturesAndSound) {
    const int stalled_count = EnvNumber("STREAM_STALLED_RECEIVERS", 1);
    const int seconds = EnvNumber("STREAM_STALL_SECONDS", 5);
    auto normal = Probe({"--seconds", std::to_string(seconds)});
    ASSERT_TRUE(normal->WaitForLine("1 s: frames=")) << normal->Output() << normal->Errors();
    // Each stalled receiver asks for pictures every 20 ms and reads nothing more, on either connection.
    std::vector<int> stalled;
    for (int i = 0; i < stalled_count; ++i) stalled.push_back(Join(4096).first);
    // They go on asking until they are dropped (the watchdog would drop them silently once they stop).
    const std::string dropped = " 127.0.0.1 dropped: ";
    const auto deadline = Clock::now() + std::chrono::seconds(seconds + 10);
    bool probing = true;
    bool all_dropped = stalled_count == 0;
    while ((probing || !all_dropped) && Clock::now() < deadline) {
        probing = probing && !normal->WaitForExit(10);
        all_dropped = all_dropped || server_->WaitForErrorLine(dropped, 10, stalled_count);
        for (int fd : stalled) SendNow(fd, kRequest.data(), kRequest.size());
    }
    const std::string& out = normal->Output();
    std::printf("longest gap beside %d stalled receivers: frames %.1f ms, sound %.1f ms\n", stalled_count,
                Figure(out, "longest_frame_gap_ms"), Figure(out, "longest_sound_gap_ms"));
    ExpectSteadyStream(out, seconds * 10, seconds * 5 - 5);
    EXPECT_TRUE(all_dropped) << server_->Errors();
    EXPECT_FALSE(server_->WaitForErrorLine(dropped, 300, stalled_count + 1)) << "one line each\n"
                                                                             << server_->Errors();
}

// One receiver's visit: it comes, gets a few frames and leaves in one of three ways.
enum class Leave { kGracefully, kWithReset, kWithARequestUnread };

TEST_F(ServerNetworkTest, ChurnLeavesNoDescriptorOrMemoryBehindAndAFreshReceiverIsServed) {
    const int cycles = EnvNumber("STREAM_CHURN_CYCLES", 60);
    int served = 0;
    const auto visit = [&](Leave how) {
        auto [video, sound] = Join();
        csock_test::WriteAll(video, kRequest);
        served += !ReadFrameMessage(video).empty();
        if (how == Leave::kWithARequestUnread) csock_test::WriteAll(video, kRequest);
        for (int fd : {video, sound}) {
            if (how == Leave::kWithReset) {
                csock_test::CloseWithReset(fd);
            } else {
                ::close(fd);
            }
            Forget(fd);
        }
    };
    const Leave ways[] = {Leave::kGracefully, Leave::kWithReset, Leave::kWithARequestUnread};
    for (int i = 0; i < 6; ++i) visit(ways[i % 3]);  // the server's own first-use allocations
    const int descriptors = SettledDescriptors();
    const long resident = ResidentKib();

    const auto started = Clock::now();
    for (int i = 0; i < cycles; ++i) visit(ways[i % 3]);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const int descriptors_after = SettledDescriptors();
    const long resident_after = ResidentKib();
    std::printf("%d cycles in %.1f s: descriptors %d -> %d, resident %ld -> %ld KiB\n", cycles, seconds,
                descriptors, descriptors_after, resident, resident_after);
    EXPECT_EQ(served, cycles + 6) << "every visitor got its frames: no slot was left behind";
    EXPECT_EQ(descriptors_after, descriptors);
    EXPECT_LT(resident_after, resident + 1024) << "grows with the visits";

    ExpectAFreshReceiverServed();
}

TEST_F(ServerNetworkTest, HostileConnectionsKeepNoReceiverFromItsPicturesAndSound) {
    auto normal = Probe({"--seconds", "6"});
    ASSERT_TRUE(normal->WaitForLine("1 s: frames=")) << normal->Output() << normal->Errors();
    // Connections that take slots: a request flood that never reads, 1 MB of bytes that hold no request
    // (none below 0x80, so no letter of one), and one byte a second.
    const int flood = PlacedVideo(4096);
    const int noise = PlacedVideo();
    const int trickle = PlacedVideo();
    Bytes bytes(1 << 20);
    std::mt19937 rng(7);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(0x80 | rng());
    // More than the table holds at once, idle, and sound connections without a video connection.
    for (int i = 0; i < 100; ++i) ConnectWithoutWaiting(video_port_);
    for (int i = 0; i < 20; ++i) ConnectWithoutWaiting(sound_port_);

    std::size_t noise_sent = 0;
    auto next_trickle = Clock::now();
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!normal->WaitForExit(5) && Clock::now() < deadline) {
        for (int i = 0; i < 50; ++i) SendNow(flood, kRequest.data(), kRequest.size());
        if (noise_sent < bytes.size()) {
            const ssize_t n = ::send(noise, bytes.data() + noise_sent, bytes.size() - noise_sent,
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) noise_sent += static_cast<std::size_t>(n);
        }
        if (Clock::now() >= next_trickle) {
            SendNow(trickle, bytes.data(), 1);
            next_trickle += std::chrono::seconds(1);
        }
    }
    ExpectSteadyStream(normal->Output(), 60, 25);
    EXPECT_EQ(noise_sent, bytes.size()) << "the server stopped reading";
    EXPECT_TRUE(server_->WaitForErrorLine(" dropped: ", 3000)) << "the flood is dropped with its line\n"
                                                               << server_->Errors();

    // Once they are gone, the table is free for the next receiver.
    for (int fd : peers_) ::close(fd);
    peers_.clear();
    ExpectAFreshReceiverServed();
}

}  // namespace
