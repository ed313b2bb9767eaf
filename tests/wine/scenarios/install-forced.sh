# Install with "Force 64 bit Install" checked puts the library in SYSWOW64; on 32-bit Windows,
# which has none, it fails, and says to run the installer again without it.
# Runs on win64 wow64 win32.
exe=$(installer_in forced)
if on win32; then
    an_old_library_in "$system32"
    copy_failure failure "$exe" "$forced_label"
    install_fails_keeping_the_old_library "forced" "$exe" "$system32" --force \
        --report-within 4500 --expect-label "$forced_label" --expect-failure "$failure" \
        --expect-failure 'without ticking "Force 64 bit Install"'
else
    check "Install runs with the box checked" run_probe install "$(wine_path "$exe")" --force \
        --wait-for "$forced_done" --expect-label "$forced_label"
    check "the library went to syswow64" cmp "$standin" "$forced_target/dx8vb.dll"
    check "and not to system32" test ! -e "$system32/dx8vb.dll"
    if on wow64; then check "regsvr32 registered it" recorded "$(registration_in "$syswow64")"; fi
fi
