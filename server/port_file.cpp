#include "server/port_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tessaly {

bool WritePortFile(const std::string& path, const ListeningPorts& ports, std::string* error) {
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::trunc);
        if (!out.is_open()) {
            *error = "cannot write the port file " + partial + ": " + std::strerror(errno);
            return false;
        }
        out << "video=" << ports.video << "\nsound=" << ports.sound << "\nhttp=" << ports.http << "\n";
        out.flush();
        if (!out) {
            *error = "cannot write the port file " + partial;
            std::remove(partial.c_str());
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(partial, path, ec);
    if (ec) {
        *error = "cannot write the port file " + path + ": " + ec.message();
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

}  // namespace tessaly
