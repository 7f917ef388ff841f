// The web face's settings, chosen on tessaly's command line, and the password file of --http-password-file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "web/tls_identity.h"

namespace web {

// One user name and password for HTTP Basic authentication; empty means every request is served.
struct Credentials {
    std::string user;
    std::string password;
    bool others_can_read = false;  // the file it came from may be read by other users of the machine
    std::string file;
    bool Empty() const { return user.empty() && password.empty(); }
};

struct Settings {
    std::string bind_address = "127.0.0.1";  // dotted IPv4 address to listen on
    std::uint16_t port = 0;                  // 0: no web face (tessaly's option defaults to 8080)
    int jpeg_quality = 80;                   // 1 to 100
    int max_viewers = 20;                    // open picture and sound streams at once
    int idle_timeout_s = 10;                 // a connection that moves no byte for this long is closed
    int request_deadline_s = 5;              // a request must arrive whole within this of its connection
    int per_address_limit = 8;               // connections at once from one address
    std::vector<std::string> host_names;     // names that Host may carry beside the built-in ones
    Credentials credentials;
    TlsIdentity tls;            // empty: plain HTTP
    bool tls_made_now = false;  // the self-signed pair was made at this start
    std::string recordings_folder;  // where /recordings/ is served from; empty: nothing is
    // Whether a peer (its IPv4 address as the socket layer holds it, network order) may connect; empty lets
    // everyone in. Called on the HTTP library's thread: it must only read.
    std::function<bool(std::int32_t address)> allows;
};

inline constexpr std::uint16_t kDefaultPort = 8080;
inline constexpr int kDefaultJpegQuality = 80;
inline constexpr int kDefaultMaxViewers = 20;
inline constexpr int kDefaultPerAddressLimit = 8;

// Reads a password file: its first line is USER:PASSWORD (the password may hold further colons; a line end
// of \n or \r\n is not part of it). Only that line is read, and no more than a line can hold. False, with a
// sentence in *error, when it cannot be read, is too big or holds no user name and password.
bool LoadPasswordFile(const std::string& path, Credentials* credentials, std::string* error);

// Compares two texts in a time that depends only on their lengths, so that timing does not tell a guesser
// how much of a password was right.
bool ConstantTimeEquals(const std::string& a, const std::string& b);

}  // namespace web
