// The address file: one address text and CR LF, in the program's folder.
#include <cerrno>
#include <cstring>
#include <fstream>

#include "net/CSock.h"
#include "platform/window/msgbox.h"
#include "platform/window/paths.h"

namespace {

// The first field of a line as a text value: leading spaces skipped, ended by a comma or the line's end;
// a field in double quotes ends at the closing quote.
std::string FirstField(const std::string& line) {
    std::size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos) return {};
    if (line[i] == '"') {
        const std::size_t close = line.find('"', i + 1);
        return line.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
    }
    std::string field = line.substr(i, line.find(',', i) - i);
    while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.pop_back();
    return field;
}

}  // namespace

std::string CSock::AdrFileLoad(const std::string& FNAME) {
    const std::string path = platform::InProgramFolder(FNAME);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int err = errno;
        platform::MessageBox(std::to_string(err) + " " + std::strerror(err) + ": " + path);
        return {};
    }
    std::string line;
    if (!std::getline(in, line)) {
        platform::MessageBox(std::to_string(ENODATA) + " the file holds no address: " + path);
        return {};
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return FirstField(line);
}

bool CSock::AdrFileSave(const std::string& FNAME, const std::string& Adr) {
    std::ofstream out(platform::InProgramFolder(FNAME), std::ios::binary | std::ios::trunc);
    out << Adr << "\r\n";
    out.close();
    return static_cast<bool>(out);
}
