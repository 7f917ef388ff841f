#include "platform/window/paths.h"

#include <unistd.h>

#include <QCoreApplication>

namespace platform {
namespace {

std::string& Override() {
    static std::string folder;
    return folder;
}

}  // namespace

std::string ProgramFolder() {
    if (!Override().empty()) return Override();
    if (QCoreApplication::instance() == nullptr) return ".";
    return QCoreApplication::applicationDirPath().toStdString();
}

void SetProgramFolder(std::string folder) { Override() = std::move(folder); }

std::string InProgramFolder(const std::string& name) {
    std::string folder = ProgramFolder();
    if (folder.empty()) return name;
    if (folder.back() != '/') folder += '/';
    return folder + name;
}

bool PathExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

}  // namespace platform
