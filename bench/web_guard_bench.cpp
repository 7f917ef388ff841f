// Whole-program figures of Tessaly's web face against hostile and slow clients, tessaly (build/bin) started
// as its own process serving its time-stamped test picture on 127.0.0.1:
//   StatusFirstByte: time to the first byte of /status.json for a viewer on 127.0.0.1, alone and under 60
//                    connections that trickle a header byte every 2 s plus 2,000 idle ones from other
//                    addresses of 127.0.0.0/8 (each reconnects when the server closes it); median of 10.
//   SlowViewerAge:   age of the newest whole picture that a viewer reading 20, 50 or 200 KB/s has after
//                    WEB_BENCH_SECONDS (default 60), with a small receive buffer (a slow link) and with the
//                    system's (a slow program).
//   StreamCpu:       the server's CPU share with 50 MJPEG viewers (curl) over TLS and over plain HTTP.
// Usage: build/bin/web_guard_bench [--benchmark_filter=...]
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <QProcess>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/capture/timestamp.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string BinDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

int Seconds() {
    const char* text = std::getenv("WEB_BENCH_SECONDS");
    return text != nullptr ? std::max(5, std::atoi(text)) : 60;
}

// tessaly with its web face on port (and extra options); waits for its page address.
class Server {
  public:
    Server(std::uint16_t port, const QStringList& extra) {
        QStringList args = {"--headless",   "--serve",
                            "--capture",    "testpattern",
                            "--audio-in",   "tone",
                            "--audio-out",  "null",
                            "--bind",       "127.0.0.1",
                            "--video-port", QString::number(port + 1),
                            "--sound-port", QString::number(port + 2),
                            "--http-port",  QString::number(port)};
        process_.start(QString::fromStdString(BinDir() + "/tessaly"), args + extra);
        for (int waits = 0; waits < 100 && !process_.readAllStandardOutput().contains("web: "); ++waits)
            process_.waitForReadyRead(100);
    }
    ~Server() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) process_.kill();
    }
    // Seconds of CPU the server used so far.
    double CpuSeconds() const {
        std::ifstream in("/proc/" + std::to_string(process_.processId()) + "/stat");
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream rest(all.substr(all.rfind(')') + 2));
        std::string field;
        long ticks = 0;
        for (int i = 1; i <= 13 && rest >> field; ++i) {
            if (i == 12 || i == 13) ticks += std::stol(field);
        }
        return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

  private:
    QProcess process_;
};

// A connection to 127.0.0.1:port from the address `from`; a flood's connections (`wait` false) do not wait
// for the server to accept them.
int Connect(std::uint16_t port, std::uint32_t from, int rcvbuf = 0, bool wait = true) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | (wait ? 0 : SOCK_NONBLOCK), 0);
    if (rcvbuf > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(from);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && (wait || errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Microseconds from connecting to the first byte of the answer to GET /status.json; -1 after 30 s.
double StatusFirstByteMicros(std::uint16_t port) {
    const auto start = Clock::now();
    const int fd = Connect(port, INADDR_LOOPBACK);
    if (fd < 0) return -1;
    const std::string request = "GET /status.json HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    pollfd p{fd, POLLIN, 0};
    char byte = 0;
    const bool answered = ::poll(&p, 1, 30000) == 1 && ::recv(fd, &byte, 1, 0) == 1;
    ::close(fd);
    return answered ? std::chrono::duration<double, std::micro>(Clock::now() - start).count() : -1;
}

// 60 trickling and 2,000 idle connections from 127.0.1.0 on, 8 per address, kept up until stopped.
class Attack {
  public:
    explicit Attack(std::uint16_t port) : port_(port) {
        rlimit files{};
        ::getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = files.rlim_max;  // 2,060 sockets at once
        ::setrlimit(RLIMIT_NOFILE, &files);
        thread_ = std::thread([this] { Run(); });
    }
    ~Attack() {
        stop_ = true;
        thread_.join();
        for (int fd : peers_) ::close(fd);
    }

    // Connections made so far, the first 2,060 and every one after the server closed one.
    int Connects() const { return connects_; }

  private:
    static constexpr int kTrickling = 60;
    static constexpr int kIdle = 2000;

    std::uint32_t From(int i) const { return 0x7F000100 + static_cast<std::uint32_t>(i / 8); }

    void Run() {
        peers_.assign(kTrickling + kIdle, -1);
        for (int round = 0; !stop_; ++round) {
            for (int i = 0; i < kTrickling + kIdle && !stop_; ++i) {
                char byte = 0;
                if (peers_[i] >= 0 &&
                    ::recv(peers_[i], &byte, 1, MSG_DONTWAIT) == 0) {  // closed by the server
                    ::close(peers_[i]);
                    peers_[i] = -1;
                }
                if (peers_[i] < 0) {
                    peers_[i] = Connect(port_, From(i), 0, false);
                    ++connects_;
                }
                if (i < kTrickling && peers_[i] >= 0 && round % 20 == 0)
                    ::send(peers_[i], "G", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    std::uint16_t port_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connects_{0};
    std::vector<int> peers_;
    std::thread thread_;
};

void StatusFirstByte(benchmark::State& state) {
    const bool attacked = state.range(0) != 0;
    Server server(18600, {});
    std::unique_ptr<Attack> attack;
    if (attacked) {
        attack = std::make_unique<Attack>(18600);
        std::this_thread::sleep_for(std::chrono::seconds(10));  // the attack at full strength
    }
    std::vector<double> times;
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i) times.push_back(StatusFirstByteMicros(18600));
        state.SetIterationTime(1);
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times[times.size() / 2] / 1000;
    state.counters["worst_ms"] = times.back() / 1000;
    state.counters["failed"] = static_cast<double>(std::count(times.begin(), times.end(), -1.0));
    if (attack) state.counters["attack_connects"] = attack->Connects();
}

// A viewer that reads `rate` bytes a second; returns the age in ms of its newest whole picture at the end.
// small_buffer: a 2 KB receive buffer (a slow link: what is not taken waits on the server's side); otherwise
// the system's size (a slow program: what it has not read waits in its own buffer).
double SlowViewerAge(std::uint16_t port, int rate, bool small_buffer, int seconds) {
    const int fd = Connect(port, INADDR_LOOPBACK, small_buffer ? 2048 : 0);
    const std::string request = "GET /stream.mjpg HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string body;
    std::int64_t newest_stamp = 0;
    tjhandle decoder = tjInitDecompress();
    std::vector<std::uint8_t> picture(320 * 240 * 3);
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    constexpr int kSlicesPerSecond = 20;
    while (Clock::now() < end) {
        char buf[65536];
        const ssize_t n =
            ::recv(fd, buf, std::min<std::size_t>(sizeof buf, rate / kSlicesPerSecond), MSG_DONTWAIT);
        if (n > 0) body.append(buf, static_cast<std::size_t>(n));
        // Whole parts: decode the newest one's time stamp, drop what is behind it.
        for (;;) {
            const std::size_t length_at = body.find("Content-Length: ");
            const std::size_t head_end = body.find("\r\n\r\n", length_at);
            if (length_at == std::string::npos || head_end == std::string::npos) break;
            const std::size_t length = std::stoul(body.substr(length_at + 16));
            if (head_end + 4 + length > body.size()) break;
            auto* jpeg = reinterpret_cast<const unsigned char*>(body.data() + head_end + 4);
            if (tjDecompress2(decoder, jpeg, length, picture.data(), 320, 0, 240, TJPF_BGR,
                              TJFLAG_BOTTOMUP) == 0) {
                if (const auto stamp = platform::ReadTimeStamp(picture.data())) newest_stamp = *stamp;
            }
            body.erase(0, head_end + 4 + length);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 / kSlicesPerSecond));
    }
    tjDestroy(decoder);
    ::close(fd);
    return newest_stamp == 0 ? -1 : static_cast<double>(platform::MonotonicMicros() - newest_stamp) / 1000;
}

void SlowViewer(benchmark::State& state) {
    Server server(18610, {});
    double age = 0;
    for (auto _ : state) {
        age = SlowViewerAge(18610, static_cast<int>(state.range(0)) * 1000, state.range(1) != 0, Seconds());
        state.SetIterationTime(1);
    }
    state.counters["newest_picture_age_ms"] = age;
}

// CPU share of the server over `seconds` with `viewers` curl MJPEG viewers on url.
double StreamCpu(const Server& server, const std::string& url, int viewers, int seconds) {
    std::vector<std::unique_ptr<QProcess>> clients;
    for (int i = 0; i < viewers; ++i) {
        clients.push_back(std::make_unique<QProcess>());
        clients.back()->start("curl", {"-sk", "--max-time", QString::number(seconds + 5), "-o", "/dev/null",
                                       QString::fromStdString(url)});
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // every viewer connected
    const double before = server.CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = server.CpuSeconds() - before;
    for (auto& c : clients) {
        c->kill();
        c->waitForFinished(2000);
    }
    return used / seconds;
}

void StreamCpuTlsAgainstPlain(benchmark::State& state) {
    const std::string folder = std::filesystem::temp_directory_path() / "web_guard_bench_tls";
    const int seconds = std::max(10, Seconds() / 3);
    Server plain(18620, {"--http-max-viewers", "60", "--http-per-address", "60"});
    Server tls(18630, {"--http-max-viewers", "60", "--http-per-address", "60", "--https-self-signed",
                       QString::fromStdString(folder)});
    double plain_share = 0, tls_share = 0;
    for (auto _ : state) {
        plain_share = StreamCpu(plain, "http://127.0.0.1:18620/stream.mjpg", 50, seconds);
        tls_share = StreamCpu(tls, "https://127.0.0.1:18630/stream.mjpg", 50, seconds);
        state.SetIterationTime(1);
    }
    state.counters["plain_cpu_share"] = plain_share;
    state.counters["tls_cpu_share"] = tls_share;
    std::filesystem::remove_all(folder);
}

}  // namespace

BENCHMARK(StatusFirstByte)
    ->ArgName("attacked")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(SlowViewer)
    ->ArgNames({"KBps", "small_buffer"})
    ->ArgsProduct({{20, 50, 200}, {1, 0}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(StreamCpuTlsAgainstPlain)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
