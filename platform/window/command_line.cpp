#include "platform/window/command_line.h"

namespace platform {

bool ParsePort(const QString& text, std::uint16_t* port) {
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value < 1 || value > 65535) return false;
    *port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace platform
