# The window at 144 DPI, set before it starts.
# Runs on win64, not wow64 or win32: every build scales alike, and they check 144 DPI on a move.
set_dpi 144
exe=$(installer_in window)
check "the window at 144 DPI" run_probe window "$(wine_path "$exe")" 144 "$label"
