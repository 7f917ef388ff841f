// The suite's release and its package's name, both fixed by the build: every program's --version prints the
// release, and installed programs find their shared files under <prefix>/share/<package name>/.
#pragma once

namespace platform {

// The release, e.g. "1.10.0".
const char* SuiteVersion();
// The package's name, e.g. "streamsuite".
const char* PackageName();

}  // namespace platform
