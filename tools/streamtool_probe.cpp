// streamtool probe: looks at a server the way a receiver does. It opens the video connection and then the
// sound connection, keeps one frame request in flight, counts frames and sound blocks on the platform loop,
// and prints a line per second and a summary. It ends by itself; a server that refuses, stalls or breaks
// the protocol gets a clear message.
#include <QCommandLineParser>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "codec/CCODEC.h"
#include "net/CSock.h"
#include "platform/capture/timestamp.h"
#include "platform/window/command_line.h"
#include "platform/window/timer.h"
#include "platform/window/window.h"
#include "receiver/frame_stats.h"
#include "tools/streamtool.h"

namespace {

constexpr const char* kName = "probe";
constexpr int kStallWarningSeconds = 2;
constexpr int kAlarmPauseMs = 200;  // lets the server read the alarm request on its own

struct ProbeOptions {
    std::uint16_t video_port = 8001;
    std::uint16_t sound_port = 8002;
    double seconds = 5;
    long frames = 0;  // 0: no limit
    bool alarm = false;
    std::string save_dir;
    std::string host;
};

bool ParseNumber(const std::string& text, double low, double high, double* value) {
    try {
        std::size_t used = 0;
        *value = std::stod(text, &used);
        return used == text.size() && *value >= low && *value <= high;
    } catch (...) {
        return false;
    }
}

// A whole number from low to high into *value; false when the text is anything else.
bool ParseWhole(const QString& text, double low, double high, double* value) {
    return ParseNumber(text.toStdString(), low, high, value) && *value == static_cast<long>(*value);
}

// Fills options from the words after "probe"; false with one line in *error when they do not fit.
bool ParseOptions(const std::vector<std::string>& args, ProbeOptions* o, std::string* error) {
    QCommandLineParser parser;
    const QCommandLineOption video_port("video-port", "video port", "N", "8001");
    const QCommandLineOption sound_port("sound-port", "sound port", "N", "8002");
    const QCommandLineOption seconds("seconds", "how long to run", "S", "5");
    const QCommandLineOption frames("frames", "stop after this many frames", "N");
    const QCommandLineOption alarm("alarm", "send the alarm request once");
    const QCommandLineOption save_dir("save-dir", "write each frame's payload here", "DIR");
    parser.addOptions({video_port, sound_port, seconds, frames, alarm, save_dir});
    QStringList list{"probe"};
    for (const std::string& a : args) list << QString::fromStdString(a);
    if (!parser.parse(list)) {
        *error = parser.errorText().toStdString();
        return false;
    }
    for (const auto& [option, port] :
         {std::pair{&video_port, &o->video_port}, {&sound_port, &o->sound_port}}) {
        if (!platform::ParsePort(parser.value(*option), port)) {
            *error = "bad port '" + parser.value(*option).toStdString() + "'";
            return false;
        }
    }
    if (!ParseNumber(parser.value(seconds).toStdString(), 0.1, 86400, &o->seconds)) {
        *error = "bad number of seconds '" + parser.value(seconds).toStdString() + "'";
        return false;
    }
    double n = 0;
    if (parser.isSet(frames)) {
        if (!ParseWhole(parser.value(frames), 1, 1e9, &n)) {
            *error = "bad frame count '" + parser.value(frames).toStdString() + "'";
            return false;
        }
        o->frames = static_cast<long>(n);
    }
    o->alarm = parser.isSet(alarm);
    o->save_dir = parser.value(save_dir).toStdString();
    const QStringList hosts = parser.positionalArguments();
    if (hosts.size() != 1) {
        *error = hosts.isEmpty() ? "no HOST given" : "more than one HOST given";
        return false;
    }
    o->host = hosts.first().toStdString();
    return true;
}

class Probe {
  public:
    explicit Probe(const ProbeOptions& options) : o_(options) {
        codec_.敷居 = codec::kReceiverThreshold;
    }  // as the receivers decode

    int Run();

  private:
    using Clock = std::chrono::steady_clock;
    using SOCKET = CSock::SOCKET;

    void OnSocket(SOCKET s, std::int32_t lparam);
    void OnConnect(SOCKET s, int error);
    void OnVideoRead();
    void OnSoundRead();
    void OnClose(SOCKET s, int error);
    void RequestFrame();
    void FrameArrived();
    bool SaveFrame(const std::uint8_t* payload, std::size_t size);
    void MeasureLatency(std::size_t payload);
    std::string LatencySummary() const;
    void Tick();
    void Finish(int status);
    int Summary();

    ProbeOptions o_;
    platform::Window window_;
    platform::Timer second_timer_;
    CSock video_;
    CSock sound_;
    std::array<std::uint8_t, 65536> video_buf_{};
    std::array<std::uint8_t, CSock::kWaveBlockBytes> sound_buf_{};
    Clock::time_point connected_at_{};
    Clock::time_point last_frame_at_{};
    Clock::time_point last_block_at_{};
    double longest_frame_gap_ms_ = 0;  // between two frames, and between two sound blocks
    double longest_block_gap_ms_ = 0;
    bool video_up_ = false;
    bool in_flight_ = false;
    bool alarm_sent_ = false;
    bool paused_ = false;
    bool stall_reported_ = false;
    bool finished_ = false;
    int status_ = 1;
    int seconds_ = 0;
    long frames_ = 0;
    long blocks_ = 0;
    long frames_at_tick_ = 0;
    long blocks_at_tick_ = 0;
    double frame_bytes_ = 0;
    // Capture-to-decode latency: each frame decoded and the test picture's time stamp read back.
    CCODEC codec_;
    std::vector<std::uint8_t> picture_ = std::vector<std::uint8_t>(230400);
    receiver::FrameStats stats_;  // capture-to-decode latency, counted as the receivers count it
};

void Probe::MeasureLatency(std::size_t payload) {
    if (codec_.DecodeDCTPress(std::span<const std::uint8_t>(video_buf_.data(), payload), picture_) != 0)
        return;
    stats_.FramePainted(picture_.data(), platform::MonotonicMicros());
}

std::string Probe::LatencySummary() const {
    const receiver::FrameStats::Latency latency = stats_.Summary();
    if (latency.samples == 0) return "latency: none (the pictures carry no time stamp)";
    char text[96];
    std::snprintf(text, sizeof text, "latency_median_ms=%.2f latency_p99_ms=%.2f (capture to decode)",
                  latency.median_ms, latency.p99_ms);
    return text;
}

int Probe::Run() {
    if (!o_.save_dir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(o_.save_dir, ec);
        if (ec) return streamtool::Fail(kName, "cannot create " + o_.save_dir + ": " + ec.message());
    }
    hMainWnd = &window_;
    window_.SetWindowProc(
        [this](platform::HWND, platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp) {
            if (msg == platform::WM_SOCKET) OnSocket(static_cast<SOCKET>(wp), static_cast<std::int32_t>(lp));
            return platform::LRESULT{0};
        });
    second_timer_.SetHandler([this] { Tick(); });
    second_timer_.SetInterval(1000);

    video_.SetClient(o_.video_port, o_.host);  // the sound connection follows once this one is up
    const bool ended = platform::RunUntil([this] { return finished_; }, static_cast<int>(o_.seconds * 1000));
    if (!ended && !video_up_) {
        streamtool::Fail(kName, "no answer from " + o_.host + ":" + std::to_string(o_.video_port) +
                                    " within " + std::to_string(o_.seconds) + " s");
        status_ = 2;
    }
    second_timer_.SetInterval(0);
    video_.CloseSock();
    sound_.CloseSock();
    video_.WSAClose();
    sound_.WSAClose();
    hMainWnd = nullptr;
    return Summary();
}

void Probe::OnSocket(SOCKET s, std::int32_t lparam) {
    if (finished_ || s == 0) return;
    const int event = CSock::LWORD(lparam);
    const int error = static_cast<std::uint16_t>(CSock::HWORD(lparam));
    if (event == winsock::FD_CONNECT) OnConnect(s, error);
    if (event == winsock::FD_WRITE && s == video_.MySock && !in_flight_ && !paused_) RequestFrame();
    if (event == winsock::FD_READ && s == video_.MySock) OnVideoRead();
    if (event == winsock::FD_READ && s == sound_.MySock) OnSoundRead();
    if (event == winsock::FD_CLOSE) OnClose(s, error);
}

void Probe::OnConnect(SOCKET s, int error) {
    const bool video = s == video_.MySock;
    if (!video && s != sound_.MySock) return;
    const std::uint16_t port = video ? o_.video_port : o_.sound_port;
    if (error != 0) {
        const std::string where = o_.host + ":" + std::to_string(port);
        if (video) {
            streamtool::Fail(kName,
                             "cannot connect to " + where + " (video): " + winsock::DescribeError(error));
            Finish(2);
        } else {
            streamtool::Fail(kName, "cannot connect to " + where + " (sound): " +
                                        winsock::DescribeError(error) + "; going on without sound");
            sound_.CloseSock();
        }
        return;
    }
    const std::int16_t on = -1;
    winsock::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), 2);
    // The video connection asks for frames on FD_WRITE; the sound connection only listens.
    const long events = video ? winsock::FD_READ | winsock::FD_WRITE | winsock::FD_CLOSE
                              : winsock::FD_READ | winsock::FD_CLOSE;
    winsock::WSAAsyncSelect(s, hMainWnd, platform::WM_SOCKET, events);
    if (video) {
        video_up_ = true;
        connected_at_ = last_frame_at_ = Clock::now();
        // Only now: the server pairs a sound connection with the video connection accepted just before it.
        sound_.SetClient(o_.sound_port, o_.host);
    }
}

void Probe::RequestFrame() {
    in_flight_ = video_.SendStartData(kVideoNextRequest);
    if (!in_flight_) {
        streamtool::Fail(kName, "the frame request could not be sent");
        Finish(frames_ > 0 ? 0 : 1);
    }
}

void Probe::OnVideoRead() {
    video_.RecvVideoData(video_buf_);
    if (video_.FLG != platform::kTrue) return;
    video_.FLG = platform::kFalse;
    in_flight_ = false;
    FrameArrived();
}

// The longest time between two arrivals so far; the first arrival only starts the count.
void NoteGap(long arrivals, std::chrono::steady_clock::time_point* last, double* longest_ms) {
    const auto now = std::chrono::steady_clock::now();
    if (arrivals > 1)
        *longest_ms = std::max(*longest_ms, std::chrono::duration<double, std::milli>(now - *last).count());
    *last = now;
}

void Probe::FrameArrived() {
    ++frames_;
    NoteGap(frames_, &last_frame_at_, &longest_frame_gap_ms_);
    stall_reported_ = false;
    const std::size_t payload = static_cast<std::size_t>(video_.LastVideoSize()) - 2;  // without the marker
    frame_bytes_ += static_cast<double>(payload);
    MeasureLatency(payload);
    if (!o_.save_dir.empty() && !SaveFrame(video_buf_.data(), payload)) return Finish(1);
    if (o_.frames > 0 && frames_ >= o_.frames) return Finish(0);
    if (o_.alarm && !alarm_sent_) {
        alarm_sent_ = true;
        video_.SendStartData(kDangerRequest);
        std::printf("alarm request sent\n");
        paused_ = true;
        QTimer::singleShot(kAlarmPauseMs, [this] {
            paused_ = false;
            if (!finished_ && video_.MySock != 0) RequestFrame();
        });
        return;
    }
    RequestFrame();
}

bool Probe::SaveFrame(const std::uint8_t* payload, std::size_t size) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06ld.bin", frames_);
    const std::filesystem::path path = std::filesystem::path(o_.save_dir) / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(payload), static_cast<std::streamsize>(size));
    out.close();
    if (out) return true;
    streamtool::Fail(kName, "cannot write " + path.string());
    return false;
}

void Probe::OnSoundRead() {
    sound_.RecvWaveData(sound_buf_);
    if (sound_.FWG != platform::kTrue) return;
    sound_.FWG = platform::kFalse;
    ++blocks_;
    NoteGap(blocks_, &last_block_at_, &longest_block_gap_ms_);
}

void Probe::OnClose(SOCKET s, int error) {
    CSock& sock = s == video_.MySock ? video_ : sound_;
    if (s != sock.MySock) return;
    const char* which = &sock == &video_ ? "video" : "sound";
    std::string why = "the server closed the " + std::string(which) + " connection";
    if (sock.LastFailure() != CSock::Failure::kNone && sock.LastFailedSock() == s) {
        why =
            "the " + std::string(which) + " connection broke: " + CSock::DescribeFailure(sock.LastFailure());
    } else if (error != 0) {
        why += std::string(" (") + winsock::DescribeError(error) + ")";
    }
    streamtool::Fail(kName, why);
    sock.CloseSock();
    if (&sock == &video_) Finish(frames_ > 0 ? 0 : 1);
}

void Probe::Tick() {
    ++seconds_;
    std::printf("%d s: frames=%ld (+%ld) sound_blocks=%ld (+%ld)", seconds_, frames_,
                frames_ - frames_at_tick_, blocks_, blocks_ - blocks_at_tick_);
    if (const auto latency = stats_.LastLatencyMicros())
        std::printf(" latency_ms=%.2f", static_cast<double>(*latency) / 1000.0);
    std::printf("\n");
    std::fflush(stdout);
    frames_at_tick_ = frames_;
    blocks_at_tick_ = blocks_;
    const auto quiet = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - last_frame_at_);
    if (video_up_ && !stall_reported_ && quiet.count() >= kStallWarningSeconds) {
        stall_reported_ = true;
        streamtool::Fail(kName,
                         "no frame for " + std::to_string(quiet.count()) + " s: the server does not answer");
    }
}

void Probe::Finish(int status) {
    if (finished_) return;
    finished_ = true;
    status_ = status;
}

int Probe::Summary() {
    if (frames_ == 0 && video_up_) streamtool::Fail(kName, "no frame arrived");
    const double elapsed =
        video_up_ ? std::chrono::duration<double>(Clock::now() - connected_at_).count() : 0.0;
    const long mean = frames_ > 0 ? static_cast<long>(frame_bytes_ / static_cast<double>(frames_) + 0.5) : 0;
    const double fps = elapsed > 0 ? static_cast<double>(frames_) / elapsed : 0.0;
    std::printf("%s\n", LatencySummary().c_str());
    std::printf("longest_frame_gap_ms=%.1f longest_sound_gap_ms=%.1f\n", longest_frame_gap_ms_,
                longest_block_gap_ms_);
    std::printf("frames=%ld sound_blocks=%ld mean_frame_bytes=%ld fps=%.2f\n", frames_, blocks_, mean, fps);
    std::fflush(stdout);
    if (frames_ > 0) return 0;
    return status_ == 2 ? 2 : 1;
}

int RunProbe(const std::vector<std::string>& args) {
    ProbeOptions options;
    std::string error;
    if (!ParseOptions(args, &options, &error)) {
        return streamtool::Fail(kName, error +
                                           "\nusage: streamtool probe [--video-port N] [--sound-port N] "
                                           "[--seconds S] [--frames N] [--alarm] [--save-dir DIR] HOST");
    }
    return Probe(options).Run();
}

const streamtool::Register kProbe({
    kName,
    "probe [--video-port N] [--sound-port N] [--seconds S] [--frames N] [--alarm] [--save-dir DIR] HOST",
    "connect to a server as a receiver does; count frames and sound blocks (defaults: ports 8001 and 8002, 5 "
    "s)",
    RunProbe,
});

}  // namespace
