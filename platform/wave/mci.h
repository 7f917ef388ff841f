// Sound commands in the style of mciSendString, for playing short WAV files (the server's chime and
// alarm) through the output backend chosen with SetWaveOutBackend:
//   open FILE [type waveaudio] alias NAME   loads FILE (relative names are in the program's folder)
//   play NAME [from MS]                     starts playing from the beginning (or MS milliseconds in),
//                                           interrupting a play in progress, and returns at once
//   stop NAME                               stops playing
//   close NAME | close all                  stops and forgets the sound(s)
// Keywords and names are case-insensitive; a FILE with spaces goes in double quotes. A missing or
// unreadable file only means silence: open fails and later plays of the name fail too.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/window/window.h"

namespace platform {

using MCIERROR = std::uint32_t;

constexpr MCIERROR MCIERR_UNRECOGNIZED_KEYWORD = 259;
constexpr MCIERROR MCIERR_UNRECOGNIZED_COMMAND = 261;
constexpr MCIERROR MCIERR_INVALID_DEVICE_NAME = 263;
constexpr MCIERROR MCIERR_DEVICE_OPEN = 265;
constexpr MCIERROR MCIERR_MISSING_COMMAND_STRING = 267;
constexpr MCIERROR MCIERR_BAD_INTEGER = 270;
constexpr MCIERROR MCIERR_MISSING_PARAMETER = 273;
constexpr MCIERROR MCIERR_FILE_NOT_FOUND = 275;
constexpr MCIERROR MCIERR_DEVICE_NOT_READY = 276;
constexpr MCIERROR MCIERR_DUPLICATE_ALIAS = 289;
constexpr MCIERROR MCIERR_INVALID_FILE = 296;

// Runs one command; 0 on success. No command returns text: returnString, when given, is emptied.
MCIERROR mciSendString(std::string_view command, char* returnString = nullptr, UINT returnLength = 0,
                       HWND callback = nullptr);

// How many sounds are open and how many of them are playing now (for tests and diagnostics).
int MciOpenCount();
int MciPlayingCount();

}  // namespace platform
