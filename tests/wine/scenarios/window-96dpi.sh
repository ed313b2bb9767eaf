# The window at 96 DPI, the session's: its controls, font, focus and tab order, and how it lays
# itself out again on a monitor of 144 DPI.
# Runs on win64 wow64, not win32: its 32-bit Wine draws the same exe as WOW64's 32-bit side does.
exe=$(installer_in window)
check "the window at 96 DPI" run_probe window "$(wine_path "$exe")" 96 "$label"
