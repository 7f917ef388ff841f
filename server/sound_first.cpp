// Sound first: on a slow link the pictures would take the whole link and the sound would break up. A frame
// for a receiver whose sound connection has more than half a second unsent is held, and sent when a later
// sound block finds that the sound has caught up; pictures get what the link has left.
#include "server/server.h"

namespace tessaly {

namespace {

// Half a second of sound: 8,000 one-byte samples a second.
constexpr int kSoundLagLimitBytes = 4000;

}  // namespace

bool Server::SoundLags(int slot) const {
    const SOCKET s = Clients[slot].WaveSock;
    return s != 0 && winsock::UnsentOutputBytes(s) > kSoundLagLimitBytes;
}

void Server::AnswerWithFrame(int slot) {
    if (Clients[slot].fUse == platform::kFalse || Clients[slot].VideoSock == 0) return;
    frame_held_[slot] = SoundLags(slot);
    if (!frame_held_[slot]) SendFrame(slot);
}

void Server::SendHeldFrames() {
    for (int slot = 1; slot <= MaxClient; ++slot) {
        if (frame_held_[slot] && !SoundLags(slot)) AnswerWithFrame(slot);
    }
}

}  // namespace tessaly
