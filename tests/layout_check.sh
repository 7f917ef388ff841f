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

rooms="codec media net audio web server receiver tools"
break_rule "only platform/ includes system headers of Linux" \
    '#include <(unistd\.h|fcntl\.h|poll\.h|sys/|netinet/|arpa/|linux/|alsa/|libv4l)' $rooms
break_rule "includes name their room" '#include "[^/"]+"' $rooms platform
break_rule "codec/ needs only the standard library and the picture's geometry" \
    '#include "(platform|net|audio|server|receiver|tools|media/picture_file)' codec
break_rule "platform/ builds on nothing above it" '#include "(codec|net|audio|server|receiver|tools|media/picture_file)' \
    platform
break_rule "platform/window builds on no other platform room" '#include "platform/(winsock|wave|capture|ui)/' \
    platform/window
break_rule "platform/capture needs no other platform room" '#include "platform/(window|winsock|wave|ui)/' \
    platform/capture
break_rule "the shared classes build on no program" '#include "(server|receiver|tools)/' codec media net audio
break_rule "the receivers build on no tool" '#include "tools/' receiver
break_rule "web/ builds on the shared classes and platform/ only" '#include "(server|receiver|tools)/' web
exit $status
