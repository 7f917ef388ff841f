#!/usr/bin/env bash
# Checks the way the rooms depend on each other, from the includes of the source tree (argument: its root).
# Prints every include that breaks a rule and fails when there is one.
set -uo pipefail
cd "$1" || exit 2
status=0

# break RULE GREP-ARGS...: reports the lines that grep finds.
break_rule() {
    local rule=$1
    shift
    local hits
    hits=$(grep -rnE "$@")
    if [[ -n $hits ]]; then
        printf '%s:\n%s\n' "$rule" "$hits"
        status=1
    fi
}

rooms="codec media motion events net audio record web server receiver tools"
break_rule "only platform/ includes system headers of Linux" \
    '#include <(unistd\.h|fcntl\.h|poll\.h|sys/|netinet/|arpa/|linux/|alsa/|libv4l)' $rooms
break_rule "includes name their room" '#include "[^/"]+"' $rooms platform
break_rule "codec/ needs only the standard library and the picture's geometry" \
    '#include "(platform|net|audio|server|receiver|tools|media/picture_file)' codec
break_rule "platform/ builds on nothing above it" \
    '#include "(codec|motion|events|net|audio|record|web|server|receiver|tools|media/picture_file)' \
    platform
break_rule "platform/window builds on no other platform room" '#include "platform/(winsock|wave|capture|ui)/' \
    platform/window
break_rule "platform/capture needs no other platform room" '#include "platform/(window|winsock|wave|ui)/' \
    platform/capture
break_rule "the shared classes build on no program" '#include "(server|receiver|tools)/' codec media motion events net audio
break_rule "motion/ needs only the standard library and the picture's geometry" \
    '#include "(platform|codec|events|net|audio|web|server|receiver|tools|media/picture_file)' motion
break_rule "events/ builds on motion/ and platform/process alone" \
    '#include "(platform/(window|winsock|wave|capture|ui)|codec|net|audio|web|server|receiver|tools|media/picture_file)' \
    events
break_rule "the event logic needs only the standard library and motion/; only the hooks run processes" \
    '#include "platform/' events/event_time.cpp events/event_time.h events/event_tracker.cpp events/event_tracker.h \
    events/event_json.cpp
break_rule "platform/process needs the C library alone" '#include ["<](platform/(window|winsock|wave|capture|ui)/|Q)' \
    platform/process
break_rule "the receivers build on no tool" '#include "tools/' receiver
break_rule "record/ builds on the picture's geometry and platform/storage alone" \
    '#include "(codec|net|audio|web|server|receiver|tools|media/picture_file|platform/(window|winsock|wave|capture|ui))' record
break_rule "platform/storage needs no other platform room" '#include "platform/(window|winsock|wave|capture|ui)/' \
    platform/storage
exit $status
