#include "server/server_module.h"

#include "audio/CWAVE.h"
#include "codec/CCODEC.h"
#include "net/CSock.h"
#include "platform/wave/mci.h"
#include "server/admission.h"
#include "server/frame_pacing.h"
#include "server/report.h"

namespace tessaly {

std::array<ClientInfo, kClientSlots> Clients{};
std::int32_t MaxClient = kReceiverSlots;
std::int32_t TickCount = 0;
std::int32_t LastSlot = 0;
SOCKET AcceptSock = 0;
platform::Flag fWaveSend = platform::kFalse;
platform::Flag fEncode = platform::kFalse;
std::u16string RecvText;
std::array<SOCKET, 2> ListenSock{};
std::array<std::uint8_t, kPressBufBytes> PressBuf{};
std::array<std::uint8_t, kCapBufBytes> CapBuf{};
platform::WNDPROC PrevWndProc;

namespace {

struct Instances {
    CCODEC codec;
    CSock sock{CSock::kServerMsgBufBound};
    CWAVE wave;
};

std::unique_ptr<Instances>& TheInstances() {
    static std::unique_ptr<Instances> instances;
    return instances;
}

std::function<void(std::string_view)>& Observer() {
    static std::function<void(std::string_view)> observer;
    return observer;
}

}  // namespace

bool HaveInstances() {
    return TheInstances() != nullptr;
}

void MakeInstances() {
    if (!TheInstances()) TheInstances() = std::make_unique<Instances>();
}

CCODEC& Codec() {
    MakeInstances();
    return TheInstances()->codec;
}

CSock& Sock() {
    MakeInstances();
    return TheInstances()->sock;
}

CWAVE& Wave() {
    MakeInstances();
    return TheInstances()->wave;
}

std::int32_t PressSize() {
    return HaveInstances() ? Codec().SendDataSize : 0;
}

std::uint32_t SoundCommand(std::string_view command) {
    const platform::MCIERROR error = platform::mciSendString(command);
    if (Observer()) Observer()(command);
    return error;
}

void SetSoundCommandObserver(std::function<void(std::string_view)> observer) {
    Observer() = std::move(observer);
}

void ResetServerModule() {
    TheInstances().reset();
    Clients = {};
    MaxClient = kReceiverSlots;
    TickCount = 0;
    LastSlot = 0;
    AcceptSock = 0;
    fWaveSend = platform::kFalse;
    fEncode = platform::kFalse;
    RecvText.clear();
    ListenSock = {};
    PressBuf = {};
    CapBuf = {};
    PrevWndProc = nullptr;
    ResetFramePacing();
    ResetAdmission();
    SetReporter({});
}

}  // namespace tessaly
