#!/usr/bin/env bash
# The installer end to end under Wine: wine-test.sh SESSION_DIR BUILD_DIR STEP, where STEP is
#   prefix [SYSTEM]  a new prefix for SYSTEM: win64 (the default), wow64 or win32
#   start            the session on that prefix, on Xvfb
#   setup [SYSTEM]   prefix, then start
#   cleanup          stops all of it
#   SCENARIO         one test of the installer in BUILD_DIR, on the session's system
set -euo pipefail

session=$1 build=$2 scenario=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/wine-session.sh
source "$here/../../scripts/wine-session.sh"

# hold_desktop: the probe's desktop mode keeps the session's desktop, and its explorer.exe, open
# from one test to the next; started anew after a test on a server of its own ended it.
hold_desktop() {
    process_running "$session/desktop.pid" && return 0
    "$WINE" "$build/tests/wine/velkra_probe.exe" desktop >"$session/desktop.log" 2>&1 </dev/null &
    record_process $! "$session/desktop.pid"
}

case "$scenario" in
    prefix | setup)
        wine_session_stop "$session"
        start=$(date +%s)
        wine_prefix_make "$session" "${4:-}"
        echo "$WINE_SESSION_SYSTEM prefix made in $(($(date +%s) - start)) s"
        [ "$scenario" = prefix ] && exit 0
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
drive_c=$WINEPREFIX/drive_c
system32=$drive_c/windows/system32
syswow64=$drive_c/windows/syswow64
tests=$drive_c/velkra-tests
probe=$build/tests/wine/velkra_probe.exe
standin=$build/tests/wine/dx8vb.dll
# Where the installer puts the library on this system, and what its label reads.
case "$WINE_SESSION_SYSTEM" in
    win64) target=$system32 label='C:\windows\system32\' bits=64 ;;
    wow64) target=$syswow64 label='C:\windows\SYSWOW64\' bits=32 ;;
    win32) target=$system32 label='C:\windows\system32\' bits=32 ;;
esac
# The stand-in dx8vb.dll and the planted files write here; the installer passes the variables
# on to what it starts, as it passes on its whole environment.
export VELKRA_TEST_RECORD='C:\velkra-tests\record.txt'
export VELKRA_TEST_PLANTED='C:\velkra-tests\planted.txt'
record=$tests/record.txt
planted=$tests/planted.txt
# A failure that no hold explains is reported at once: on wine64 well within 1.5 s of the click,
# where a wrong wait for a hold (3 s) would show; in the VM, emulation alone may take longer.
at_once=()
[ "$WINE_SESSION_SYSTEM" = win64 ] && at_once=(--report-within 1500)

# shellcheck source=../report.sh
source "$here/../report.sh"

# run_probe ARGS...: the probe's report goes to this test's output. The probe runs under the
# command in the array tracer, when one is set.
tracer=()
run_probe() {
    local log status=0
    log=$(mktemp)
    "${tracer[@]}" "$WINE" "$probe" "$@" >"$log" 2>&1 </dev/null || status=$?
    sed 's/^/    probe: /' "$log"
    [ $status -eq 0 ] || echo "    probe: exited with $status"
    rm -f "$log"
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

# A clean system: no library installed, nothing recorded.
reset_system() {
    rm -f "$system32"/dx8vb.dll* "$syswow64"/dx8vb.dll* "$record" "$planted"
}

# an_old_library_in FOLDER: an older dx8vb.dll that regsvr32 can load: the stand-in with a tail
# of its own, so that a registration started by mistake shows in the record.
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
    shown=$("$WINE" attrib "$(wine_path "$1")" </dev/null 2>/dev/null | sed 's/ *[A-Za-z]:\\.*//')
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

# What the stand-in records when a regsvr32 of this system's kind registers it in FOLDER.
registration_in() {
    printf 'registered %s\\dx8vb.dll in a %s-bit process' "$(wine_path "$1")" "$bits"
}

# copy_failure EXE TARGET: sets failure to how the report names a copy from beside EXE into
# TARGET, each path on a line of its own.
copy_failure() {
    failure="Could not copy"$'\n'"$(wine_path "$(dirname "$1")")\\dx8vb.dll"$'\n'to$'\n'"${2}dx8vb.dll"$'\n'
}

# install_fails_keeping_the_old_library FOLDER PROBE_OPTIONS...: Install reports the failure,
# and the folder holds the old library as it was, with no temporary file and no registration.
install_fails_keeping_the_old_library() {
    local folder=$1
    shift
    check "the message box reports the failure" run_probe install "$(wine_path "$exe")" "$@" \
        --expect-failure 'Could not copy' --expect-failure 'dx8vb.dll'
    check "the old library is unchanged" cmp -s "$tests/old-dx8vb.dll" "$folder/dx8vb.dll"
    check "no temporary file is left" no_leftovers_in "$folder"
    check "nothing was registered" test ! -e "$record"
}

# install_waits_out HOLD: Install waits out a hold of HOLD (a path, or new-copy or folder as the
# probe takes them) that lasts 800 ms after the click, and installs and registers the library.
install_waits_out() {
    exe=$(installer_in held-open)
    check "Install waits out a hold of $1" run_probe install "$(wine_path "$exe")" --hold "$1" \
        --release-after 800 --wait-for "$VELKRA_TEST_RECORD" --expect-label "$label"
    check "the new library is installed" cmp "$standin" "$target/dx8vb.dll"
    check "regsvr32 registered it" recorded "$(registration_in "$target")"
    check "no temporary file is left, not even an earlier held one" no_leftovers_in "$target"
    reset_system
}

reset_system
mkdir -p "$tests"
case "$scenario" in
    window-96dpi | window-144dpi)
        dpi=${scenario#window-}
        dpi=${dpi%dpi}
        # The session's DPI is 96; only another is set, and set back.
        [ "$dpi" = 96 ] || wine_set_dpi "$dpi"
        exe=$(installer_in window)
        check "the window at $dpi DPI" run_probe window "$(wine_path "$exe")" "$dpi" "$label"
        [ "$dpi" = 96 ] || wine_set_dpi 96
        ;;
    install)
        # From read-only media, as a CD or a read-only share would give it, pressed twice, with
        # the temporary copy of an installer that was killed left in the system folder, and one
        # of an installer that still runs (the probe).
        exe=$(installer_in install)
        source=$(dirname "$exe")/dx8vb.dll
        printf 'left by a killed installer\n' >"$target/dx8vb.dll.8888.tmp"
        touch -d '2001-08-23 12:00' "$source"
        twice=(install "$(wine_path "$exe")" --wait-for "$VELKRA_TEST_RECORD" --clicks 2
            --expect-label "$label" --running-copy "$(wine_path "$target/dx8vb.dll")")
        if [ "$WINE_SESSION_SYSTEM" = win64 ]; then
            # Unpacked hidden and system, too. Wine keeps those two in an extended attribute,
            # which the VM's tmpfs cannot hold. Its attrib takes one of them at a time.
            "$WINE" attrib +h "$(wine_path "$source")" </dev/null
            "$WINE" attrib +s "$(wine_path "$source")" </dev/null
            chmod a-w "$source"
            check "the source is read-only, hidden and system" attributes_are "$source" RHS
            # Wine's server does the rename, so it runs under strace with the programs.
            tracer=(strace -f --seccomp-bpf -y -qq -o "$session/install.strace"
                -e trace=fsync,fdatasync,rename,renameat,renameat2)
            check "Install runs twice, under strace" wine_server_apart "$session" run_probe "${twice[@]}"
            tracer=()
            check "each copy reached the disk before it replaced the library" \
                fsync_before_rename "$session/install.strace"
        else
            chmod a-w "$source"
            check "Install runs twice" run_probe "${twice[@]}"
        fi
        check "the installed library is the one beside the installer" cmp "$standin" "$target/dx8vb.dll"
        check "the installed library is neither read-only, hidden nor system" \
            attributes_are "$target/dx8vb.dll" ""
        check "the installed library keeps its date" \
            test "$(stat -c %Y "$target/dx8vb.dll")" = "$(stat -c %Y "$source")"
        registered=$(registration_in "$target")
        check "regsvr32 registered the installed copy each time" recorded "$registered"$'\n'"$registered"
        check "no temporary file is left, not even the killed installer's" no_leftovers_in "$target"
        if [ "$target" != "$system32" ]; then
            check "nothing went to the 64-bit system32" test ! -e "$system32/dx8vb.dll"
        fi
        ;;
    install-forced)
        exe=$(installer_in forced)
        if [ "$WINE_SESSION_SYSTEM" = win32 ]; then
            # 32-bit Windows has no SYSWOW64: the rewritten folder cannot be written to.
            an_old_library_in "$system32"
            copy_failure "$exe" 'C:\windows\SYSWOW64\'
            install_fails_keeping_the_old_library "$system32" --force --report-within 4500 \
                --expect-label 'C:\windows\SYSWOW64\' --expect-failure "$failure" \
                --expect-failure 'without ticking "Force 64 bit Install"'
        else
            # A 32-bit regsvr32 finds the library there, and the scenario waits for it: its record
            # must not land in the next one's. A 64-bit one looks in system32 and finds nothing.
            done_when='C:\windows\syswow64\dx8vb.dll'
            [ "$WINE_SESSION_SYSTEM" = wow64 ] && done_when=$VELKRA_TEST_RECORD
            check "Install runs with the box checked" run_probe install "$(wine_path "$exe")" --force \
                --wait-for "$done_when" --expect-label 'C:\windows\SYSWOW64\'
            check "the library went to syswow64" cmp "$standin" "$syswow64/dx8vb.dll"
            check "and not to system32" test ! -e "$system32/dx8vb.dll"
            if [ "$WINE_SESSION_SYSTEM" = wow64 ]; then
                check "regsvr32 registered it" recorded "$(registration_in "$syswow64")"
            fi
        fi
        ;;
    install-replaces)
        exe=$(installer_in replaces)
        an_old_library_in "$target"
        # regsvr32 stays open as long as its message box does; the installer does not wait.
        check "Install runs" run_probe install "$(wine_path "$exe")" --wait-for "$VELKRA_TEST_RECORD" \
            --expect-label "$label" --block-registration
        check "the older library was replaced" cmp "$standin" "$target/dx8vb.dll"
        check "regsvr32 registered the new copy" recorded "$(registration_in "$target")"
        ;;
    install-source-missing)
        exe=$(installer_in source-missing)
        rm "$(dirname "$exe")/dx8vb.dll"
        an_old_library_in "$target"
        copy_failure "$exe" "$label"
        # Windows' own text, as Wine words it, the advice and the call that failed.
        install_fails_keeping_the_old_library "$target" --expect-failure "$failure" \
            --expect-failure $'File not found.\n\n' --expect-failure 'extract the whole zip file' \
            --expect-failure '(CreateFileW, error 2)' --report-within 4500 "${at_once[@]}"
        ;;
    install-planted)
        # Wine is told to prefer native DLLs of these names, so a planted one would be loaded
        # if the installer looked in its own folder (without the installer's own limit, Wine
        # loads the planted uxtheme.dll). version.dll and msimg32.dll lie there too, but Wine
        # keeps its own of them: its user32 imports version.dll before any of the installer's
        # code runs, and its uxtheme delay-loads msimg32.dll ignoring the limit; Windows takes
        # both from the system folder.
        names="uxtheme dwmapi comctl32 cryptbase profapi winmm dbghelp propsys"
        exe=$(installer_in planted)
        for name in version msimg32 $names; do
            cp "$build/tests/wine/planted.dll" "$(dirname "$exe")/$name.dll"
        done
        cp "$build/tests/wine/planted_program.exe" "$(dirname "$exe")/regsvr32.exe"
        WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(echo "$names" | tr ' ' ',')=n,b" \
            check "Install runs beside planted files" run_probe install "$(wine_path "$exe")" \
            --wait-for "$VELKRA_TEST_RECORD" --expect-label "$label"
        check "the system's regsvr32 registered the library" recorded "$(registration_in "$target")"
        check "nothing planted beside the installer ran" test ! -e "$planted"
        [ -e "$planted" ] && iconv -f UTF-16LE -t UTF-8 "$planted"
        ;;
    install-read-only)
        exe=$(installer_in read-only)
        an_old_library_in "$system32"
        chmod a-w "$system32/dx8vb.dll"  # Wine's read-only attribute
        install_fails_keeping_the_old_library "$system32" "${at_once[@]}"
        chmod u+w "$system32/dx8vb.dll"
        # Nor does a wait make a folder in the library's place go.
        rm "$system32/dx8vb.dll" && mkdir "$system32/dx8vb.dll"
        check "Install reports a folder in the library's place" run_probe install \
            "$(wine_path "$exe")" --expect-failure 'The destination is a folder.' "${at_once[@]}"
        rmdir "$system32/dx8vb.dll"
        ;;
    install-not-a-library)
        # What people find saved under a library's name, each refused before anything in the
        # system folder changes: a web page, a download cut short, line ends rewritten, an empty
        # file, a program, and Wine's own dx8vb.dll for the other machine. Wine's own for this
        # one installs. In the VM, where every install takes many seconds, only what the build's
        # machine decides; every build refuses the others alike.
        kinds="page half line-ends empty program other"
        [ "$WINE_SESSION_SYSTEM" = win64 ] || kinds=other
        own=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/dx8vb.dll
        other=/usr/lib/i386-linux-gnu/wine/i386-windows/dx8vb.dll
        [ "$bits" = 32 ] && read -r own other <<<"$other $own"
        exe=$(installer_in not-a-library)
        source=$(dirname "$exe")/dx8vb.dll
        an_old_library_in "$target"
        for kind in $kinds; do
            case $kind in
                page) printf '<!DOCTYPE html>\n<html><body>dx8vb.dll: download</body></html>\n' ;;
                half) head -c $(($(stat -c %s "$standin") / 2)) "$standin" ;;
                line-ends) sed 's/$/\r/' "$standin" ;;
                empty) ;;
                program) cat "$probe" ;;
                other) cat "$other" ;;
            esac >"$source"
            install_fails_keeping_the_old_library "$target" --report-within 4500 "${at_once[@]}" \
                --expect-failure "dx8vb.dll to install is not a $bits-bit Windows library"
        done
        cp "$own" "$source"
        check "Install takes Wine's own dx8vb.dll" run_probe install "$(wine_path "$exe")" \
            --wait-for "$(wine_path "$target/dx8vb.dll")" --expect-label "$label"
        check "and installs it" cmp "$own" "$target/dx8vb.dll"
        ;;
    install-held-open)
        # Another program, a virus scanner say, holds a file of the install, sharing nothing.
        # Held throughout, the installer's new copy on a first install is reported as held; it
        # cannot be deleted while it is held either, and stays for the next install to remove.
        exe=$(installer_in held-open)
        check "Install reports its new copy held" run_probe install "$(wine_path "$exe")" \
            --hold new-copy --report-within 4500 --expect-failure 'holds the new copy of dx8vb.dll' \
            --expect-failure '(MoveFileExW, error 32)' --expect-failure-without 'already there'
        check "nothing was installed or registered" test ! -e "$target/dx8vb.dll" -a ! -e "$record"
        check "the held copy stays" test -n "$(find "$target" -maxdepth 1 -name 'dx8vb.dll.*.tmp')"
        # Held for 800 ms after the click: the new copy on a first install, the library beside the
        # installer, the one it replaces. Install waits it out.
        install_waits_out new-copy
        for hold in "$tests/held-open/dx8vb.dll" "$target/dx8vb.dll"; do
            an_old_library_in "$target"
            install_waits_out "$(wine_path "$hold")"
        done
        # Renames into the system folder denied throughout, on a first install: reported as the
        # folder held, not the library there in use.
        exe=$(installer_in held-open)
        check "Install reports the folder held" run_probe install "$(wine_path "$exe")" \
            --hold folder --report-within 4500 --expect-failure 'keeps the system folder from' \
            --expect-failure '(MoveFileExW, error 5)' --expect-failure-without 'already there'
        check "nothing was installed or registered" test ! -e "$target/dx8vb.dll" -a ! -e "$record"
        check "no temporary file is left" no_leftovers_in "$target"
        ;;
    install-denied)
        # Windows denies creating the copy to a user without rights, and replacing the library to
        # one whose permissions forbid it; and a rename over the library in use (held open here,
        # sharing nothing) too. Each report says which, without "Not Responding" first.
        exe=$(installer_in denied)
        an_old_library_in "$target"
        install_fails_keeping_the_old_library "$target" --deny copy --report-within 4500 \
            "${at_once[@]}" --expect-failure 'Only an administrator can install'
        # No wait changes what rights forbid: reported at once.
        install_fails_keeping_the_old_library "$target" --deny replace --report-within 4500 \
            "${at_once[@]}" --expect-failure 'does not allow the dx8vb.dll already there' \
            --expect-failure-without 'running program' --expect-failure-without scanner
        install_fails_keeping_the_old_library "$target" --hold "$(wine_path "$target/dx8vb.dll")" \
            --report-within 4500 --expect-failure 'in use by a running program'
        ;;
    install-held-folder)
        # A virus scanner examines the new files of the system folder, and renames into it are
        # denied meanwhile, for 800 ms, on a first install: Install waits it out.
        install_waits_out folder
        ;;
    install-disk-full)
        # A full disk under the 32-bit system folder, reached with the box checked: a small tmpfs
        # in a mount namespace of this test's own, which needs no root but a user namespace, and
        # where the Wine server that writes the files runs too.
        if [ -z "${VELKRA_SMALL_DISK:-}" ]; then
            if ! unshare -rm true 2>/dev/null; then
                echo "skipped: this kernel lets no user make a user namespace (unshare -rm)"
                exit 77
            fi
            status=0
            VELKRA_SMALL_DISK=1 wine_server_apart "$session" unshare -rm "$0" "$@" || status=$?
            exit $status
        fi
        mount -t tmpfs -o size=256k velkra-test "$syswow64"
        trap '"$WINESERVER" -k; "$WINESERVER" -w' EXIT
        exe=$(installer_in disk-full)
        an_old_library_in "$syswow64"
        dd if=/dev/zero of="$syswow64/filler" bs=4k 2>/dev/null || true
        install_fails_keeping_the_old_library "$syswow64" --force
        ;;
    install-unicode-folder)
        # A folder with spaces and non-ASCII letters, reached by drive, through a network share
        # (which Wine maps through the prefix's dosdevices/unc) and as a device.
        folder='Prüfung – Ünïcødé folder'
        exe=$(installer_in "$folder")
        mkdir -p "$WINEPREFIX/dosdevices/unc/velkra-server"
        ln -sfn "$tests" "$WINEPREFIX/dosdevices/unc/velkra-server/tests"
        for path in "$(wine_path "$exe")" "\\\\velkra-server\\tests\\$folder\\VelkraInstall.exe" \
            "\\\\.\\$(wine_path "$exe")"; do
            check "Install runs from $path" run_probe install "$path" \
                --wait-for "$VELKRA_TEST_RECORD" --expect-label "$label"
            check "the library was installed" cmp "$standin" "$target/dx8vb.dll"
            reset_system
        done
        ;;
    install-long-folder)
        long=$(printf '/a folder name of forty characters %04d' $(seq 1 8))
        exe=$(installer_in "long$long")
        check "the installer's path is longer than 260 characters" test "$(wine_path "$exe" | wc -c)" -gt 260
        # Wine's CreateProcessW takes no program path past MAX_PATH, but Wine's loader does.
        (cd "$tests" && exec "$WINE" "$exe" >"$session/long-folder.log" 2>&1 </dev/null) &
        check "Install runs from it" run_probe install --attach \
            --wait-for "$VELKRA_TEST_RECORD" --expect-label "$label"
        wait
        check "the library was installed" cmp "$standin" "$target/dx8vb.dll"
        ;;
    *)
        echo "unknown scenario $scenario" >&2
        exit 2
        ;;
esac
finish
