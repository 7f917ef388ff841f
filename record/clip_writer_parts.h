// The inside of a ClipWriter: FFmpeg's H.264 and AAC encoders and the MP4 muxer of one file, shared by
// clip_writer.cpp (the file, the muxer, the timeline) and clip_encoders.cpp (the two encoders). Only those
// two files include it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/storage/storage.h"
#include "record/clip_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace record {

inline constexpr AVRational kVideoTimeBase = {1, 90000};

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// FFmpeg's text for an error code.
std::string AvText(int code);

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

    static int WriteToFile(void* opaque, std::uint8_t* data, int size);
    // Marks the writer failed; *error is the file's own failure when there is one, else what: code.
    bool Fail(const std::string& what, int code, std::string* error);
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

}  // namespace record
