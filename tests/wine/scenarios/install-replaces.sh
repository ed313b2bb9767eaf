# Install replaces an older library, and the window answers while regsvr32 registers the new one
# (regsvr32 stays open as long as its message box does; the installer does not wait).
# Runs on win64, not wow64 or win32: their install scenario replaces the library when pressed again.
exe=$(installer_in replaces)
an_old_library_in "$target"
install_succeeds "an older library there" "$exe" --block-registration
