// Tessaly's recorder library (record.so): the recorder on FFmpeg's libraries, which the program loads only
// when it is asked to record, so that the server installs and runs without those libraries.
// STREAM_VERSION is its release.
#include "record/recorder.h"

extern "C" const char* plugin_release() {
    return STREAM_VERSION;
}

extern "C" record::EventRecorder* record_make_event_recorder(const record::RecorderSettings& settings,
                                                             record::EventRecorder::ReportCallback report) {
    return new record::Recorder(settings, std::move(report));
}
