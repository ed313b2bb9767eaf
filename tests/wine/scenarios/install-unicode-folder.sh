# The installer in a folder with spaces and non-ASCII letters, reached by drive, through a
# network share (which Wine maps through the prefix's dosdevices/unc) and as a device.
# Runs on win64, not wow64 or win32: every build takes paths as the same UTF-16 text.
folder='Prüfung – Ünïcødé folder'
exe=$(installer_in "$folder")
mkdir -p "$WINEPREFIX/dosdevices/unc/velkra-server"
ln -s "$tests" "$WINEPREFIX/dosdevices/unc/velkra-server/tests"
for path in "$(wine_path "$exe")" "\\\\velkra-server\\tests\\$folder\\VelkraInstall.exe" \
    "\\\\.\\$(wine_path "$exe")"; do
    check "Install runs from $path" run_probe install "$path" \
        --wait-for "$VELKRA_TEST_RECORD" --expect-label "$label"
    check "the library was installed from $path" cmp "$standin" "$target/dx8vb.dll"
    no_library
done
