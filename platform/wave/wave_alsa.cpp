// The sound card through ALSA: blocking reads and writes of at most one chunk, each after a bounded wait,
// so that the device thread can answer a reset or a close promptly.
#include "platform/wave/wave_internal.h"

#ifdef STREAM_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace platform::wave_internal {

#ifdef STREAM_HAVE_ALSA
namespace {

constexpr unsigned kLatencyMicros = 100000;  // what the card buffers ahead of the speaker
constexpr int kWaitMillis = 100;

class AlsaBackend : public WaveBackend {
  public:
    AlsaBackend(snd_pcm_t* pcm, bool input) : pcm_(pcm), input_(input) {}
    ~AlsaBackend() override { snd_pcm_close(pcm_); }

    bool PacesItself() const override { return true; }

    long Transfer(char* data, std::size_t count, std::int64_t) override {
        if (input_ && snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
        const int ready = snd_pcm_wait(pcm_, kWaitMillis);
        if (ready == 0) return 0;
        if (ready < 0) return Recover(ready);
        const snd_pcm_sframes_t moved =
            input_ ? snd_pcm_readi(pcm_, data, count) : snd_pcm_writei(pcm_, data, count);
        if (moved < 0) return Recover(static_cast<int>(moved));
        return static_cast<long>(moved);
    }

    void Start() override {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
        snd_pcm_start(pcm_);
    }

    void Stop() override {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
    }

  private:
    // An overrun or underrun (or a suspend) is mended and the call counts as having moved nothing.
    long Recover(int err) { return snd_pcm_recover(pcm_, err, 1) < 0 ? -1 : 0; }

    snd_pcm_t* pcm_;
    bool input_;
};

// ALSA prints its own diagnostics to standard error; the failure is reported once, in our words, instead.
void QuietAlsaMessages(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

std::unique_ptr<WaveBackend> OpenAlsaBackend(bool input, const std::string& name, unsigned rate,
                                             std::string* error) {
    snd_lib_error_set_handler(QuietAlsaMessages);
    snd_pcm_t* pcm = nullptr;
    const snd_pcm_stream_t stream = input ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK;
    int err = snd_pcm_open(&pcm, name.c_str(), stream, 0);
    if (err < 0) {
        *error = "ALSA device '" + name + "': " + snd_strerror(err);
        return nullptr;
    }
    err = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, rate, 1,
                             kLatencyMicros);
    if (err < 0) {
        *error = "ALSA device '" + name + "' refuses 16-bit mono at " + std::to_string(rate) +
                 " Hz: " + snd_strerror(err);
        snd_pcm_close(pcm);
        return nullptr;
    }
    return std::make_unique<AlsaBackend>(pcm, input);
}

#else

std::unique_ptr<WaveBackend> OpenAlsaBackend(bool, const std::string&, unsigned, std::string* error) {
    *error = "this build has no ALSA support";
    return nullptr;
}

#endif

}  // namespace platform::wave_internal
