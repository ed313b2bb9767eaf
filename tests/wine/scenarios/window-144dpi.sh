# The window at 144 DPI, set before it starts; and as Windows 7 and XP run it, which lack the
# functions for a window's own DPI and frame: it takes the screen's.
# Runs on win64 win32, not wow64: every build scales alike, and window-96dpi checks 144 DPI on a
# move there. On win32 only as XP, which takes every fallback that 7 takes, on the exe we ship.
set_dpi 144
exe=$(installer_in window)
for VELKRA_TEST_AS in "" "Windows 7" "Windows XP"; do
    if on win32 && [ "$VELKRA_TEST_AS" != "Windows XP" ]; then continue; fi
    check "the window at 144 DPI" run_probe window "$(wine_path "$exe")" 144 "$label"
done
