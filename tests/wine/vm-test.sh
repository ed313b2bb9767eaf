#!/usr/bin/env bash
# The shipped 32-bit installer end to end, in VMs of scripts/vm.sh, where 32-bit code runs, one
# for each system (wow64 or win32): vm-test.sh BUILD_DIR STEP, where STEP is
#   prefixes          the Wine prefix of each system, in a disk image under BUILD_DIR, made once
#                     for this Wine, this user and this recipe (the build runs this step)
#   image SYSTEM      prints the path of SYSTEM's image, made first if need be
#   setup SYSTEM      boots SYSTEM's VM on a throwaway view of its prefix, made first if need
#                     be, and starts its Wine session
#   cleanup SYSTEM    powers SYSTEM's VM off
#   SYSTEM SCENARIO   one scenario of wine-test.sh on SYSTEM, inside its VM
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

# in_vm SYSTEM NAME COMMAND: the shell command COMMAND, inside SYSTEM's VM.
in_vm() {
    "$vm" "$build/tests/wine/vm-$1" run "$2" "$3"
}

# make_prefix SYSTEM: SYSTEM's image, made in its own VM. A WOW64 prefix's 64-bit half runs no
# 32-bit code: wine64 makes it here, in seconds, and the image starts out with it; the VM adds
# the rest, which needs Wine's 32-bit side, whatever this machine's kernel can do.
make_prefix() {
    local system=$1 image=$images/$key-$1.img staging=$images/$1 vm_state=$build/tests/wine/vm-$1
    local make="wine_prefix_make '$sessions/$system' win32" status=0
    mkdir -p "$staging"
    if [ "$system" = wow64 ]; then
        (source "$scripts/wine-session.sh" && wine_prefix_make "$staging" wow64)
        rm -rf "$staging/tmp"
        make="wine_prefix_add_32_bit '$sessions/$system'"
    fi
    /sbin/mkfs.ext4 -q -O ^has_journal -E root_owner="$(id -u):$(id -g)" -d "$staging" \
        "$image.partial" 6G >/dev/null
    rm -rf "$staging"
    "$vm" "$vm_state" start "$image.partial" "$sessions/$system" keep
    VELKRA_VM_REQUEST_SECONDS=600 in_vm "$system" prefix "source '$scripts/wine-session.sh'
        $make; status=\$?
        rm -rf '$sessions/$system/tmp'
        sync
        exit \$status" || status=$?
    "$vm" "$vm_state" stop
    [ $status -eq 0 ] && mv "$image.partial" "$image"
}

# make_prefixes SYSTEM...: the images of SYSTEMs that are not there yet, side by side, in place
# of any made for another key.
make_prefixes() {
    local system i start missing=() making=() status=0
    start=$(date +%s)
    mkdir -p "$images"
    for system in "$@"; do
        [ -f "$images/$key-$system.img" ] && continue
        rm -f "$images"/*-"$system".img "$images"/*-"$system".img.partial
        missing+=("$system")
    done
    for system in "${missing[@]}"; do
        make_prefix "$system" >"$images/$system.log" 2>&1 &
        making+=($!)
    done
    for i in "${!missing[@]}"; do
        system=${missing[$i]}
        if wait "${making[$i]}"; then
            echo "$system prefix made in $(($(date +%s) - start)) s"
        else
            echo "The $system prefix was not made:" && cat "$images/$system.log"
            status=1
        fi
        rm -f "$images/$system.log"
    done
    return $status
}

case "$step" in
    prefixes)
        make_prefixes win32 wow64
        ;;
    image)
        make_prefixes "$3" >&2
        echo "$images/$key-$3.img"
        ;;
    setup)
        make_prefixes "$3"
        "$vm" "$build/tests/wine/vm-$3" start "$images/$key-$3.img" "$sessions/$3"
        in_vm "$3" start "exec '$here/wine-test.sh' '$sessions/$3' '$build' start"
        ;;
    cleanup)
        "$vm" "$build/tests/wine/vm-$3" stop
        ;;
    *)
        system=$2 scenario=$3
        # A scenario that hangs ends within the VM's patience, saying what still runs there,
        # and leaves the VM to the next one.
        in_vm "$system" "$scenario" \
            "timeout -k 5 180 '$here/wine-test.sh' '$sessions/$system' '$build' '$scenario' ||
            { status=\$?; [ \$status -ne 124 ] || ps -eo pid,etime,args; exit \$status; }"
        ;;
esac
