#include "web/http_streams.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/capture/timestamp.h"
#include "web/http_reply.h"

namespace web {

namespace {

// How long one call of a stream waits for news before it lets the library look at the connection again.
constexpr int kWaitSliceMs = 500;
// A picture stream with no new picture for this long sends the newest one again, so that a stalled
// camera does not look like a dead connection to the client or to the idle timeout.
constexpr std::int64_t kRepeatAfterMicros = 2'000'000;
constexpr std::size_t kStreamBlockBytes = 32 * 1024;

// One open stream: fills its own fixed buffer with the next part and hands it out in pieces. It holds one
// of the stream places, taken before it was made (TakePlace), until it ends.
class Stream {
  public:
    explicit Stream(WebContext& context) : context_(context) {}
    virtual ~Stream() = default;
    static bool TakePlace(WebContext& context) { return context.TakeStreamPlace(); }
    static void GivePlace(WebContext& context) { context.GiveStreamPlace(); }

    ssize_t Read(char* buf, std::size_t max) {
        if (context_.stopping) return MHD_CONTENT_READER_END_OF_STREAM;
        if (begin_ == end_ && !NextPart()) {
            return context_.stopping ? MHD_CONTENT_READER_END_OF_STREAM : 0;  // 0: nothing yet, ask again
        }
        const std::size_t n = std::min(max, end_ - begin_);
        std::memcpy(buf, Part() + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    WebContext& Context() const { return context_; }

  protected:
    // Puts the next part into the buffer at [begin_, end_); false when there is none yet.
    virtual bool NextPart() = 0;
    virtual const std::uint8_t* Part() const = 0;

    WebContext& context_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

class MjpegStream : public Stream {
  public:
    explicit MjpegStream(WebContext& context)
        : Stream(context), part_(kHeaderRoom + JpegEncoder::MaxJpegBytes() + 2) {
        ++context_.picture_viewers;
    }
    ~MjpegStream() override { --context_.picture_viewers; }

  private:
    static constexpr std::size_t kHeaderRoom = 128;

    bool NextPart() override {
        const std::uint64_t newest = context_.pictures.WaitNewer(sent_, kWaitSliceMs);
        const std::int64_t now = platform::MonotonicMicros();
        if (newest == 0 || (newest == sent_ && now - sent_micros_ < kRepeatAfterMicros)) return false;
        std::uint64_t sequence = 0;
        const std::size_t size = context_.pictures.CopyNewestJpeg(
            std::span<std::uint8_t>(part_).subspan(kHeaderRoom, JpegEncoder::MaxJpegBytes()), &sequence);
        if (size == 0) return false;
        // The part's header goes right in front of the JPEG, the line end that closes the part behind it.
        char header[kHeaderRoom];
        const int header_size = std::snprintf(
            header, sizeof header, "--%s\r\nContent-Type: image/jpeg\r\nContent-Length: %zu\r\n\r\n",
            kMjpegBoundary, size);
        begin_ = kHeaderRoom - static_cast<std::size_t>(header_size);
        std::memcpy(part_.data() + begin_, header, static_cast<std::size_t>(header_size));
        end_ = kHeaderRoom + size;
        part_[end_++] = '\r';
        part_[end_++] = '\n';
        sent_ = sequence;
        sent_micros_ = now;
        return true;
    }
    const std::uint8_t* Part() const override { return part_.data(); }

    std::vector<std::uint8_t> part_;  // sized once for the largest part
    std::uint64_t sent_ = 0;
    std::int64_t sent_micros_ = 0;
};

class WavStream : public Stream {
  public:
    explicit WavStream(WebContext& context) : Stream(context), next_(context.sound.StartingNumber()) {
        const auto header = EndlessWavHeader();
        std::copy(header.begin(), header.end(), bytes_.begin());
        end_ = header.size();
        ++context_.sound_listeners;
    }
    ~WavStream() override { --context_.sound_listeners; }

  private:
    bool NextPart() override {
        if (!context_.sound.Take(&next_, block_, kWaitSliceMs)) return false;
        ++next_;
        context_.sound_expander.WaveExpand(block_, samples_);
        for (std::size_t i = 0; i < samples_.size(); ++i) {  // 16-bit little-endian, as WAV holds them
            const auto s = static_cast<std::uint16_t>(samples_[i]);
            bytes_[2 * i] = static_cast<std::uint8_t>(s);
            bytes_[2 * i + 1] = static_cast<std::uint8_t>(s >> 8);
        }
        begin_ = 0;
        end_ = bytes_.size();
        return true;
    }
    const std::uint8_t* Part() const override { return bytes_.data(); }

    std::uint64_t next_;
    SoundExchange::Block block_{};
    std::array<std::int16_t, CWAVE::kBlockSamples> samples_{};
    std::array<std::uint8_t, CWAVE::kBlockBytes> bytes_{};
};

// Server-Sent Events: each motion event's start and end as the exchange made them, and a comment line
// now and then so that the connection never looks idle. The message is kept whole until it has gone out.
// Its places are apart from the picture and sound streams', so that a page with its event stream still
// counts as one viewer.
class EventStream : public Stream {
  public:
    explicit EventStream(WebContext& context) : Stream(context), next_(context.events.NextNumber()) {
        message_ = "retry: 2000\n\n";
        end_ = message_.size();
    }
    static bool TakePlace(WebContext& context) { return context.TakeEventPlace(); }
    static void GivePlace(WebContext& context) { --context.event_listeners; }

  private:
    static constexpr int kKeepAliveSlices = 10;  // 5 s

    bool NextPart() override {
        if (!context_.events.Take(&next_, &message_, kWaitSliceMs)) {
            if (++quiet_slices_ < kKeepAliveSlices) return false;
            message_ = ": still here\n\n";
        }
        quiet_slices_ = 0;
        begin_ = 0;
        end_ = message_.size();
        return true;
    }
    const std::uint8_t* Part() const override {
        return reinterpret_cast<const std::uint8_t*>(message_.data());
    }

    std::uint64_t next_;
    std::string message_;
    int quiet_slices_ = 0;
};

ssize_t ReadStream(void* stream, std::uint64_t, char* buf, std::size_t max) {
    return static_cast<Stream*>(stream)->Read(buf, max);
}

template <typename Kind>
MHD_Result QueueStream(MHD_Connection* connection, WebContext& context, const char* content_type) {
    if (!Kind::TakePlace(context)) {
        return ReplyText(
            connection, MHD_HTTP_SERVICE_UNAVAILABLE,
            "503 視聴者が上限 (" + std::to_string(context.settings.max_viewers) + ") に達しています。\n");
    }
    auto* stream = new Kind(context);
    MHD_Response* response = MHD_create_response_from_callback(
        MHD_SIZE_UNKNOWN, kStreamBlockBytes, ReadStream, static_cast<Stream*>(stream), [](void* s) {
            auto* kind = static_cast<Kind*>(static_cast<Stream*>(s));
            WebContext& owner = kind->Context();
            delete kind;
            Kind::GivePlace(owner);
        });
    if (response == nullptr) {
        delete stream;
        Kind::GivePlace(context);
        return MHD_NO;
    }
    AddCommonHeaders(response, content_type);
    const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
}

}  // namespace

MHD_Result QueueMjpegStream(MHD_Connection* connection, WebContext& context) {
    static const std::string type = std::string("multipart/x-mixed-replace; boundary=") + kMjpegBoundary;
    return QueueStream<MjpegStream>(connection, context, type.c_str());
}

MHD_Result QueueWavStream(MHD_Connection* connection, WebContext& context) {
    return QueueStream<WavStream>(connection, context, "audio/wav");
}

MHD_Result QueueEventStream(MHD_Connection* connection, WebContext& context) {
    return QueueStream<EventStream>(connection, context, "text/event-stream; charset=utf-8");
}

}  // namespace web
