// Sound commands: each open sound is loaded whole into memory and played as one buffer on its own output
// device, which stays open until the sound is played again, stopped or closed.
#include "platform/mci.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/wave.h"
#include "platform/wave_file.h"

namespace platform {
namespace {

struct Sound {
    WavSound wav;
    HWAVEOUT device = 0;
    WAVEHDR header;
};

struct Sounds {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<Sound>> by_alias;  // aliases in lower case
};

Sounds& Table() {
    static Sounds sounds;
    return sounds;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// Splits a command into words; a word in double quotes may hold spaces.
std::vector<std::string> Words(std::string_view command) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < command.size()) {
        if (std::isspace(static_cast<unsigned char>(command[i]))) {
            ++i;
            continue;
        }
        std::size_t end;
        if (command[i] == '"') {
            end = command.find('"', i + 1);
            if (end == std::string_view::npos) end = command.size();
            words.emplace_back(command.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        end = i;
        while (end < command.size() && !std::isspace(static_cast<unsigned char>(command[end]))) ++end;
        words.emplace_back(command.substr(i, end - i));
        i = end;
    }
    return words;
}

std::string Resolve(const std::string& file) {
    return !file.empty() && file.front() == '/' ? file : FindDataFile(file);
}

void Note(const std::string& line) {
    std::fprintf(stderr, "sound: %s\n", line.c_str());
}

// Stops the sound and closes its device; the header comes back from the reset before it is unprepared.
void Silence(Sound& s) {
    if (s.device == 0) return;
    waveOutReset(s.device);
    waveOutUnprepareHeader(s.device, &s.header, sizeof s.header);
    waveOutClose(s.device);
    s.device = 0;
}

MCIERROR Open(Sounds& t, const std::vector<std::string>& w) {
    // open FILE [type waveaudio] alias NAME
    std::string alias;
    for (std::size_t i = 2; i < w.size(); i += 2) {
        if (i + 1 >= w.size()) return MCIERR_MISSING_PARAMETER;
        const std::string key = Lower(w[i]);
        if (key == "alias") {
            alias = Lower(w[i + 1]);
        } else if (key != "type") {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    if (alias.empty()) alias = Lower(w[1]);
    if (t.by_alias.count(alias)) return MCIERR_DUPLICATE_ALIAS;
    auto sound = std::make_unique<Sound>();
    std::string error;
    const std::string path = Resolve(w[1]);
    if (!ReadWavFile(path, sound->wav, &error)) {
        Note(error + "; it stays silent");
        std::FILE* probe = std::fopen(path.c_str(), "rb");
        if (!probe) return MCIERR_FILE_NOT_FOUND;
        std::fclose(probe);
        return MCIERR_INVALID_FILE;
    }
    t.by_alias[alias] = std::move(sound);
    return 0;
}

MCIERROR StartPlaying(Sound& s, std::int64_t from_ms) {
    if (s.device == 0) {
        WAVEFORMATEX format;
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 1;
        format.nSamplesPerSec = s.wav.rate;
        format.wBitsPerSample = 16;
        format.nBlockAlign = 2;
        format.nAvgBytesPerSec = 2 * s.wav.rate;
        if (waveOutOpen(&s.device, WAVE_MAPPER, &format, nullptr, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
            s.device = 0;
            return MCIERR_DEVICE_NOT_READY;
        }
    } else {
        waveOutReset(s.device);  // from the beginning again, whatever was playing
    }
    const std::size_t total = s.wav.samples.size();
    const std::size_t first =
        std::min<std::size_t>(total, static_cast<std::size_t>(from_ms * s.wav.rate / 1000));
    s.header.lpData = reinterpret_cast<char*>(s.wav.samples.data() + first);
    s.header.dwBufferLength = static_cast<DWORD>(2 * (total - first));
    waveOutPrepareHeader(s.device, &s.header, sizeof s.header);
    return waveOutWrite(s.device, &s.header, sizeof s.header) == MMSYSERR_NOERROR ? 0
                                                                                  : MCIERR_DEVICE_NOT_READY;
}

MCIERROR Play(Sounds& t, const std::vector<std::string>& w) {
    // play NAME [from MS]
    auto it = t.by_alias.find(Lower(w[1]));
    if (it == t.by_alias.end()) return MCIERR_INVALID_DEVICE_NAME;
    std::int64_t from = 0;
    for (std::size_t i = 2; i < w.size(); i += 2) {
        if (Lower(w[i]) != "from") return MCIERR_UNRECOGNIZED_KEYWORD;
        if (i + 1 >= w.size()) return MCIERR_MISSING_PARAMETER;
        const std::string& n = w[i + 1];
        auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), from);
        if (ec != std::errc() || end != n.data() + n.size() || from < 0) return MCIERR_BAD_INTEGER;
    }
    return StartPlaying(*it->second, from);
}

MCIERROR StopOrClose(Sounds& t, const std::vector<std::string>& w, bool close) {
    if (w.size() > 2) return MCIERR_UNRECOGNIZED_KEYWORD;
    const std::string name = Lower(w[1]);
    if (close && name == "all") {
        for (auto& [alias, sound] : t.by_alias) Silence(*sound);
        t.by_alias.clear();
        return 0;
    }
    auto it = t.by_alias.find(name);
    if (it == t.by_alias.end()) return MCIERR_INVALID_DEVICE_NAME;
    Silence(*it->second);
    if (close) t.by_alias.erase(it);
    return 0;
}

}  // namespace

MCIERROR mciSendString(std::string_view command, char* returnString, UINT returnLength, HWND) {
    if (returnString && returnLength > 0) returnString[0] = '\0';
    const std::vector<std::string> w = Words(command);
    if (w.empty()) return MCIERR_MISSING_COMMAND_STRING;
    if (w.size() < 2) return MCIERR_MISSING_PARAMETER;
    const std::string verb = Lower(w[0]);
    Sounds& t = Table();
    std::lock_guard lock(t.mutex);
    if (verb == "open") return Open(t, w);
    if (verb == "play") return Play(t, w);
    if (verb == "stop") return StopOrClose(t, w, false);
    if (verb == "close") return StopOrClose(t, w, true);
    return MCIERR_UNRECOGNIZED_COMMAND;
}

int MciOpenCount() {
    Sounds& t = Table();
    std::lock_guard lock(t.mutex);
    return static_cast<int>(t.by_alias.size());
}

int MciPlayingCount() {
    Sounds& t = Table();
    std::lock_guard lock(t.mutex);
    return static_cast<int>(std::count_if(t.by_alias.begin(), t.by_alias.end(), [](const auto& entry) {
        return entry.second->device != 0 && (entry.second->header.dwFlags.load() & WHDR_INQUEUE);
    }));
}

}  // namespace platform
