// Sound first: on a slow link the pictures would take the whole link and the sound would break up. A frame
// for a receiver whose sound connection has more than one block (0.2 s) that the receiver has not
// acknowledged is held, and sent when a later sound block finds that the sound has caught up; pictures get
// what the link has left. On a LAN a block is acknowledged within milliseconds of its sending, long before
// the next, so no frame waits there; the receiver primes 0.6 s of sound, which absorbs what a frame
// already on a slow link delays.
#include "server/server.h"

namespace tessaly {

namespace {

// One sound block: 1,600 one-byte samples, 0.2 s. With half a second the sound waited behind the frames
// sent meanwhile, and broke for 0.8 to 1.2 s on a 100 kbit/s link.
constexpr int kSoundLagLimitBytes = 1600;

}  // namespace

bool Server::SoundLags(int slot) const {
    const SOCKET s = Clients[slot].WaveSock;
    return s != 0 && winsock::UndeliveredOutputBytes(s) > kSoundLagLimitBytes;
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
