# The window at 96 DPI, the session's: its controls, font, focus and tab order, and how it lays
# itself out again on a monitor of 144 DPI; on win64 also as Windows 7 and XP run it.
# Runs on win64 wow64, not win32: its 32-bit Wine draws the same exe as WOW64's 32-bit side does.
exe=$(installer_in window)
for VELKRA_TEST_AS in "" "Windows 7" "Windows XP"; do
    if on wow64 && [ -n "$VELKRA_TEST_AS" ]; then continue; fi
    check "the window at 96 DPI" run_probe window "$(wine_path "$exe")" 96 "$label"
done
