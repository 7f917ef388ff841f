#include "platform/plugin/plugin.h"

#include <filesystem>
#include <system_error>

namespace platform {
namespace {

std::string ExecutableFolder() {
    std::error_code ec;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    return executable.parent_path().string();
}

}  // namespace

std::string PluginLibraryPath(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(ExecutableFolder()) / folder / (name + ".so")).lexically_normal().string();
}

bool PluginLibrary::Load(const std::string& path, const std::string& release, std::string* error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        *error = path + " is not installed";
        return false;
    }
    library_.setFileName(QString::fromStdString(path));
    library_.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library_.load()) {
        *error = library_.errorString().toStdString();
        return false;
    }
    auto release_of = reinterpret_cast<const char* (*)()>(library_.resolve("plugin_release"));
    if (release_of == nullptr) {
        *error = path + " names no release (plugin_release)";
        return false;
    }
    if (release != release_of()) {
        *error = path + " is of release " + release_of() + ", the program of " + release;
        return false;
    }
    return true;
}

void* PluginLibrary::Entry(const char* name) {
    return reinterpret_cast<void*>(library_.resolve(name));
}

}  // namespace platform
