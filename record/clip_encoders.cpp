#include <algorithm>
#include <cmath>

#include "record/clip_writer_parts.h"
#include "record/picture_yuv.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace record {

bool ClipWriter::Parts::OpenVideo(double fps, std::string* error) {
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (h264 == nullptr) {
        *error = "this FFmpeg has no libx264 encoder";
        return false;
    }
    video.reset(avcodec_alloc_context3(h264));
    const int rate = std::max(1, static_cast<int>(std::lround(fps)));
    video->width = kLumaWidth;
    video->height = kLumaHeight;
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
    picture->width = kLumaWidth;
    picture->height = kLumaHeight;
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

}  // namespace record
