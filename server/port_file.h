// The ports the server listens on, written for whoever started it (--port-file): with ports of the system's
// choosing (0), a test or a script learns there where to connect. One line "name=port" each for video, sound
// and http (0 when the web face is off); the file appears whole, by rename, so that a reader never sees half.
#pragma once

#include <cstdint>
#include <string>

namespace tessaly {

struct ListeningPorts {
    std::uint16_t video = 0;
    std::uint16_t sound = 0;
    std::uint16_t http = 0;
};

// False, with one line for the user in *error, when the file cannot be written.
bool WritePortFile(const std::string& path, const ListeningPorts& ports, std::string* error);

}  // namespace tessaly
