#!/usr/bin/env bash
# The shipped 32-bit installer end to end, in VMs of scripts/vm.sh, where 32-bit code runs, one
# for each system (wow64 or win32): vm-test.sh BUILD_DIR STEP, where STEP is
#   image SYSTEM      prints the path of SYSTEM's image, which holds its Wine prefix, made first
#                     if need be: once for this Wine, this user and this recipe
#   setup SYSTEM      boots SYSTEM's VM on a throwaway view of its prefix, which the same VM
#                     makes first if need be, and starts its Wine session
#   cleanup SYSTEM    powers SYSTEM's VM off
#   SYSTEM SCENARIO.sh  a scenario file of wine-test.sh, on SYSTEM inside its VM
set -euo pipefail

build=$(realpath "$1")
step=$2
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../../scripts
vm=$scripts/vm.sh
images=$build/tests/wine/prefixes
# Where each VM mounts its system's disk: the system's session folder.
sessions=$build/tests/wine/sessions

# The disk images are named after what the prefixes are made of: Wine's packages, the user who
# owns them (and whose name is in them), and the scripts that make them.
key=$({
    dpkg-query -W -f '${Package}:${Architecture} ${Version}\n' 'wine*' 'libwine*' 'fonts-wine*'
    id -u
    id -un
    cat "$scripts/wine-session.sh" "$vm" "$0"
} | sha256sum | cut -c1-16)

# on_vm SYSTEM ARGS...: vm.sh ARGS (start, seal, run, stop) on SYSTEM's VM.
on_vm() {
    "$vm" "$build/tests/wine/vm-$1" "${@:2}"
}

# in_vm SYSTEM NAME COMMAND: the shell command COMMAND, inside SYSTEM's VM.
in_vm() {
    on_vm "$1" run "$2" "$3"
}

# make_prefix SYSTEM: SYSTEM's image, in place of any made for another key, made in SYSTEM's VM,
# which goes on running on it, sealed. A WOW64 prefix's 64-bit half runs no 32-bit code: wine64
# makes it here, in seconds, and the image starts out with it; the VM adds the rest, which needs
# Wine's 32-bit side, whatever this machine's kernel can do.
make_prefix() {
    local system=$1 image=$images/$key-$1.img staging=$images/$1 start
    local make="wine_prefix_make '$sessions/$system' win32"
    start=$(date +%s)
    rm -rf "$images"/*-"$system".img "$images"/*-"$system".img.partial "$staging"
    mkdir -p "$staging"
    if [ "$system" = wow64 ]; then
        (source "$scripts/wine-session.sh" && wine_prefix_make "$staging" wow64) || return 1
        rm -rf "$staging/tmp"
        make="wine_prefix_add_32_bit '$sessions/$system'"
    fi
    /sbin/mkfs.ext4 -q -O ^has_journal -E root_owner="$(id -u):$(id -g)" -d "$staging" \
        "$image.partial" 6G >/dev/null || return 1
    rm -rf "$staging"
    # Checked step by step: callers test the result, which turns off set -e in here.
    on_vm "$system" start "$image.partial" "$sessions/$system" writable &&
        VELKRA_VM_REQUEST_SECONDS=600 in_vm "$system" prefix "source '$scripts/wine-session.sh'
            $make && rm -rf '$sessions/$system/tmp'" &&
        on_vm "$system" seal &&
        mv "$image.partial" "$image" || return 1
    echo "$system prefix made in $(($(date +%s) - start)) s"
}

case "$step" in
    image)
        if [ ! -f "$images/$key-$3.img" ]; then
            status=0
            make_prefix "$3" >&2 || status=$?
            on_vm "$3" stop
            [ $status -eq 0 ] || exit $status
        fi
        echo "$images/$key-$3.img"
        ;;
    setup)
        # Making the prefix and the tests share a VM: its boot, and Wine's files read into it.
        if [ -f "$images/$key-$3.img" ]; then
            on_vm "$3" start "$images/$key-$3.img" "$sessions/$3"
        else
            make_prefix "$3"
        fi
        in_vm "$3" start "exec '$here/wine-test.sh' '$sessions/$3' '$build' start"
        ;;
    cleanup)
        on_vm "$3" stop
        ;;
    *)
        system=$2 scenario=$3
        # A scenario that hangs ends within the VM's patience, saying what still runs there,
        # and leaves the VM to the next one.
        in_vm "$system" "$(basename "$scenario" .sh)" \
            "timeout -k 5 180 '$here/wine-test.sh' '$sessions/$system' '$build' '$scenario' ||
            { status=\$?; [ \$status -ne 124 ] || ps -eo pid,etime,args; exit \$status; }"
        ;;
esac
