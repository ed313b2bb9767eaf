# A read-only dx8vb.dll in the system folder, or a folder of that name: no wait changes either,
# so each is reported at once, and the library stays.
# Runs on win64, not wow64 or win32: every build takes Windows' answer to the replace alike.
exe=$(installer_in read-only)
an_old_library_in "$system32"
chmod a-w "$system32/dx8vb.dll" # Wine's read-only attribute
install_fails_keeping_the_old_library "a read-only library" "$exe" "$system32" "${at_once[@]}"
no_library
mkdir "$system32/dx8vb.dll"
check "Install reports a folder in the library's place" run_probe install "$(wine_path "$exe")" \
    --expect-failure 'The destination is a folder.' "${at_once[@]}"
