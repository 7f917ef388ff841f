#include "receiver/status_text.h"

#include "platform/winsock/winsock.h"

namespace receiver {

namespace {

// The short reason for each error a connect can end with; empty for one without its own words.
const char* ConnectFailureReason(int error) {
    switch (error) {
        case winsock::WSAECONNREFUSED:
            return "拒否されました";
        case winsock::WSAENETUNREACH:
        case winsock::WSAEHOSTUNREACH:
            return "到達できません";
        case winsock::WSAHOST_NOT_FOUND:
            return "ホスト名が不明";
        case winsock::WSAETIMEDOUT:
            return "時間切れです";
        case winsock::WSAEHOSTDOWN:
            return "ホスト停止中";
        case winsock::WSAENETDOWN:
            return "ネットワーク停止";
        case winsock::WSAEADDRNOTAVAIL:
            return "アドレス無効";
        case winsock::WSAECONNRESET:
        case winsock::WSAECONNABORTED:
            return "切断されました";
        case winsock::WSAEACCES:
            return "許可されません";
        case winsock::WSAENOBUFS:
        case winsock::WSAEMFILE:
            return "資源が足りません";
        default:
            return "";
    }
}

}  // namespace

std::string ConnectFailedText(int error) {
    const std::string reason = ConnectFailureReason(error);
    if (reason.empty()) return "接続できません。(" + std::to_string(error) + ")";
    return reason + " (" + std::to_string(error) + ")";
}

std::string RetryText(int attempt) {
    return "再接続中 (" + std::to_string(attempt) + " 回目)";
}

}  // namespace receiver
