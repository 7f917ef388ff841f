// The cost of the socket layer: receivers ask "VideoNext|END" and a server answers each request with a
// 15,000-byte frame and its end marker, as fast as the exchange goes, over 127.0.0.1. As in the field, the
// server is another process (this program started again with --serve), so each side has its own processor.
// - CSockRequestResponse: CSock on both sides, each on its window thread, driven by WM_SOCKET
//   notifications as in the programs; the receivers share the bench's window thread.
// - BlockingSocketsRequestResponse: the same exchange with plain blocking sockets, a thread per receiver
//   and a thread per server connection.
// Each iteration is kRounds round trips of every receiver. Reported: fps (frames per second over all
// receivers), rtt_median_us (median time from request to complete frame) and cpu_us_per_frame (processor
// time of the receivers' process, every thread, per frame).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <algorithm>
#include <array>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "net/CSock.h"
#include "platform/window/window.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 50;
constexpr std::int32_t kFrameBytes = 15000;

std::vector<std::uint8_t> MakeFrame() {
    std::vector<std::uint8_t> frame(kFrameBytes + 2);
    for (std::int32_t i = 0; i < kFrameBytes; ++i) frame[i] = static_cast<std::uint8_t>(i % 251);  // no FF
    return frame;
}

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

std::uint16_t FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

double Median(std::vector<double>& v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Report(benchmark::State& state, long frames, std::vector<double>& rtts_us, double cpu_seconds) {
    state.SetItemsProcessed(frames);
    if (frames > 0) state.counters["cpu_us_per_frame"] = cpu_seconds * 1e6 / static_cast<double>(frames);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["rtt_median_us"] = Median(rtts_us);
}

// ---- CSock on the window thread ----

void NoDelay(CSock::SOCKET s) {
    const std::int16_t on = -1;
    winsock::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), 2);
}

bool SendAllBlocking(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t k = ::send(fd, data, size, MSG_NOSIGNAL);
        if (k <= 0) return false;
        data += k;
        size -= static_cast<std::size_t>(k);
    }
    return true;
}

// ---- The servers, each in a child process that ends when its standard input does ----

void EndWithParent() {
    std::thread([] {
        char c;
        while (::read(0, &c, 1) > 0) {
        }
        std::_Exit(0);
    }).detach();
}

void Ready() {
    std::printf("ready\n");
    std::fflush(stdout);
}

int ServeWithCSock(std::uint16_t port) {
    platform::Window window;
    hMainWnd = &window;
    CSock server(CSock::kServerMsgBufBound);
    std::array<CSock::SOCKET, 1> listening{};
    std::vector<std::uint8_t> frame = MakeFrame();
    std::u16string request;
    window.SetWindowProc([&](platform::HWND, platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp) {
        if (msg != platform::WM_SOCKET) return platform::LRESULT{0};
        const auto s = static_cast<CSock::SOCKET>(wp);
        if (lp == winsock::FD_ACCEPT) {
            CSock::SOCKET a = winsock::accept(s, nullptr, nullptr);
            NoDelay(a);
            winsock::WSAAsyncSelect(a, hMainWnd, platform::WM_SOCKET, winsock::FD_READ | winsock::FD_CLOSE);
        } else if (lp == winsock::FD_READ) {
            server.RecvStartDataSock(s, request);
            if (request.find(u"VideoNext") != std::u16string::npos) {
                server.SendDCTVideoDataSock(s, frame, kFrameBytes, 0);
            }
        } else if (lp == winsock::FD_CLOSE) {
            winsock::closesocket(s);
        }
        return platform::LRESULT{0};
    });
    server.SetBindAddress("127.0.0.1");
    server.SetListenSock(std::array<std::uint16_t, 1>{port}, listening);
    if (server.fServer != platform::kTrue) return 1;
    Ready();
    return QCoreApplication::exec();
}

// Server side of one connection: answer every read that holds "VideoNext" with the frame.
void ServeConnectionBlocking(int fd) {
    std::vector<std::uint8_t> out = MakeFrame();
    out[kFrameBytes] = out[kFrameBytes + 1] = 0xFF;
    std::vector<std::uint8_t> in(65536);
    const std::vector<std::uint8_t> word = {'V', 0,   'i', 0,   'd', 0,   'e', 0,   'o',
                                            0,   'N', 0,   'e', 0,   'x', 0,   't', 0};
    for (;;) {
        ssize_t n = ::recv(fd, in.data(), in.size() - 1, 0);
        if (n <= 0) break;
        if (std::search(in.begin(), in.begin() + n, word.begin(), word.end()) == in.begin() + n) continue;
        if (!SendAllBlocking(fd, out.data(), out.size())) break;
    }
    ::close(fd);
}

int ServeWithBlockingSockets(std::uint16_t port) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = Loopback(port);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 16) != 0)
        return 1;
    Ready();
    for (;;) {
        int s = ::accept(listener, nullptr, nullptr);
        if (s < 0) continue;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::thread(ServeConnectionBlocking, s).detach();
    }
}

// This program started again as a server; it ends when the benchmark closes its standard input.
class ServerProcess {
  public:
    ServerProcess(const char* kind, std::uint16_t port) {
        process_.start(QCoreApplication::applicationFilePath(),
                       {"--serve", QString::fromLatin1(kind), QString::number(port)});
        ready_ = process_.waitForStarted(5000) && process_.waitForReadyRead(5000) &&
                 process_.readAllStandardOutput().startsWith("ready");
    }
    ~ServerProcess() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
    bool Ready() const { return ready_; }

  private:
    QProcess process_;
    bool ready_ = false;
};

// ---- The receivers ----

// Receivers as CSock instances on the bench's window thread, each asking for the next frame as soon as one
// is complete, as the single-server receiver does.
class CSockReceivers {
  public:
    CSockReceivers(int receivers, std::uint16_t port) {
        hMainWnd = &window_;
        window_.SetWindowProc(
            [this](platform::HWND, platform::UINT msg, platform::WPARAM wp, platform::LPARAM lp) {
                if (msg == platform::WM_SOCKET)
                    OnSocket(static_cast<CSock::SOCKET>(wp), static_cast<std::int32_t>(lp));
                return platform::LRESULT{0};
            });
        for (int i = 0; i < receivers; ++i) {
            receivers_.push_back(std::make_unique<Receiver>());
            receivers_.back()->sock.SetClient(port, "127.0.0.1");
        }
        platform::RunUntil([&] { return connected_ == receivers; }, 5000);
        rtts_us_.reserve(1 << 20);
    }
    ~CSockReceivers() {
        for (auto& r : receivers_) r->sock.CloseSock();
        while (winsock::WSACleanup() == 0) {
        }
        hMainWnd = nullptr;
    }
    bool Ready() const { return connected_ == static_cast<int>(receivers_.size()); }

    void RunRounds() {
        active_ = static_cast<int>(receivers_.size());
        for (auto& r : receivers_) {
            r->rounds_left = kRounds;
            Ask(*r);
        }
        while (active_ > 0) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    std::vector<double>& Rtts() { return rtts_us_; }

  private:
    struct Receiver {
        CSock sock;
        int rounds_left = 0;
        Clock::time_point asked_at;
    };

    void Ask(Receiver& r) {
        r.asked_at = Clock::now();
        r.sock.SendStartData(kVideoNextRequest);
    }

    Receiver* Find(CSock::SOCKET s) {
        for (auto& r : receivers_) {
            if (r->sock.MySock == s) return r.get();
        }
        return nullptr;
    }

    void OnSocket(CSock::SOCKET s, std::int32_t lp) {
        Receiver* r = Find(s);
        if (r == nullptr) return;
        if (lp == winsock::FD_CONNECT) {
            NoDelay(s);
            winsock::WSAAsyncSelect(s, hMainWnd, platform::WM_SOCKET, winsock::FD_READ | winsock::FD_CLOSE);
            ++connected_;
        } else if (lp == winsock::FD_READ) {
            r->sock.RecvVideoData(video_buf_);
            if (r->sock.FLG != platform::kTrue) return;
            r->sock.FLG = platform::kFalse;
            rtts_us_.push_back(std::chrono::duration<double, std::micro>(Clock::now() - r->asked_at).count());
            if (--r->rounds_left > 0) {
                Ask(*r);
            } else {
                --active_;
            }
        }
    }

    platform::Window window_;
    std::vector<std::unique_ptr<Receiver>> receivers_;
    std::array<std::uint8_t, 65536> video_buf_{};
    std::vector<double> rtts_us_;
    int connected_ = 0;
    int active_ = 0;
};

// Receivers as blocking sockets, one thread each; the iterations are fenced by two barriers.
class BlockingReceivers {
  public:
    BlockingReceivers(int receivers, std::uint16_t port)
        : start_(receivers + 1), done_(receivers + 1), rtts_(static_cast<std::size_t>(receivers)) {
        for (int i = 0; i < receivers; ++i) {
            int c = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in to = Loopback(port);
            ok_ = ::connect(c, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 && ok_;
            int on = 1;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            threads_.emplace_back([this, c, i] { Loop(c, rtts_[static_cast<std::size_t>(i)]); });
        }
    }
    ~BlockingReceivers() {
        stop_ = true;
        start_.arrive_and_wait();
        for (auto& t : threads_) t.join();
    }
    bool Ready() const { return ok_; }
    void RunRounds() {
        start_.arrive_and_wait();
        done_.arrive_and_wait();
    }
    std::vector<double> Rtts() const {
        std::vector<double> all;
        for (const auto& v : rtts_) all.insert(all.end(), v.begin(), v.end());
        return all;
    }

  private:
    // Send the request, then read until the collected bytes end in FF FF.
    static bool RoundTrip(int fd, const std::vector<std::uint8_t>& request, std::vector<std::uint8_t>& buf) {
        if (!SendAllBlocking(fd, request.data(), request.size())) return false;
        std::size_t count = 0;
        for (;;) {
            ssize_t k = ::recv(fd, buf.data() + count, buf.size() - count, 0);
            if (k <= 0) return false;
            count += static_cast<std::size_t>(k);
            if (count >= 2 && buf[count - 2] == 0xFF && buf[count - 1] == 0xFF) return true;
        }
    }

    void Loop(int fd, std::vector<double>& rtts) {
        std::vector<std::uint8_t> request;
        for (char16_t ch : kVideoNextRequest) {
            request.push_back(static_cast<std::uint8_t>(ch & 0xFF));
            request.push_back(static_cast<std::uint8_t>(ch >> 8));
        }
        std::vector<std::uint8_t> buf(65536);
        rtts.reserve(1 << 18);
        for (;;) {
            start_.arrive_and_wait();
            if (stop_) break;
            for (int r = 0; r < kRounds; ++r) {
                const auto t0 = Clock::now();
                if (!RoundTrip(fd, request, buf)) break;
                rtts.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
            done_.arrive_and_wait();
        }
        ::close(fd);
    }

    std::barrier<> start_;
    std::barrier<> done_;
    std::atomic<bool> stop_{false};
    bool ok_ = true;
    std::vector<std::vector<double>> rtts_;
    std::vector<std::thread> threads_;
};

template <typename Receivers>
void RunExchange(benchmark::State& state, const char* server_kind) {
    const int receivers = static_cast<int>(state.range(0));
    const std::uint16_t port = FreePort();
    ServerProcess server(server_kind, port);
    if (!server.Ready()) {
        state.SkipWithError("the server process did not start");
        return;
    }
    auto exchange = std::make_unique<Receivers>(receivers, port);
    if (!exchange->Ready()) {
        state.SkipWithError("the receivers could not connect");
        return;
    }
    long frames = 0;
    const double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        exchange->RunRounds();
        frames += static_cast<long>(receivers) * kRounds;
    }
    const double used = ProcessCpuSeconds() - cpu;
    std::vector<double> rtts = exchange->Rtts();
    exchange.reset();
    Report(state, frames, rtts, used);
}

void CSockRequestResponse(benchmark::State& state) {
    RunExchange<CSockReceivers>(state, "csock");
}
void BlockingSocketsRequestResponse(benchmark::State& state) {
    RunExchange<BlockingReceivers>(state, "blocking");
}

BENCHMARK(CSockRequestResponse)->Arg(1)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BlockingSocketsRequestResponse)->Arg(1)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // the window thread's loop that CSock runs on
    if (argc == 4 && std::strcmp(argv[1], "--serve") == 0) {
        EndWithParent();
        const auto port = static_cast<std::uint16_t>(std::atoi(argv[3]));
        return std::strcmp(argv[2], "csock") == 0 ? ServeWithCSock(port) : ServeWithBlockingSockets(port);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
