// Front-ends that live in a shared library of their own, so that a program runs without the libraries they
// need (a server without a desktop) and takes its window only where that library is installed.
//
// The library lives in a folder named relative to the executable's (on Debian ../lib/<triplet>/<program>),
// the same in a build tree and when installed. It runs on the program's own copies of the shared classes (the
// program exports its symbols), so it must come from the same release: it exports `const char*
// frontend_release()`, and a library whose release differs from the program's is refused rather than handed
// objects whose layout it may not know.
#pragma once

#include <QLibrary>
#include <string>

namespace platform {

// <executable folder>/<folder>/<name>.so: where the program's front-end library called `name` lives.
std::string FrontendLibraryPath(const std::string& folder, const std::string& name);

class FrontendLibrary {
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
