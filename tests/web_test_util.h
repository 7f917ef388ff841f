// Shared by the web face's suites: a plain HTTP/1.0 client on 127.0.0.1 (so answers come unchunked and end
// with the connection) and the JPEG decoding that checks what the web face sends. Every read is bounded by
// the socket timeouts of the shared loopback helpers.
#pragma once

#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "csock_test_util.h"

namespace web_test {

struct HttpAnswer {
    int status = 0;  // 0: no answer at all
    std::string head;
    std::string body;
};

// Sends request (a whole HTTP request text) and reads the answer until the server closes the connection or
// the body holds max_body bytes; a server that stays silent for 10 s ends the wait.
inline HttpAnswer SendRequest(std::uint16_t port, const std::string& request,
                              std::size_t max_body = std::string::npos) {
    const int fd = csock_test::PeerConnect(port);
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    char buf[16384];
    std::size_t head_end = std::string::npos;
    for (int waits = 0;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && ++waits < 5) continue;  // 2 s each
        if (n <= 0) break;
        all.append(buf, static_cast<std::size_t>(n));
        if (head_end == std::string::npos) head_end = all.find("\r\n\r\n");
        if (head_end != std::string::npos && max_body != std::string::npos &&
            all.size() - head_end - 4 >= max_body)
            break;
    }
    ::close(fd);
    HttpAnswer answer;
    if (head_end == std::string::npos || all.compare(0, 9, "HTTP/1.1 ") != 0) return answer;
    answer.status = std::stoi(all.substr(9, 3));
    answer.head = all.substr(0, head_end);
    answer.body = all.substr(head_end + 4);
    return answer;
}

inline HttpAnswer Get(std::uint16_t port, const std::string& path, const std::string& extra_headers = "",
                      std::size_t max_body = std::string::npos) {
    return SendRequest(port,
                       "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" +
                           extra_headers + "\r\n",
                       max_body);
}

inline HttpAnswer Post(std::uint16_t port, const std::string& path, const std::string& extra_headers = "") {
    return SendRequest(port, "POST " + path + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                 "\r\nContent-Length: 0\r\n" + extra_headers + "\r\n");
}

// The JPEG parts of a multipart/x-mixed-replace body, in order (an unfinished last part is left out).
inline std::vector<std::string> MjpegParts(const std::string& body) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        const std::size_t length_at = body.find("Content-Length: ", at);
        const std::size_t head_end = body.find("\r\n\r\n", length_at);
        if (length_at == std::string::npos || head_end == std::string::npos) break;
        const std::size_t length = std::stoul(body.substr(length_at + 16));
        const std::size_t start = head_end + 4;
        if (start + length > body.size()) break;
        parts.push_back(body.substr(start, length));
        at = start + length;
    }
    return parts;
}

// A JPEG decoded into 320 x 240 blue, green, red bytes with the rows bottom-up (the capture buffer's
// layout); empty when it is no 320 x 240 JPEG.
inline std::vector<std::uint8_t> DecodeJpeg(const std::string& jpeg) {
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colours = 0;
    auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
    std::vector<std::uint8_t> picture(320 * 240 * 3);
    const bool ok =
        tjDecompressHeader3(handle, data, jpeg.size(), &width, &height, &subsampling, &colours) == 0 &&
        width == 320 && height == 240 &&
        tjDecompress2(handle, data, jpeg.size(), picture.data(), 320, 0, 240, TJPF_BGR, TJFLAG_BOTTOMUP) == 0;
    tjDestroy(handle);
    if (!ok) picture.clear();
    return picture;
}

// Peak signal-to-noise ratio over every colour byte, in dB.
inline double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    double squared = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        squared += d * d;
    }
    const double mean = squared / static_cast<double>(a.size());
    return mean == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mean);
}

}  // namespace web_test
