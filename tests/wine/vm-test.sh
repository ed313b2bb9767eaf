#!/usr/bin/env bash
# The shipped 32-bit installer end to end, in the VM of scripts/vm.sh, where 32-bit code runs:
# vm-test.sh BUILD_DIR STEP, where STEP is
#   setup             makes the WOW64 prefix, boots the VM and starts making the 32-bit prefix
#   start SYSTEM      the Wine session of SYSTEM (wow64 or win32) inside the VM
#   cleanup           powers the VM off
#   SYSTEM SCENARIO   one scenario of wine-test.sh on SYSTEM, inside the VM
set -euo pipefail

build=$(realpath "$1")
step=$2
here=$(cd "$(dirname "$0")" && pwd)
vm=$here/../../scripts/vm.sh
state=$build/tests/wine/vm
sessions=$build/tests/wine/sessions

# in_vm NAME COMMAND: wine-test.sh with COMMAND's arguments, inside the VM.
in_vm() {
    "$vm" "$state" run "$1" "$2"
}

case "$step" in
    setup)
        "$vm" "$state" stop
        # 64-bit Wine makes a WOW64 prefix, syswow64 and all, without running 32-bit code, in
        # a fraction of the time the VM's emulated processor takes. It must be there before the
        # VM boots: the VM sees this machine's files as they were then, and its own changes
        # stay inside it.
        rm -rf "$sessions"
        "$here/wine-test.sh" "$sessions/wow64" "$build" prefix wow64
        "$vm" "$state" start
        # Only 32-bit Wine can make a 32-bit prefix: the VM makes it while the WOW64 tests run.
        in_vm win32-prefix "mkdir -p '$sessions/win32'
            ('$here/wine-test.sh' '$sessions/win32' '$build' prefix win32; echo \$? >'$sessions/win32/made') \
                >'$sessions/win32/prefix.log' 2>&1 </dev/null &"
        ;;
    start)
        system=$3
        made=
        if [ "$system" = win32 ]; then
            # The prefix the VM has been making since setup: its report, then the session.
            made="until [ -f '$sessions/win32/made' ]; do sleep 1; done
                cat '$sessions/win32/prefix.log'
                [ \"\$(cat '$sessions/win32/made')\" = 0 ] || exit 1"
        fi
        in_vm "$system-start" "$made
            '$here/wine-test.sh' '$sessions/$system' '$build' start"
        ;;
    cleanup)
        "$vm" "$state" stop
        ;;
    *)
        system=$2 scenario=$3
        in_vm "$system-$scenario" "'$here/wine-test.sh' '$sessions/$system' '$build' '$scenario'"
        ;;
esac
