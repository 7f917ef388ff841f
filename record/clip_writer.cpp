#include "record/clip_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "platform/storage/storage.h"
#include "record/picture_yuv.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace record {
namespace {

constexpr int kWidth = kLumaWidth;
constexpr int kHeight = kLumaHeight;
constexpr AVRational kVideoTimeBase = {1, 90000};
constexpr AVRational kMicros = {1, 1000000};
constexpr int kIoBufferBytes = 64 * 1024;
constexpr std::int64_t kSyncEveryMicros = 1000000;
constexpr std::int64_t kKeyFrameEveryMicros = 1000000;
// Sound that arrives this much later than the samples before it end is placed at its own time.
constexpr std::int64_t kSoundGapSamples = ClipWriter::kSampleRate / 10;
constexpr std::int64_t kMaxSilenceSamples = 60 * ClipWriter::kSampleRate;

std::string AvText(int code) {
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(code, text.data(), text.size());
    return text.data();
}

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

void CopyPlanes(const std::uint8_t* yuv, AVFrame* frame) {
    const std::uint8_t* from = yuv;
    for (int plane = 0; plane < 3; ++plane) {
        const int width = plane == 0 ? kLumaWidth : kChromaWidth;
        const int height = plane == 0 ? kLumaHeight : kChromaHeight;
        for (int row = 0; row < height; ++row, from += width)
            std::memcpy(frame->data[plane] + std::ptrdiff_t{row} * frame->linesize[plane], from, width);
    }
}

}  // namespace

struct ClipWriter::Parts {
    platform::AppendFile file;
    std::string io_error;  // the file's own failure, set by the write callback
    std::uint64_t bytes = 0;
    std::uint64_t whole_bytes = 0;  // the file's length after the last whole fragment (or the header)
    bool failed = false;
    bool no_space = false;

    AVFormatContext* muxer = nullptr;
    AVIOContext* io = nullptr;
    std::unique_ptr<AVCodecContext, CodecDeleter> video;
    std::unique_ptr<AVCodecContext, CodecDeleter> sound;
    std::unique_ptr<AVFrame, FrameDeleter> picture;
    std::unique_ptr<AVFrame, FrameDeleter> sound_frame;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    AVStream* video_stream = nullptr;
    AVStream* sound_stream = nullptr;

    std::int64_t zero_micros = 0;
    std::int64_t video_frame_ticks = 0;
    std::int64_t last_video_pts = -1;
    std::int64_t last_key_micros = 0;
    std::int64_t last_picture_micros = 0;
    std::int64_t last_sync_micros = 0;
    bool any_picture = false;
    std::int64_t sound_samples = 0;  // samples handed to the sound encoder or waiting in sound_frame
    int sound_fill = 0;              // samples waiting in sound_frame

    ~Parts() { Release(); }

    static int WriteToFile(void* opaque, std::uint8_t* data, int size) {
        auto* parts = static_cast<Parts*>(opaque);
        std::string error;
        if (!parts->file.Write({data, static_cast<std::size_t>(size)}, &error)) {
            if (parts->io_error.empty()) parts->io_error = error;
            return parts->file.LastFailureWasNoSpace() ? AVERROR(ENOSPC) : AVERROR(EIO);
        }
        parts->bytes += static_cast<std::uint64_t>(size);
        return size;
    }

    bool Fail(const std::string& what, int code, std::string* error) {
        failed = true;
        if (!io_error.empty()) {
            *error = io_error;
            no_space = file.LastFailureWasNoSpace();
        } else {
            *error = what + ": " + AvText(code);
            no_space = code == AVERROR(ENOSPC);
        }
        return false;
    }

    bool Failed(std::string* error) const {
        *error = "the recording has failed already";
        return false;
    }
    bool OpenVideo(double fps, std::string* error);
    bool OpenSound(const ClipFormat& format, std::string* error);
    bool OpenMuxer(const std::string& path, std::string* error);
    bool Encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame, std::string* error);
    bool WriteOut(std::string* error);
    bool SendSoundFrame(std::string* error);
    bool PushSamples(const std::int16_t* samples, std::int64_t count, std::string* error);
    bool SyncIfDue(std::int64_t micros, std::string* error);
    void Release();
};

bool ClipWriter::Parts::OpenVideo(double fps, std::string* error) {
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr) {
        *error = "this FFmpeg has no libx264 encoder";
        return false;
    }
    video.reset(avcodec_alloc_context3(h264));
    const int rate = std::max(1, static_cast<int>(std::lround(fps)));
    video->width = kWidth;
    video->height = kHeight;
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->time_base = kVideoTimeBase;
    video->framerate = {rate, 1};
    video->gop_size = rate;
    video_frame_ticks = kVideoTimeBase.den / rate;
    video->max_b_frames = 0;
    video->thread_count = 1;
    video->color_range = AVCOL_RANGE_MPEG;
    video->colorspace = AVCOL_SPC_SMPTE170M;
    video->color_primaries = AVCOL_PRI_SMPTE170M;
    video->color_trc = AVCOL_TRC_SMPTE170M;
    video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "veryfast", 0);
    av_dict_set(&options, "tune", "zerolatency", 0);
    av_dict_set(&options, "crf", "23", 0);
    av_dict_set(&options, "forced-idr", "1", 0);
    const int code = avcodec_open2(video.get(), h264, &options);
    av_dict_free(&options);
    if (code < 0) return Fail("cannot start the H.264 encoder", code, error);

    picture.reset(av_frame_alloc());
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = kWidth;
    picture->height = kHeight;
    if (const int c = av_frame_get_buffer(picture.get(), 0); c < 0) return Fail("out of memory", c, error);
    return true;
}

bool ClipWriter::Parts::OpenSound(const ClipFormat& format, std::string* error) {
    const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (aac == nullptr) {
        *error = "this FFmpeg has no AAC encoder";
        return false;
    }
    sound.reset(avcodec_alloc_context3(aac));
    sound->sample_fmt = AV_SAMPLE_FMT_FLTP;
    sound->sample_rate = kSampleRate;
    sound->time_base = {1, kSampleRate};
    sound->bit_rate = format.sound_bitrate;
    sound->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    sound->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int c = avcodec_open2(sound.get(), aac, nullptr); c < 0)
        return Fail("cannot start the AAC encoder", c, error);
    sound_frame.reset(av_frame_alloc());
    sound_frame->format = AV_SAMPLE_FMT_FLTP;
    sound_frame->sample_rate = kSampleRate;
    sound_frame->nb_samples = sound->frame_size;
    av_channel_layout_copy(&sound_frame->ch_layout, &sound->ch_layout);
    if (const int c = av_frame_get_buffer(sound_frame.get(), 0); c < 0)
        return Fail("out of memory", c, error);
    return true;
}

bool ClipWriter::Parts::OpenMuxer(const std::string& path, std::string* error) {
    if (const int c = avformat_alloc_output_context2(&muxer, nullptr, "mp4", nullptr); c < 0)
        return Fail("cannot make an MP4 file", c, error);
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferBytes));
    io = avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, &Parts::WriteToFile, nullptr);
    if (io == nullptr) {
        av_free(buffer);
        *error = "out of memory";
        return false;
    }
    muxer->pb = io;
    muxer->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Sound arrives in 0.2 s blocks; a stalled sound source must not hold the pictures back for long.
    muxer->max_interleave_delta = 1000000;
    video_stream = avformat_new_stream(muxer, nullptr);
    video_stream->time_base = kVideoTimeBase;
    avcodec_parameters_from_context(video_stream->codecpar, video.get());
    if (sound) {
        sound_stream = avformat_new_stream(muxer, nullptr);
        sound_stream->time_base = {1, kSampleRate};
        avcodec_parameters_from_context(sound_stream->codecpar, sound.get());
    }
    if (!file.Create(path, error)) {
        failed = true;
        no_space = file.LastFailureWasNoSpace();
        return false;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    const int code = avformat_write_header(muxer, &options);
    av_dict_free(&options);
    if (code < 0) return Fail("cannot write " + path, code, error);
    return WriteOut(error);
}

bool ClipWriter::Parts::Encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame,
                               std::string* error) {
    if (const int c = avcodec_send_frame(codec, frame); c < 0) return Fail("encoding failed", c, error);
    for (;;) {
        const int c = avcodec_receive_packet(codec, packet.get());
        if (c == AVERROR(EAGAIN) || c == AVERROR_EOF) return true;
        if (c < 0) return Fail("encoding failed", c, error);
        if (packet->duration == 0 && codec == video.get()) packet->duration = video_frame_ticks;
        av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (const int w = av_interleaved_write_frame(muxer, packet.get()); w < 0)
            return Fail("cannot write the recording", w, error);
        if (!WriteOut(error)) return false;
    }
}

// The muxer hands over whole fragments: once its output is in the file, the file ends with a whole one.
bool ClipWriter::Parts::WriteOut(std::string* error) {
    avio_flush(io);
    if (!io_error.empty()) return Fail("", 0, error);
    whole_bytes = bytes;
    return true;
}

bool ClipWriter::Parts::SendSoundFrame(std::string* error) {
    sound_frame->nb_samples = sound_fill;
    sound_frame->pts = sound_samples - sound_fill;
    sound_fill = 0;
    const bool ok = Encode(sound.get(), sound_stream, sound_frame.get(), error);
    sound_frame->nb_samples = sound->frame_size;
    return ok;
}

// Appends count samples (silence when samples is null) to the sound encoder's input.
bool ClipWriter::Parts::PushSamples(const std::int16_t* samples, std::int64_t count, std::string* error) {
    for (std::int64_t i = 0; i < count; ++i) {
        if (sound_fill == 0 && av_frame_make_writable(sound_frame.get()) < 0) {
            *error = "out of memory";
            failed = true;
            return false;
        }
        auto* out = reinterpret_cast<float*>(sound_frame->data[0]);
        out[sound_fill++] = samples != nullptr ? static_cast<float>(samples[i]) / 32768.0f : 0.0f;
        ++sound_samples;
        if (sound_fill == sound->frame_size && !SendSoundFrame(error)) return false;
    }
    return true;
}

bool ClipWriter::Parts::SyncIfDue(std::int64_t micros, std::string* error) {
    if (micros - last_sync_micros < kSyncEveryMicros) return true;
    last_sync_micros = micros;
    if (!file.Sync(error)) {
        failed = true;
        no_space = file.LastFailureWasNoSpace();
        return false;
    }
    return true;
}

void ClipWriter::Parts::Release() {
    std::string ignored;
    if (failed && file.IsOpen())
        file.TruncateTo(whole_bytes, &ignored);  // a fragment cut short would not play
    if (muxer != nullptr) {
        avformat_free_context(muxer);
        muxer = nullptr;
    }
    if (io != nullptr) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
    video.reset();
    sound.reset();
    file.Close();
}

ClipWriter::ClipWriter() = default;

ClipWriter::~ClipWriter() {
    if (IsOpen()) {
        std::string ignored;
        Close(&ignored);
    }
}

bool ClipWriter::Open(const std::string& path, const ClipFormat& format, std::int64_t zero_micros,
                      std::string* error) {
    // The libraries' own console lines are left out: the recorder reports its failures itself.
    av_log_set_level(AV_LOG_FATAL);
    parts_ = std::make_unique<Parts>();
    parts_->zero_micros = zero_micros;
    parts_->packet.reset(av_packet_alloc());
    const bool ok = parts_->OpenVideo(format.fps, error) &&
                    (!format.with_sound || parts_->OpenSound(format, error)) &&
                    parts_->OpenMuxer(path, error);
    if (!ok) {
        parts_->failed = true;
        parts_->Release();
    }
    return ok;
}

bool ClipWriter::AddPicture(const std::uint8_t* yuv, std::int64_t capture_micros, std::string* error) {
    Parts& p = *parts_;
    if (p.failed) return p.Failed(error);
    const std::int64_t micros = capture_micros - p.zero_micros;
    const std::int64_t pts = av_rescale_q(micros, kMicros, kVideoTimeBase);
    if (micros < 0 || pts <= p.last_video_pts) return true;
    if (const int c = av_frame_make_writable(p.picture.get()); c < 0)
        return p.Fail("out of memory", c, error);
    CopyPlanes(yuv, p.picture.get());
    p.picture->pts = pts;
    const bool key = !p.any_picture || micros - p.last_key_micros >= kKeyFrameEveryMicros;
    p.picture->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (key) p.last_key_micros = micros;
    p.any_picture = true;
    p.last_video_pts = pts;
    p.last_picture_micros = micros;
    return p.Encode(p.video.get(), p.video_stream, p.picture.get(), error) && p.SyncIfDue(micros, error);
}

bool ClipWriter::AddSound(std::span<const std::int16_t> samples, std::int64_t first_sample_micros,
                          std::string* error) {
    Parts& p = *parts_;
    if (p.failed) return p.Failed(error);
    if (!p.sound) return true;
    const auto count = static_cast<std::int64_t>(samples.size());
    const std::int64_t at = av_rescale(first_sample_micros - p.zero_micros, kSampleRate, 1000000);
    const bool first = p.sound_samples == 0;
    std::int64_t skip = 0;
    if (first && at < 0) {
        skip = std::min(-at, count);  // sound from before the file's zero
    } else if (at + count <= p.sound_samples) {
        return true;  // repeats what is written
    }
    const std::int64_t gap = at - p.sound_samples;
    if (gap > (first ? 0 : kSoundGapSamples) &&
        !p.PushSamples(nullptr, std::min(gap, kMaxSilenceSamples), error))
        return false;
    return p.PushSamples(samples.data() + skip, count - skip, error);
}

bool ClipWriter::Close(std::string* error) {
    if (!IsOpen()) return true;
    Parts& p = *parts_;
    bool ok = !p.failed;
    if (ok && p.sound && p.sound_fill > 0) ok = p.SendSoundFrame(error);
    if (ok) ok = p.Encode(p.video.get(), p.video_stream, nullptr, error);
    if (ok && p.sound) ok = p.Encode(p.sound.get(), p.sound_stream, nullptr, error);
    if (ok) {
        if (const int c = av_write_trailer(p.muxer); c < 0)
            ok = p.Fail("cannot finish the recording", c, error);
    }
    if (ok) ok = p.WriteOut(error);
    if (ok && !p.file.Sync(error)) {
        ok = false;
        p.no_space = p.file.LastFailureWasNoSpace();
    }
    if (!ok) p.failed = true;
    p.Release();
    return ok;
}

bool ClipWriter::IsOpen() const {
    return parts_ != nullptr && parts_->file.IsOpen();
}

bool ClipWriter::LastFailureWasNoSpace() const {
    return parts_ != nullptr && parts_->no_space;
}

std::uint64_t ClipWriter::BytesWritten() const {
    return parts_ != nullptr ? parts_->whole_bytes : 0;
}

std::int64_t ClipWriter::WrittenMicros() const {
    return parts_ != nullptr ? parts_->last_picture_micros : 0;
}

}  // namespace record
