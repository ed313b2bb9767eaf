#!/usr/bin/env bash
# The installer end to end under Wine: wine-test.sh SESSION_DIR BUILD_DIR STEP, where STEP is
#   setup         a new win64 prefix, and the session on it, on Xvfb
#   start         the session on the prefix that is there (the VM's, made by vm-test.sh)
#   cleanup       stops all of it
#   SCENARIO.sh   one of scenarios/, with library.sh, on the session's system; it finds the
#                 system as a first install does, whatever the scenario before left
set -euo pipefail

session=$1 build=$2 scenario=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/wine-session.sh
source "$here/../../scripts/wine-session.sh"

# hold_desktop: the probe's desktop mode keeps the session's desktop, and its explorer.exe, open
# from one test to the next, for a program that finds none makes explorer.exe its own child, and
# an installer with a child never counts as done. Returns once the holder says, through a pipe
# that is read and not polled, that the desktop is up; else, within 60 s, fails saying why.
hold_desktop() {
    process_running "$session/desktop.pid" && return 0
    local pipe=$session/desktop.pipe said=
    rm -f "$pipe" && mkfifo "$pipe"
    "$WINE" "$build/tests/wine/velkra_probe.exe" desktop >"$pipe" 2>"$session/desktop.log" &
    record_process $! "$session/desktop.pid"
    read -r -t 60 said <"$pipe" && [[ $said = "the desktop is up"* ]] && return
    echo "The desktop holder got no desktop; $session/desktop.log:"
    sed 's/^/    /' "$session/desktop.log"
    session_state
    return 1
}

# session_state: whether the session's display, Wine server and desktop holder still run.
session_state() {
    local xvfb=gone server=gone holder=gone
    process_running "$session/xvfb.pid" && xvfb=up
    "$WINESERVER" -k18 2>/dev/null && server=up # SIGCONT: only asks whether one runs
    process_running "$session/desktop.pid" && holder=up
    echo "    Xvfb: $xvfb, the Wine server: $server, the desktop holder: $holder"
}

# wine_server_apart COMMAND...: runs COMMAND, whose Wine programs start a server of their own
# (one that strace follows, or one in a mount namespace of its own), and which ends that server
# before it returns; the session's server and desktop are stopped meanwhile and come back after.
wine_server_apart() {
    local status=0
    "$WINESERVER" -k >>"$session/wine.log" 2>&1 </dev/null || true
    "$WINESERVER" -w
    "$@" || status=$?
    wine_server_start "$session" && hold_desktop || status=1
    return $status
}

case "$scenario" in
    setup)
        wine_session_stop "$session"
        start=$(date +%s)
        wine_prefix_make "$session"
        echo "$WINE_SESSION_SYSTEM prefix made in $(($(date +%s) - start)) s"
        ;;&
    start | setup)
        trap 'status=$?; [ $status -eq 0 ] || wine_session_stop "$session"' EXIT
        wine_session_start "$session" xvfb
        hold_desktop
        echo "Wine session ready on display $DISPLAY"
        exit 0
        ;;
    cleanup)
        wine_session_stop "$session"
        exit 0
        ;;
esac

wine_session_env "$session"
# Not on the server of a test's own, which ends with the test.
[ -n "${VELKRA_SMALL_DISK:-}" ] || hold_desktop
# shellcheck source=library.sh
source "$here/library.sh"

# fresh_system: the system as a first install finds it, whatever the scenario before left: no
# library installed, nothing recorded, no files of the tests', the session's DPI, no network
# shares. Once, before each scenario: in the VM, every program the runner starts takes time.
fresh_system() {
    no_library
    chmod -R u+w "$tests" 2>/dev/null || true
    rm -rf "$tests" "$WINEPREFIX/dosdevices/unc"
    mkdir -p "$tests"
    if [ -f "$session/dpi" ]; then
        wine_set_dpi 96
        rm "$session/dpi"
    fi
}

fresh_system
# In a shell of its own, which the scenario may end early (exit 77 skips it). A command that
# fails outside check ends it, and says where, in the helpers it went through too (set -E).
(set -E; trap 'echo "FAIL: $(called_from 1): $BASH_COMMAND failed"; session_state' ERR
    source "$scenario"; trap - ERR; finish)
