# Sourced by wine-test.sh for each scenario, in the scenario's session: what a scenario knows of
# its system, read-only, and what scenarios share. The helpers take the rest as arguments and
# give their results as their status or on their output.
# shellcheck source=../report.sh
source "$(dirname "${BASH_SOURCE[0]}")/../report.sh"

readonly session build scenario system=$WINE_SESSION_SYSTEM
readonly drive_c=$WINEPREFIX/drive_c
readonly system32=$drive_c/windows/system32 syswow64=$drive_c/windows/syswow64
readonly tests=$drive_c/velkra-tests
readonly probe=$build/tests/wine/velkra_probe.exe standin=$build/tests/wine/dx8vb.dll
# Where Install with the box unchecked puts the library on this system, what the label reads,
# and the width of the processes the installer starts.
case "$system" in
    win64) readonly target=$system32 label='C:\windows\system32\' bits=64 ;;
    wow64) readonly target=$syswow64 label='C:\windows\SYSWOW64\' bits=32 ;;
    win32) readonly target=$system32 label='C:\windows\system32\' bits=32 ;;
esac
# The stand-in dx8vb.dll and the planted files write here; the installer passes the variables
# on to what it starts, as it passes on its whole environment.
export VELKRA_TEST_RECORD='C:\velkra-tests\record.txt'
export VELKRA_TEST_PLANTED='C:\velkra-tests\planted.txt'
readonly VELKRA_TEST_RECORD VELKRA_TEST_PLANTED record=$tests/record.txt planted=$tests/planted.txt
# The older Windows that installers started from now on run as, for installer_patches.dll, and
# that checks name: "Windows 7", "Windows XP" or "Windows 2000"; "" for today's.
export VELKRA_TEST_AS=
# With the box checked, the label reads forced_label and the library goes to forced_target; on
# win32, which has no SYSWOW64, the install fails. A forced install is done, for --wait-for, at
# forced_done: on wow64 regsvr32's record, which must not land in the next scenario; on win64
# the library, since the 64-bit regsvr32 looks in system32, finds nothing and records nothing.
readonly forced_target=$syswow64 forced_label='C:\windows\SYSWOW64\'
forced_done='C:\windows\syswow64\dx8vb.dll'
[ "$system" != wow64 ] || forced_done=$VELKRA_TEST_RECORD
readonly forced_done
# A failure that no hold explains is reported at once: on wine64 well within 1.5 s of the click,
# where a wrong wait for a hold (3 s) would show; in the VM, emulation alone may take longer.
at_once=()
[ "$system" = win64 ] && at_once=(--report-within 1500)
readonly at_once

# on SYSTEM...: whether the scenario runs on one of these systems now.
on() {
    [[ " $* " = *" $system "* ]]
}

# no_library: no library installed and nothing recorded, as before a first install.
no_library() {
    local files=("$system32"/dx8vb.dll* "$syswow64"/dx8vb.dll*)
    chmod -R u+w "${files[@]}" 2>/dev/null || true
    rm -rf "${files[@]}" "$record" "$planted"
}

# set_dpi N: the DPI that Wine hands to processes started from now on; the runner sets it back.
set_dpi() {
    wine_set_dpi "$1"
    echo "$1" >"$session/dpi"
}

# run_probe [--strace LOG] ARGS...: the probe, its report in this test's output, and when it
# fails what Wine said, and the session's state if it said nothing itself; with --strace, it and
# the programs it starts run under strace, which logs their renames and fsyncs to LOG.
run_probe() {
    local log status=0 tracer=()
    if [ "$1" = --strace ]; then
        tracer=(strace -f --seccomp-bpf -y -qq -o "$2"
            -e trace=fsync,fdatasync,rename,renameat,renameat2)
        shift 2
    fi
    log=$(mktemp)
    "${tracer[@]}" "$WINE" "$probe" "$@" >"$log" 2>"$log.wine" </dev/null || status=$?
    sed 's/^/    probe: /' "$log"
    [ $status -eq 0 ] || sed 's/^/    stderr: /' "$log.wine"
    [ $status -eq 0 ] || echo "    probe: exited with $status"
    [ $status -eq 0 ] || [ -s "$log" ] || session_state
    rm -f "$log" "$log.wine"
    return $status
}

# installer_in FOLDER: a copy of the installer, and of the stand-in library beside it, in
# C:\velkra-tests\FOLDER, as a user would have unpacked them. Prints the exe's Unix path.
installer_in() {
    local folder="$tests/$1"
    rm -rf "$folder"
    mkdir -p "$folder"
    cp "$build/VelkraInstall.exe" "$folder/"
    cp "$standin" "$folder/dx8vb.dll"
    printf '%s' "$folder/VelkraInstall.exe"
}

# an_old_library_in FOLDER: an older dx8vb.dll that regsvr32 can load: the stand-in with a tail
# of its own, so that a registration started by mistake shows in the record. A copy stays in
# the tests' folder, for install_fails_keeping_the_old_library to compare with.
an_old_library_in() {
    { cat "$standin" && printf 'an older dx8vb.dll\n'; } >"$1/dx8vb.dll"
    cp "$1/dx8vb.dll" "$tests/old-dx8vb.dll"
}

# no_leftovers_in FOLDER: no file in FOLDER is named dx8vb.dll.something (a temporary copy).
no_leftovers_in() {
    local left
    left=$(find "$1" -maxdepth 1 -iname 'dx8vb.dll.*' -printf '%f ') || return 1
    [ -z "$left" ] || { echo "    left: $left" && return 1; }
}

# attributes_are FILE LETTERS: of read-only, hidden and system, the file has those that LETTERS
# name (R, H, S, in that order; none for ""), as Wine's attrib shows them.
attributes_are() {
    local shown letter found=
    shown=$("$WINE" attrib "$(wine_path "$1")" </dev/null | sed 's/ *[A-Za-z]:\\.*//')
    for letter in R H S; do
        [[ $shown == *$letter* ]] && found+=$letter
    done
    echo "    attributes: ${found:-none}"
    [ "$found" = "$2" ]
}

# fsync_before_rename STRACE_LOG: each rename of a temporary copy onto a file comes after an
# fsync of that copy, and there is at least one.
fsync_before_rename() {
    awk '
        function copy_name() {
            match($0, /dx8vb\.dll\.[0-9]+\.tmp/)
            return substr($0, RSTART, RLENGTH)
        }
        / fsync\(.*dx8vb\.dll\.[0-9]+\.tmp>/ { synced[copy_name()] = 1 }
        / rename[a-z0-9]*\(.*dx8vb\.dll\.[0-9]+\.tmp"/ {
            renames++
            unsynced += !synced[copy_name()]
            synced[copy_name()] = 0
        }
        END {
            printf "    %d renames of a temporary copy, %d without an fsync of it first\n", renames, unsynced
            exit !(renames > 0 && unsynced == 0)
        }' "$1"
}

# recorded TEXT: the stand-in's record reads TEXT. Nothing waits for regsvr32, so its record may
# still be on its way.
recorded() {
    local tries=0
    until [ -f "$record" ] && [ "$(tr -d '\r' <"$record")" = "$1" ]; do
        if [ $tries -ge 100 ]; then
            echo "    recorded: $(tr -d '\r' <"$record" 2>/dev/null || echo nothing)"
            return 1
        fi
        sleep 0.1
        tries=$((tries + 1))
    done
}

# registration_in FOLDER: what the stand-in records when a regsvr32 of this system's kind
# registers it in FOLDER.
registration_in() {
    printf 'registered %s\\dx8vb.dll in a %s-bit process' "$(wine_path "$1")" "$bits"
}

# copy_failure NAME EXE TARGET: sets the variable NAME to how the report names a copy from
# beside EXE into TARGET, each path on a line of its own.
copy_failure() {
    printf -v "$1" 'Could not copy\n%s\\dx8vb.dll\nto\n%sdx8vb.dll\n' "$(wine_path "${2%/*}")" "$3"
}

# install_fails_keeping_the_old_library CASE EXE FOLDER PROBE_OPTIONS...: Install of EXE reports
# the failure, and FOLDER holds the old library as it was, with no temporary file and no
# registration. CASE names the case in each check.
install_fails_keeping_the_old_library() {
    local case=$1 exe=$2 folder=$3
    shift 3
    check "$case: the message box reports the failure" run_probe install "$(wine_path "$exe")" \
        "$@" --expect-failure 'Could not copy' --expect-failure 'dx8vb.dll'
    check "$case: the old library is unchanged" cmp -s "$tests/old-dx8vb.dll" "$folder/dx8vb.dll"
    check "$case: no temporary file is left" no_leftovers_in "$folder"
    check "$case: nothing was registered" test ! -e "$record"
}

# install_succeeds CASE EXE PROBE_OPTIONS...: Install of EXE puts the stand-in in target, where
# regsvr32 registers it. CASE names the case in each check.
install_succeeds() {
    local case=$1 exe=$2
    shift 2
    check "$case: Install runs" run_probe install "$(wine_path "$exe")" \
        --wait-for "$VELKRA_TEST_RECORD" --expect-label "$label" "$@"
    check "$case: the new library is installed" cmp "$standin" "$target/dx8vb.dll"
    check "$case: regsvr32 registered it" recorded "$(registration_in "$target")"
}

# install_waits_out HOLD: Install waits out a hold of HOLD (a path, or new-copy or folder as the
# probe takes them) that lasts 800 ms after the click, and installs and registers the library.
install_waits_out() {
    install_succeeds "a hold of $1, waited out" "$(installer_in held-open)" --hold "$1" \
        --release-after 800
    check "$1: no temporary file is left, not even an earlier held one" no_leftovers_in "$target"
    no_library
}
