#!/usr/bin/env bash
# The shipped 32-bit installer end to end, in the VM of scripts/vm.sh, where 32-bit code runs:
# vm-test.sh BUILD_DIR STEP, where STEP is
#   setup             boots the VM and starts making both prefixes in it
#   start SYSTEM      the Wine session of SYSTEM (wow64 or win32) inside the VM, once its prefix
#                     is made
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
        rm -rf "$sessions"
        "$vm" "$state" start
        # Both prefixes need Wine's 32-bit side, the WOW64 one to fill syswow64, so the VM makes
        # them, whatever this machine's kernel can do. Side by side: making one keeps about one
        # of the VM's two processors busy. What the VM writes stays inside it.
        for system in win32 wow64; do
            in_vm "$system-prefix" "mkdir -p '$sessions/$system'
                ('$here/wine-test.sh' '$sessions/$system' '$build' prefix $system
                    echo \$? >'$sessions/$system/made') \
                    >'$sessions/$system/prefix.log' 2>&1 </dev/null &"
        done
        ;;
    start)
        system=$3
        # The prefix's report once it is made, then the session.
        in_vm "$system-start" "until [ -f '$sessions/$system/made' ]; do sleep 1; done
            cat '$sessions/$system/prefix.log'
            [ \"\$(cat '$sessions/$system/made')\" = 0 ] || exit 1
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
