# The installer in a folder whose path is longer than MAX_PATH (260 characters).
# Runs on win64, not wow64 or win32: every build asks for its path with the same growing buffer.
long=$(printf '/a folder name of forty characters %04d' $(seq 1 8))
exe=$(installer_in "long$long")
check "the installer's path is longer than 260 characters" \
    test "$(wine_path "$exe" | wc -c)" -gt 260
# Wine's CreateProcessW takes no program path past MAX_PATH, but Wine's loader does. The probe
# closes the window it finds; timeout ends one it never finds.
(cd "$tests" && exec timeout 120 "$WINE" "$exe" >"$session/long-folder.log" 2>&1 </dev/null) &
check "Install runs from it" run_probe install --attach \
    --wait-for "$VELKRA_TEST_RECORD" --expect-label "$label"
wait $! || sed 's/^/    the installer: /' "$session/long-folder.log"
check "the library was installed" cmp "$standin" "$target/dx8vb.dll"
