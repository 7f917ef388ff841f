// The texts of the receivers' status boxes: the session's states and the reasons a connection could not be
// made. Each must be read whole in the narrowest status box (153 pixels in Quillon's 320X240 layout), so
// every reason is a few words with its Winsock error number after it.
#pragma once

#include <string>

namespace receiver {

// An attempt is under way and nothing has arrived from the server yet.
inline constexpr const char* kConnectingText = "接続中…";
// The first frame or sound block has arrived: the server is really there.
inline constexpr const char* kConnectedText = "接続しました。";
inline constexpr const char* kDisconnectedText = "切断しました。";
// The server closed the connection before sending anything (its allow list does this).
inline constexpr const char* kTurnedAwayText = "接続を断られました。";

// Why a connect failed, with its Winsock error number: "拒否されました (10061)".
std::string ConnectFailedText(int error);

// The status while waiting for the n-th attempt to connect again (n from 1).
std::string RetryText(int attempt);

}  // namespace receiver
