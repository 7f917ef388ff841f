// Whole-program figures of the receivers over 127.0.0.1, each started as its own process (build/bin/quillon,
// build/bin/brondel) against a server stand-in in this process that works as the real server does: it
// captures the time-stamped test picture at 15 frames per second, encodes each capture into its current
// frame, sends each receiver every frame once (a request for a frame it has waits for the next capture) and
// pushes a sound block every 0.2 s.
//   Quillon: capture-to-paint latency (median, 99th percentile, at the first painting of each capture),
//            paintings and fresh captures per second, CPU share, resident memory and the bytes per second on
//            its video connection (read with `ss`); against the stand-in and against tessaly itself.
//   Brondel: both servers' frame rates with Timer1 at 200 ms and at 1 ms.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "codec/CCODEC.h"
#include "platform/capture/testpattern.h"
#include "platform/capture/timestamp.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string BinDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

int ListenOn(const char* address, std::uint16_t port, std::uint16_t* bound) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
    ::listen(fd, 8);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *bound = ntohs(a.sin_port);
    return fd;
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t k = ::send(fd, data, size, MSG_NOSIGNAL);
        if (k <= 0) return false;
        data += k;
        size -= static_cast<std::size_t>(k);
    }
    return true;
}

// The server stand-in: one thread, poll-driven, capture at 15 frames per second.
class StandInServer {
  public:
    StandInServer(const char* address, std::uint16_t video_port, std::uint16_t sound_port) {
        video_listen_ = ListenOn(address, video_port, &video_port_);
        sound_listen_ = ListenOn(address, sound_port, &sound_port_);
        codec_.敷居 = 10;
        thread_ = std::thread([this] { Run(); });
    }
    ~StandInServer() {
        stop_ = true;
        thread_.join();
        for (int fd : {video_listen_, sound_listen_, video_, sound_})
            if (fd >= 0) ::close(fd);
    }
    std::uint16_t VideoPort() const { return video_port_; }
    std::uint16_t SoundPort() const { return sound_port_; }

  private:
    void Capture() {
        pattern_.Render(picture_.data(), captures_++, platform::MonotonicMicros());
        if (codec_.EncodeDCTPress(picture_, frame_) != 0) return;
        frame_size_ = static_cast<std::size_t>(codec_.SendDataSize);
        frame_[frame_size_] = 0xFF;
        frame_[frame_size_ + 1] = 0xFF;
        ++encoded_;
        if (waiting_) Answer();
    }
    void Answer() {
        waiting_ = false;
        sent_ = encoded_;
        SendAll(video_, frame_.data(), frame_size_ + 2);
    }
    void Run() {
        const auto capture_period = std::chrono::microseconds(66667);
        const auto sound_period = std::chrono::milliseconds(200);
        auto next_capture = Clock::now();
        auto next_sound = Clock::now() + sound_period;
        std::vector<std::uint8_t> block(1600, 0x35);
        std::string pending;
        const std::string request("V\0i\0d\0e\0o\0N\0e\0x\0t\0|\0E\0N\0D\0", 26);
        while (!stop_) {
            if (Clock::now() >= next_capture) {
                Capture();
                next_capture += capture_period;
            }
            if (sound_ >= 0 && Clock::now() >= next_sound) {
                SendAll(sound_, block.data(), block.size());
                next_sound += sound_period;
            }
            pollfd fds[3] = {{video_listen_, POLLIN, 0}, {sound_listen_, POLLIN, 0}, {video_, POLLIN, 0}};
            const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(next_capture - Clock::now());
            ::poll(fds, video_ >= 0 ? 3 : 2, static_cast<int>(std::clamp<long>(wait.count(), 0, 5)));
            if ((fds[0].revents & POLLIN) && video_ < 0) {
                video_ = ::accept(video_listen_, nullptr, nullptr);
                sent_ = 0;
            }
            if ((fds[1].revents & POLLIN) && sound_ < 0) sound_ = ::accept(sound_listen_, nullptr, nullptr);
            if (video_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP))) {
                char buf[1024];
                const ssize_t n = ::recv(video_, buf, sizeof buf, 0);
                if (n <= 0) {
                    ::close(video_);
                    video_ = -1;
                    waiting_ = false;
                    continue;
                }
                pending.append(buf, static_cast<std::size_t>(n));
                std::size_t at;
                while ((at = pending.find(request)) != std::string::npos) {
                    pending.erase(0, at + request.size());
                    if (sent_ == encoded_)
                        waiting_ = true;
                    else
                        Answer();
                }
                if (pending.size() > 4096) pending.clear();
            }
        }
    }

    CCODEC codec_;
    platform::TestPattern pattern_;
    std::vector<std::uint8_t> picture_ = std::vector<std::uint8_t>(platform::TestPattern::kFrameBytes);
    std::vector<std::uint8_t> frame_ = std::vector<std::uint8_t>(codec::kFrameBufSize + 2);
    std::size_t frame_size_ = 0;
    std::uint64_t captures_ = 0;
    std::uint64_t encoded_ = 0;  // frames encoded so far; the one in frame_ is number encoded_
    std::uint64_t sent_ = 0;     // the number of the frame last sent on video_
    bool waiting_ = false;       // a request waits for the next frame
    std::atomic<bool> stop_{false};
    int video_listen_ = -1, sound_listen_ = -1, video_ = -1, sound_ = -1;
    std::uint16_t video_port_ = 0, sound_port_ = 0;
    std::thread thread_;
};

std::filesystem::path TempDir(const std::string& name, const std::string& init) {
    const auto dir = std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "init.txt") << init;
    return dir;
}

// CPU seconds (user + system) of a process.
double CpuSeconds(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
    double utime = 0, stime = 0;
    fields >> utime >> stime;
    return (utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double ResidentMiB(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// Bytes received so far on this machine's established connections to port (as `ss` reports them); -1 when
// ss cannot tell.
double BytesReceivedFrom(std::uint16_t port) {
    const std::string command =
        "ss -tinH state established '( dport = :" + std::to_string(port) + " )' 2>/dev/null";
    std::FILE* ss = ::popen(command.c_str(), "r");
    if (ss == nullptr) return -1;
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, ss)) > 0;) text.append(buf, n);
    ::pclose(ss);
    const std::regex field("bytes_received:([0-9]+)");
    double total = -1;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), field); it != std::sregex_iterator();
         ++it) {
        total = std::max(total, 0.0) + std::stod((*it)[1]);
    }
    return total;
}

struct Run {
    std::string output;
    double cpu_share = 0;
    double rss_mib = 0;
    double video_bytes_per_s = -1;
};

// Runs a receiver headless for `seconds`, measuring after a one-second warm-up, then ends it with "quit".
// With video_port, also the bytes per second that arrive on its video connection.
Run RunReceiver(const std::string& program, const std::vector<std::string>& args, double seconds,
                std::uint16_t video_port = 0) {
    QProcess process;
    QStringList list;
    for (const auto& a : args) list << QString::fromStdString(a);
    process.start(QString::fromStdString(BinDir() + "/" + program), list);
    Run run;
    if (!process.waitForStarted(5000)) return run;
    process.waitForFinished(1000);  // warm-up
    const double cpu0 = CpuSeconds(process.processId());
    const double bytes0 = video_port != 0 ? BytesReceivedFrom(video_port) : -1;
    const auto t0 = Clock::now();
    process.waitForFinished(static_cast<int>(seconds * 1000));
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    run.cpu_share = (CpuSeconds(process.processId()) - cpu0) / elapsed;
    const double bytes1 = bytes0 >= 0 ? BytesReceivedFrom(video_port) : -1;
    if (bytes1 >= bytes0 && bytes0 >= 0) run.video_bytes_per_s = (bytes1 - bytes0) / elapsed;
    run.rss_mib = ResidentMiB(process.processId());
    process.write("quit\n");
    if (!process.waitForFinished(5000)) process.kill();
    run.output = process.readAllStandardOutput().toStdString();
    return run;
}

// The mean of the per-second figures captured by `pattern` (first group), skipping the first line.
double MeanOf(const std::string& output, const std::regex& pattern, int group = 1) {
    double sum = 0;
    int n = 0, seen = 0;
    for (auto it = std::sregex_iterator(output.begin(), output.end(), pattern); it != std::sregex_iterator();
         ++it) {
        if (seen++ == 0) continue;
        sum += std::stod((*it)[group]);
        ++n;
    }
    return n > 0 ? sum / n : 0;
}

// The figures of one quillon run: latency from its last console line, paintings per second, CPU, memory.
void ReportQuillonRun(benchmark::State& state, const Run& run) {
    std::smatch m;
    if (std::regex_search(run.output, m, std::regex("latency median ([0-9.]+) ms  p99 ([0-9.]+) ms\\n?$"))) {
        state.counters["latency_median_ms"] = std::stod(m[1]);
        state.counters["latency_p99_ms"] = std::stod(m[2]);
    }
    state.counters["paintings_per_s"] = MeanOf(run.output, std::regex("frames/s ([0-9]+)  sound"));
    state.counters["cpu_share"] = run.cpu_share;
    state.counters["rss_MiB"] = run.rss_mib;
    if (run.video_bytes_per_s >= 0) state.counters["video_bytes_per_s"] = run.video_bytes_per_s;
}

void BM_QuillonOverLoopback(benchmark::State& state) {
    StandInServer server("127.0.0.1", 0, 0);
    const auto dir = TempDir("quillon_bench", "127.0.0.1\n");
    Run run;
    for (auto _ : state) {
        run = RunReceiver("quillon",
                          {"--headless", "--connect", "--dir", dir.string(), "--video-port",
                           std::to_string(server.VideoPort()), "--sound-port",
                           std::to_string(server.SoundPort()), "--audio-out", "null"},
                          5.0, server.VideoPort());
    }
    ReportQuillonRun(state, run);
    std::filesystem::remove_all(dir);
}

// The same figures against the real server (build/bin/tessaly with its test picture and tone), when built.
void BM_QuillonWithTessaly(benchmark::State& state) {
    const std::string tessaly = BinDir() + "/tessaly";
    if (!std::filesystem::exists(tessaly)) {
        state.SkipWithError("tessaly is not built");
        return;
    }
    std::uint16_t video = 0, sound = 0;
    for (std::uint16_t* port : {&video, &sound}) {
        const int fd = ListenOn("127.0.0.1", 0, port);
        ::close(fd);
    }
    const auto dir = TempDir("quillon_tessaly_bench", "127.0.0.1\n");
    QProcess server;
    server.start(QString::fromStdString(tessaly),
                 {"--headless", "--serve", "--capture", "testpattern", "--audio-in", "tone", "--audio-out",
                  "null", "--bind", "127.0.0.1", "--video-port", QString::number(video), "--sound-port",
                  QString::number(sound), "--http-port", "0", "--dir", QString::fromStdString(dir.string())});
    server.waitForStarted(5000);
    server.waitForFinished(1500);  // let it start listening
    Run run;
    for (auto _ : state) {
        run =
            RunReceiver("quillon",
                        {"--headless", "--connect", "--dir", dir.string(), "--video-port",
                         std::to_string(video), "--sound-port", std::to_string(sound), "--audio-out", "null"},
                        5.0, video);
    }
    server.write("quit\n");
    if (!server.waitForFinished(5000)) server.kill();
    ReportQuillonRun(state, run);
    std::filesystem::remove_all(dir);
}

void BrondelAtInterval(benchmark::State& state) {
    const int interval = static_cast<int>(state.range(0));
    StandInServer one("127.0.0.1", 0, 0);
    StandInServer two("127.0.0.2", one.VideoPort(), one.SoundPort());
    const auto dir = TempDir("brondel_bench", "127.0.0.1,127.0.0.2," + std::to_string(interval) + "\n");
    Run run;
    for (auto _ : state) {
        run = RunReceiver("brondel",
                          {"--headless", "--connect", "both", "--dir", dir.string(), "--video-port",
                           std::to_string(one.VideoPort()), "--sound-port", std::to_string(one.SoundPort()),
                           "--audio-out", "null"},
                          5.0);
    }
    const std::regex line("server 1 frames/s ([0-9]+)  server 2 frames/s ([0-9]+)");
    state.counters["server1_frames_per_s"] = MeanOf(run.output, line, 1);
    state.counters["server2_frames_per_s"] = MeanOf(run.output, line, 2);
    state.counters["cpu_share"] = run.cpu_share;
    state.counters["rss_MiB"] = run.rss_mib;
    std::filesystem::remove_all(dir);
}

BENCHMARK(BM_QuillonOverLoopback)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_QuillonWithTessaly)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BrondelAtInterval)->Arg(200)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
