#include "platform/version.h"

namespace platform {

const char* SuiteVersion() {
    return STREAM_VERSION;
}

const char* PackageName() {
    return STREAM_PACKAGE;
}

}  // namespace platform
