#include "paths.h"

#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <cstdlib>
#include <filesystem>

#include "platform/version.h"

namespace platform {
namespace {

std::string& Override() {
    static std::string folder;
    return folder;
}

std::string ExecutableFolder() {
    if (QCoreApplication::instance() == nullptr) return ".";
    return QCoreApplication::applicationDirPath().toStdString();
}

std::string Join(std::string folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() != '/') folder += '/';
    return folder + name;
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

bool IsFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// $XDG_CONFIG_HOME when it is an absolute path (as the XDG rules ask), else ~/.config.
std::string ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* entry = ::getpwuid(::getuid());
        home = entry != nullptr ? entry->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/') return {};
    return Join(home, ".config");
}

}  // namespace

std::string ProgramFolder() {
    if (!Override().empty()) return Override();
    return ExecutableFolder();
}

void SetProgramFolder(std::string folder) {
    Override() = std::move(folder);
}

std::string InProgramFolder(const std::string& name) {
    return Join(ProgramFolder(), name);
}

FolderFacts CurrentFolderFacts() {
    FolderFacts facts;
    facts.executable_folder = ExecutableFolder();
    facts.shared_data_folder =
        QDir::cleanPath(QString::fromStdString(facts.executable_folder) + "/../share/" + PackageName())
            .toStdString();
    facts.config_home = ConfigHome();
    facts.can_write = [](const std::string& folder) { return ::access(folder.c_str(), W_OK) == 0; };
    return facts;
}

std::string FindDataFile(const std::string& name, const FolderFacts& facts) {
    const std::string beside = InProgramFolder(name);
    if (IsFile(beside) || facts.shared_data_folder.empty()) return beside;
    const std::string shared = Join(facts.shared_data_folder, name);
    return IsFile(shared) ? shared : beside;
}

std::string ChooseReceiverFolder(const std::string& dir_option, const std::string& program_name,
                                 const FolderFacts& facts) {
    if (!dir_option.empty()) return dir_option;
    const std::string& own = facts.executable_folder;
    if (IsFile(Join(own, "init.txt"))) return own;
    if (!IsFolder(facts.shared_data_folder) && facts.can_write(own)) return own;
    if (facts.config_home.empty()) return {};
    return Join(facts.config_home, program_name);
}

bool UseReceiverFolder(const std::string& dir_option, const std::string& program_name,
                       const FolderFacts& facts, std::string* error) {
    if (!dir_option.empty() && !IsFolder(dir_option)) {
        *error = "the folder " + dir_option + " does not exist";
        return false;
    }
    const std::string folder = ChooseReceiverFolder(dir_option, program_name, facts);
    if (folder.empty()) {
        *error = "no folder for init.txt and snapshots: " + facts.executable_folder +
                 " cannot be written and there is no home folder (give --dir DIR)";
        return false;
    }
    std::error_code ec;
    if (!IsFolder(folder) && !std::filesystem::create_directories(folder, ec)) {
        *error = "cannot create the folder " + folder + ": " + ec.message() + " (give --dir DIR)";
        return false;
    }
    SetProgramFolder(folder);
    return true;
}

}  // namespace platform
