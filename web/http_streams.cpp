#include "web/http_streams.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "platform/capture/timestamp.h"
#include "platform/winsock/plain_listener.h"
#include "web/http_reply.h"

namespace web {

namespace {

// How long one call of a stream waits for news before it lets the library look at the connection again.
constexpr int kWaitSliceMs = 500;
// A picture stream with no new picture for this long sends the newest one again, so that a stalled
// camera does not look like a dead connection to the client or to the idle timeout.
constexpr std::int64_t kRepeatAfterMicros = 2'000'000;
constexpr std::size_t kStreamBlockBytes = 32 * 1024;
// A picture stream whose viewer has not taken the last picture looks again after kHoldSliceMs.
constexpr int kHoldSliceMs = 20;
constexpr std::int64_t kLongestHoldMicros = 1'000'000;

// One open stream: makes its next part and hands it out in pieces. It holds one of the stream places,
// taken before it was made (TakePlace), until it ends.
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
        const std::size_t n = CopyPart(begin_, buf, std::min(max, end_ - begin_));
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    WebContext& Context() const { return context_; }

  protected:
    // Makes the next part, whose bytes are [begin_, end_); false when there is none yet.
    virtual bool NextPart() = 0;
    // Copies up to max bytes of the part from position at; returns how many.
    virtual std::size_t CopyPart(std::size_t at, char* out, std::size_t max) const = 0;

    WebContext& context_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// Sends each picture as its part header, the shared JPEG and the line end that closes the part. The next
// picture is chosen only when the library asks for more, that is once the last one has gone out.
class MjpegStream : public Stream {
  public:
    MjpegStream(WebContext& context, int descriptor) : Stream(context), descriptor_(descriptor) {
        ++context_.picture_viewers;
    }
    ~MjpegStream() override { --context_.picture_viewers; }

  private:
    static constexpr std::size_t kHeaderRoom = 128;

    // Whether the viewer's program has taken the last picture: nothing of it waits on this side and the
    // viewer's receive buffer has its room back. A receiver does not tell each read that leaves more than
    // half its room free, so after kLongestHoldMicros half the room is enough.
    bool ViewerTookTheLast(std::int64_t now) {
        std::uint32_t queued = 0, room = 0;
        if (!winsock::PeerBacklog(descriptor_, &queued, &room)) return true;
        most_room_ = std::max(most_room_, room);
        if (queued != 0) return false;
        return room >= most_room_ - most_room_ / 16 ||
               (room >= most_room_ / 2 && now - sent_micros_ >= kLongestHoldMicros);
    }

    bool NextPart() override {
        if (!ViewerTookTheLast(platform::MonotonicMicros())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kHoldSliceMs));
            return false;
        }
        const std::uint64_t newest = context_.pictures.WaitNewer(sent_, kWaitSliceMs);
        const std::int64_t now = platform::MonotonicMicros();
        if (newest == 0 || (newest == sent_ && now - sent_micros_ < kRepeatAfterMicros)) return false;
        std::shared_ptr<const SharedJpeg> jpeg = context_.pictures.NewestJpeg();
        if (!jpeg) return false;
        const int header_size = std::snprintf(
            header_.data(), header_.size(), "--%s\r\nContent-Type: image/jpeg\r\nContent-Length: %zu\r\n\r\n",
            kMjpegBoundary, jpeg->size);
        header_size_ = static_cast<std::size_t>(header_size);
        begin_ = 0;
        end_ = header_size_ + jpeg->size + 2;
        sent_ = jpeg->sequence;
        sent_micros_ = now;
        jpeg_ = std::move(jpeg);
        return true;
    }

    // The part's bytes from `at`: header, JPEG, line end.
    std::size_t CopyPart(std::size_t at, char* out, std::size_t max) const override {
        std::size_t n = 0;
        while (n < max && at < end_) {
            const std::size_t jpeg_end = header_size_ + jpeg_->size;
            std::span<const std::uint8_t> piece;
            std::size_t offset = 0;
            if (at < header_size_) {
                piece = std::span(reinterpret_cast<const std::uint8_t*>(header_.data()), header_size_);
                offset = at;
            } else if (at < jpeg_end) {
                piece = jpeg_->Bytes();
                offset = at - header_size_;
            } else {
                piece = kPartEnd;
                offset = at - jpeg_end;
            }
            const std::size_t take = std::min(max - n, piece.size() - offset);
            std::memcpy(out + n, piece.data() + offset, take);
            n += take;
            at += take;
        }
        return n;
    }

    static constexpr std::array<std::uint8_t, 2> kPartEnd = {'\r', '\n'};
    std::array<char, kHeaderRoom> header_{};
    std::size_t header_size_ = 0;
    std::shared_ptr<const SharedJpeg> jpeg_;
    std::uint64_t sent_ = 0;
    std::int64_t sent_micros_ = 0;
    const int descriptor_;
    std::uint32_t most_room_ = 0;  // the most room the viewer's receive buffer has shown
};

class WavStream : public Stream {
  public:
    WavStream(WebContext& context, int) : Stream(context), next_(context.sound.StartingNumber()) {
        const auto header = EndlessWavHeader();
        std::copy(header.begin(), header.end(), bytes_.begin());
        end_ = header.size();
        ++context_.sound_listeners;
        // Only a listener that got its place starts the sound capture.
        ServerHooks& hooks = context_.hooks;
        context_.bridge.Tell([&hooks] { hooks.WantSound(); });
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
    std::size_t CopyPart(std::size_t at, char* out, std::size_t max) const override {
        std::memcpy(out, bytes_.data() + at, max);
        return max;
    }

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
    EventStream(WebContext& context, int) : Stream(context), next_(context.events.NextNumber()) {
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
    std::size_t CopyPart(std::size_t at, char* out, std::size_t max) const override {
        std::memcpy(out, message_.data() + at, max);
        return max;
    }

    std::uint64_t next_;
    std::string message_;
    int quiet_slices_ = 0;
};

ssize_t ReadStream(void* stream, std::uint64_t, char* buf, std::size_t max) {
    return static_cast<Stream*>(stream)->Read(buf, max);
}

// The kernel keeps at most about this much of a stream that its viewer has not taken yet, so that a slow
// viewer gets fewer pictures rather than old ones.
constexpr int kStreamSendBufferBytes = 4 * 1024;

template <typename Kind>
MHD_Result QueueStream(MHD_Connection* connection, WebContext& context, const char* content_type,
                       std::string_view method) {
    if (method == MHD_HTTP_METHOD_HEAD) return ReplyHead(connection, content_type);
    if (!Kind::TakePlace(context)) {
        return ReplyText(
            connection, MHD_HTTP_SERVICE_UNAVAILABLE,
            "503 視聴者が上限 (" + std::to_string(context.settings.max_viewers) + ") に達しています。\n");
    }
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const int descriptor = info != nullptr ? info->connect_fd : -1;
    if (descriptor >= 0) winsock::LimitSendBuffer(descriptor, kStreamSendBufferBytes);
    auto* stream = new Kind(context, descriptor);
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

MHD_Result QueueMjpegStream(MHD_Connection* connection, WebContext& context, std::string_view method) {
    static const std::string type = std::string("multipart/x-mixed-replace; boundary=") + kMjpegBoundary;
    return QueueStream<MjpegStream>(connection, context, type.c_str(), method);
}

MHD_Result QueueWavStream(MHD_Connection* connection, WebContext& context, std::string_view method) {
    return QueueStream<WavStream>(connection, context, "audio/wav", method);
}

MHD_Result QueueEventStream(MHD_Connection* connection, WebContext& context, std::string_view method) {
    return QueueStream<EventStream>(connection, context, "text/event-stream; charset=utf-8", method);
}

}  // namespace web
