// Parts of a program that live in a shared library of their own (a window front-end, a recorder), so that
// the program runs without the libraries they need (a server without a desktop or a video encoder) and
// takes the part only where its library is installed.
//
// The library lives in a folder named relative to the executable's (on Debian ../lib/<triplet>/<program>),
// the same in a build tree and when installed. It may run on the program's own copies of the shared classes
// (the program exports its symbols), so it must come from the same release: it exports `const char*
// plugin_release()`, and a library whose release differs from the program's is refused rather than handed
// objects whose layout it may not know.
#pragma once

#include <QLibrary>
#include <string>

namespace platform {

// <executable folder>/<folder>/<name>.so: where the program's library called `name` lives.
std::string PluginLibraryPath(const std::string& folder, const std::string& name);

class PluginLibrary {
  public:
    // Loads the library at `path`, resolving all its symbols now, and checks that it is of `release`.
    // False with one line for the user (a missing file, a missing symbol, another release).
    bool Load(const std::string& path, const std::string& release, std::string* error);
    // The loaded library's entry point called `name`, or null.
    void* Entry(const char* name);

  private:
    QLibrary library_;
};

}  // namespace platform
