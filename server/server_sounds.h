// Tessaly's own sounds, made here so that the suite ships no recorded material.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {

// The server's sounds, 8,000 samples per second: a short two-note chime for a new connection and a
// repeated two-tone alarm.
std::vector<std::int16_t> MakeChimeSamples();
std::vector<std::int16_t> MakeAlarmSamples();
// Writes stream.wav (the chime) and danger.wav (the alarm) into folder.
bool WriteServerSounds(const std::string& folder, std::string* error);

}  // namespace tessaly
