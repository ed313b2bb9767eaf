# Sourced, not run: a throwaway Wine prefix on its own X display (Xvfb when there is no
# display), with Wine's own fonts and a virtual desktop, so that focus and input behave as on
# Windows. A session folder holds the prefix and stands for one system:
#   win64  64-bit programs on 64-bit Windows (wine64 runs them on this machine)
#   wow64  32-bit programs on 64-bit Windows (Wine's WOW64, inside the VM of scripts/vm.sh)
#   win32  32-bit Windows (a 32-bit prefix, inside the VM)
# Everything a session starts is recorded under its folder and stopped by wine_session_stop.

WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

# wine_session_env DIR: point Wine at the session's prefix and display. WINE_SYSTEM runs the
# prefix's own tools (wineboot, reg), WINE the programs under test.
wine_session_env() {
    # Wine wants an absolute prefix. No program is started that need not be: under the VM's
    # emulation each costs some 50 ms.
    local dir=$1
    [[ $dir = /* ]] || dir=$(realpath -m "$dir")
    WINE_SESSION_SYSTEM=win64
    [ -f "$dir/system" ] && read -r WINE_SESSION_SYSTEM <"$dir/system"
    # Of Wine's own messages only the err and winediag channels, which speak only of trouble.
    export WINEPREFIX="$dir/prefix" WINEARCH=win64 WINEDEBUG=-all,err+all,+winediag
    # No .NET, no Gecko, and no menu entries on the desktop of whoever runs the tests.
    export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
    # The Wine server's socket goes into a new folder under TMPDIR, which the prefix names: in
    # the session's folder, not one more in /tmp on every run.
    export TMPDIR="$dir/tmp"
    [ -d "$TMPDIR" ] || mkdir -p "$TMPDIR"
    WINE_SYSTEM=$WINE64 WINE=$WINE64
    case "$WINE_SESSION_SYSTEM" in
        wow64) WINE=/usr/lib/wine/wine ;;
        win32) WINEARCH=win32 WINE_SYSTEM=/usr/lib/wine/wine WINE=/usr/lib/wine/wine ;;
    esac
    if [ -f "$dir/display" ]; then
        DISPLAY=":$(cat "$dir/display")"
        export DISPLAY
    fi
}

# wine_prefix_make DIR [SYSTEM]: a new prefix in DIR/prefix for SYSTEM (win64 when not given),
# with the session's settings; leaves nothing running. Of a wow64 prefix it makes the 64-bit
# half, which wine64 makes on this machine; wine_prefix_add_32_bit adds the rest in the VM.
wine_prefix_make() {
    local dir=$1
    mkdir -p "$dir"
    echo "${2:-win64}" >"$dir/system"
    rm -rf "$dir/prefix" "$dir/tmp"
    wine_session_env "$dir"
    mkdir -p "$WINEPREFIX"
    # wineboot fills syswow64, 64-bit Windows' 32-bit system folder, with a 32-bit rundll32.
    # Wine's 32-bit side runs only in the VM: for a prefix made on this machine, a file that is
    # no program stands where that rundll32 would start, so its start fails before any 32-bit
    # code runs, on every machine alike. The x64 tests need an empty syswow64 only.
    local no_program=
    if [ "$WINE_SYSTEM" = "$WINE64" ]; then
        no_program=$WINEPREFIX/drive_c/windows/syswow64/rundll32.exe
        mkdir -p "${no_program%/*}"
        echo "not a program" >"$no_program"
    fi
    # The session's settings, in the user's registry file, which the Wine server loads as it
    # starts, before wineboot fills in the rest: no program started for them, and the desktop
    # that wineboot starts has them already.
    cat >"$WINEPREFIX/user.reg" <<'REG'
WINE REGISTRY Version 2

[Control Panel\\Desktop] 0
"LogPixels"=dword:00000060

[Software\\Wine\\Explorer] 0
"Desktop"="Default"

[Software\\Wine\\Explorer\\Desktops] 0
"Default"="1024x768"
REG
    # Every Wine process here writes to a log file: a daemon it spawns must not hold the
    # caller's output open.
    "$WINE_SYSTEM" wineboot -i >"$dir/wine.log" 2>&1 </dev/null
    [ -z "$no_program" ] || rm "$no_program"
    # Debian's Wine does not find its own fonts; without them "MS Shell Dlg 2" falls back to a
    # wider face than Tahoma.
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    local status=0
    [ "$WINE_SESSION_SYSTEM" = wow64 ] || wine_prefix_check "$dir" || status=$?
    # The session starts afresh, on a registry written to the disk.
    "$WINESERVER" -k >>"$dir/wine.log" 2>&1 </dev/null || true
    "$WINESERVER" -w
    return $status
}

# wine_prefix_add_32_bit DIR: the 32-bit half of the wow64 prefix whose 64-bit half
# wine_prefix_make made in DIR, by the command wineboot starts for it next: Wine's 32-bit
# rundll32 installs wine.inf's Wow64Install. Its libraries are not in syswow64 yet: like
# wineboot's own programs, it runs in Wine's bootstrap mode, which loads them from Wine's own
# folder. Leaves nothing running.
wine_prefix_add_32_bit() {
    local dir=$1 status=0
    wine_session_env "$dir"
    WINEBOOTSTRAPMODE=1 "$WINE" 'C:\windows\syswow64\rundll32.exe' setupapi,InstallHinfSection \
        Wow64Install 128 '\\?\'"$(wine_path /usr/share/wine/wine.inf)" >>"$dir/wine.log" 2>&1 \
        </dev/null || true
    wine_prefix_check "$dir" || status=$?
    "$WINESERVER" -k >>"$dir/wine.log" 2>&1 </dev/null || true
    "$WINESERVER" -w
    return $status
}

# wine_prefix_check DIR: the prefix starts a program of its system's kind, a 32-bit one under
# wow64 and win32; if not, says why. Wine fills a WOW64 prefix's syswow64 by running its own
# 32-bit side, so where that cannot run, wineboot leaves it empty and no 32-bit program starts.
wine_prefix_check() {
    local bits=32 expected=x86 answer
    [ "$WINE_SESSION_SYSTEM" = win64 ] && bits=64 expected=AMD64
    # Its output alone: what Wine's processes say on ending (glibc's ld.so has been seen to) is
    # no answer.
    answer=$("$WINE" cmd /c echo %PROCESSOR_ARCHITECTURE% 2>"$1/check.log" </dev/null | tr -d '\r')
    [ "$answer" = "$expected" ] && return 0
    echo "A $bits-bit program does not start in the $WINE_SESSION_SYSTEM prefix in $1:" >&2
    echo "    $answer" >&2
    sed 's/^/    /' "$1/check.log" >&2
    if [ "$WINE_SESSION_SYSTEM" = wow64 ]; then
        echo "Its syswow64 holds $(find "$WINEPREFIX/drive_c/windows/syswow64" -type f | wc -l)" \
            "files: Wine's 32-bit side did not fill it when the prefix was made." >&2
    fi
    return 1
}

# wine_session_start DIR [xvfb]: the session's Wine server on the prefix that wine_prefix_make
# made; with "xvfb", on a display of its own.
wine_session_start() {
    local dir=$1 mode=${2:-}
    rm -f "$dir/display"
    if [ "$mode" = xvfb ]; then
        # -displayfd picks a free display number and tells it once the server is ready. With
        # -noreset X does not reset as its last client leaves, when a program would find none.
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/display.new" \
            >"$dir/xvfb.log" 2>&1 </dev/null &
        record_process $! "$dir/xvfb.pid"
        local tries=0
        until [ -s "$dir/display.new" ]; do
            tries=$((tries + 1))
            if [ $tries -gt 600 ] || ! process_running "$dir/xvfb.pid"; then
                echo "Xvfb did not start; see $dir/xvfb.log" >&2
                return 1
            fi
            sleep 0.1
        done
        tr -d '\n' <"$dir/display.new" >"$dir/display"
        rm -f "$dir/display.new"
    fi
    wine_session_env "$dir"
    wine_server_start "$dir"
}

# wine_server_start DIR: the session's Wine server. It persists, so that the session's own
# processes (services, the desktop) stay alive between the programs it runs, until
# wine_session_stop. 60 s bounds how long they outlive a run interrupted before that, and is far
# more than the gaps between the tests' programs, which are seconds even in the VM: a
# scenario's request returns and the next one starts.
wine_server_start() {
    "$WINESERVER" -p60 >>"$1/wine.log" 2>&1 </dev/null ||
        { echo "wineserver -p60 started no server; see $1/wine.log" >&2; return 1; }
}

# wine_session_stop DIR: ends the prefix's Wine processes and the session's Xvfb, and returns
# once they have ended: the Wine server writes the registry into the prefix as it goes.
wine_session_stop() {
    local dir=$1
    if [ -d "$dir/prefix" ]; then
        (wine_session_env "$dir" && "$WINESERVER" -k && "$WINESERVER" -w) >/dev/null 2>&1 || true
    fi
    if process_running "$dir/xvfb.pid"; then
        local pid tries=0
        read -r pid _ <"$dir/xvfb.pid"
        kill "$pid" 2>/dev/null || true
        # Gone before the caller goes on, not merely told to go.
        while process_running "$dir/xvfb.pid" && [ $tries -lt 50 ]; do
            sleep 0.1
            tries=$((tries + 1))
        done
    fi
    rm -f "$dir/xvfb.pid"
}

# process_start PID: when PID started, in clock ticks since boot (field 22 of /proc/PID/stat,
# counted after the command name, which may hold spaces); nothing once it has ended, though its
# parent has yet to reap it (state Z).
process_start() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ] && cut -d' ' -f20 <<<"$stat"
}

# record_process PID FILE: PID and its start time, in FILE.
record_process() {
    echo "$1 $(process_start "$1")" >"$2"
}

# process_running FILE: whether the process that record_process wrote to FILE still runs. Once
# it has ended, its PID may be another process's, which started at another time.
process_running() {
    local pid start
    read -r pid start 2>/dev/null <"$1" || return 1
    [ -n "$start" ] && [ "$(process_start "$pid")" = "$start" ]
}

# wine_set_dpi N: the DPI that Wine hands to processes started from now on.
wine_set_dpi() {
    "$WINE_SYSTEM" reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d "$1" /f \
        >/dev/null </dev/null
}

# wine_path UNIX_PATH: the same file as Wine's programs name it.
wine_path() {
    local path=Z:$1
    case "$1" in
        "$WINEPREFIX/drive_c"/*) path=C:${1#"$WINEPREFIX/drive_c"} ;;
    esac
    printf '%s' "${path//\//\\}"
}
