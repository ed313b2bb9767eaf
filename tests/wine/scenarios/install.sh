# Install from read-only media, as a CD or share gives it, pressed twice, with the temporary
# copies of a killed installer and of one still running (the probe) in the system folder.
# Runs on win64 wow64 win32.
exe=$(installer_in install)
source=${exe%/*}/dx8vb.dll
printf 'left by a killed installer\n' >"$target/dx8vb.dll.8888.tmp"
touch -d '2001-08-23 12:00' "$source"
twice=(install "$(wine_path "$exe")" --wait-for "$VELKRA_TEST_RECORD" --clicks 2
    --expect-label "$label" --running-copy "$(wine_path "$target/dx8vb.dll")")
# On win64 the source is hidden and system too: Wine keeps those in an extended attribute, which
# the VM's tmpfs cannot hold. And the Wine server, which does the rename, runs under strace with
# the programs, as a server of its own: in a VM, a cold start.
if on win64; then
    "$WINE" attrib +h "$(wine_path "$source")" </dev/null # one attribute at a time
    "$WINE" attrib +s "$(wine_path "$source")" </dev/null
    chmod a-w "$source"
    check "the source is read-only, hidden and system" attributes_are "$source" RHS
    check "Install runs twice, under strace" wine_server_apart \
        run_probe --strace "$session/install.strace" "${twice[@]}"
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
if on wow64; then check "nothing went to the 64-bit system32" test ! -e "$system32/dx8vb.dll"; fi
