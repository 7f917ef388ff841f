// Tessaly's web face: a page that any browser can watch and the streams that other tools read, on an HTTP
// port of its own beside the video and sound ports (which it leaves untouched).
//   GET /               the page (built into the program)      GET /status.json   the server's state
//   GET /stream.mjpg    MJPEG, each captured picture once      POST /alarm        the alarm of slot 1
//   GET /snapshot.jpg   the newest picture                     GET /sound.wav     endless 8 kHz WAV
//   GET /snapshot.bmp   the receivers' snapshot file of the newest picture
//   GET /events.json    the motion events, newest first        GET /events        Server-Sent Events of them
//   GET /events/ID.jpg  an event's thumbnail                   GET, DELETE /recordings/NAME.mp4 (.jpg: GET)
// The HTTP library runs its own threads. The server hands pictures and sound blocks over through fixed
// buffers (OfferPicture, OfferSoundBlock: a copy, never a wait on a client), and everything that needs the
// server's own state (status, alarm, starting sound capture) runs on the window thread through ServerHooks.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "web/event_list.h"
#include "web/web_settings.h"

namespace web {

// One row of the receivers' list: slot, address, ticks (2 s each) since its last frame request.
struct ReceiverRow {
    int slot = 0;
    std::string address;
    int ticks = 0;
};

// What the window thread tells about the server.
struct ServerState {
    std::string address;  // where the receivers connect
    bool security_mode = false;
    int max_receivers = 0;
    std::vector<ReceiverRow> receivers;
};

// The server's side; every call comes on the window thread.
class ServerHooks {
  public:
    virtual ~ServerHooks() = default;
    virtual ServerState State() = 0;
    // Does what a receiver's alarm request from slot 1 does; true when the alarm sounded.
    virtual bool SoundAlarm() = 0;
    // A web listener waits for sound blocks: capture must run even when no receiver is connected.
    virtual void WantSound() = 0;
    // A connection from address was turned away (Settings::allows said no), for the server to report.
    virtual void Refused(std::int32_t address) = 0;
    // A line for the server's log (the certificate's fingerprint, warnings, failed passwords); printed on
    // standard output unless the server keeps its log elsewhere.
    virtual void Note(const std::string& line);

    // The motion events kept, newest first; none when the server does not watch.
    virtual std::vector<EventRow> Events() { return {}; }
    // A kept event's thumbnail (JPEG); empty when there is none.
    virtual std::vector<std::uint8_t> EventThumbnail(const std::string& /*id*/) { return {}; }
    // Deletes a recording (NAME.mp4 with its thumbnail) at a user's request; false with one line in *error.
    virtual bool DeleteRecording(const std::string& /*video*/, std::string* error) {
        *error = "this server does not record";
        return false;
    }
};

class WebFace {
  public:
    // Made on the window thread, where the hooks are called.
    explicit WebFace(ServerHooks& hooks);
    ~WebFace();
    WebFace(const WebFace&) = delete;
    WebFace& operator=(const WebFace&) = delete;

    // Starts listening. False, with a sentence in *error, when the port cannot be opened.
    bool Start(const Settings& settings, std::string* error);
    // Ends every stream and the listening; waits for the HTTP threads to finish (bounded by the library).
    void Stop();
    bool Running() const;
    // "http://ADDRESS:PORT/" (https with TLS) while running.
    std::string PageAddress() const;
    // The port listened on while running (the system's choice when the settings' port was 0), else 0.
    std::uint16_t Port() const;

    // Window thread, for every captured picture (230,400 bytes, rows bottom-up) and every sound block.
    void OfferPicture(const std::uint8_t* bottom_up_bgr, std::int64_t capture_micros);
    void OfferSoundBlock(std::span<const std::uint8_t, 1600> block);
    // Window thread, at a motion event's start ("motion-start") and end ("motion-end") with its JSON.
    void OfferEvent(std::string_view name, std::string_view json);

    // Open streams: pictures (MJPEG) and sound (WAV).
    int PictureViewers() const;
    int SoundListeners() const;

  private:
    struct Live;
    // The start's notes: the certificate's fingerprint, or the warnings about the password.
    void NoteStart(const Settings& settings);
    ServerHooks& hooks_;
    std::unique_ptr<Live> live_;
};

}  // namespace web
