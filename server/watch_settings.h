// What the command line chooses for Tessaly's watching by itself: the motion detector and its mask, the
// events' gap, the alarm at an event's start, the event hooks and the recording of events. All of it is off
// unless --motion or --record asks for it.
#pragma once

#include "events/event_hooks.h"
#include "events/event_tracker.h"
#include "motion/motion_mask.h"
#include "motion/motion_settings.h"
#include "record/event_recorder.h"

namespace tessaly {

struct WatchSettings {
    bool motion = false;  // detection runs (--motion, or implied by --record)
    motion::MotionSettings detector;
    motion::MotionMask mask;  // read from --motion-mask when it was given
    double event_gap_seconds = events::EventTracker::kDefaultGapSeconds;
    bool alarm = false;  // an event's start plays the alarm while the security mode is on
    events::HookSettings hooks;
    bool record = false;  // events are recorded into recorder.folder
    record::RecorderSettings recorder;
    record::MakeEventRecorder make_recorder;  // the recorder's maker, given once its library is loaded
};

}  // namespace tessaly
