# No dx8vb.dll beside the installer: the report gives Windows' own text, as Wine words it, the
# advice for a zip file, and the call that failed, and the library there stays as it was. As
# Windows XP runs it too, whose report shows only once the installer has loaded its controls.
# Runs on win64 wow64 win32: on win32 only as XP, on wow64 only as today's Windows.
exe=$(installer_in source-missing)
rm "${exe%/*}/dx8vb.dll"
an_old_library_in "$target"
copy_failure failure "$exe" "$label"
for VELKRA_TEST_AS in "" "Windows XP"; do
    case "$system/$VELKRA_TEST_AS" in win32/ | "wow64/Windows XP") continue ;; esac
    install_fails_keeping_the_old_library "no dx8vb.dll beside the installer" "$exe" "$target" \
        --expect-failure "$failure" --expect-failure $'File not found.\n\n' \
        --expect-failure 'extract the whole zip file' --expect-failure '(CreateFileW, error 2)' \
        --report-within 4500 "${at_once[@]}"
done
