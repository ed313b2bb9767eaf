# Each denial is reported as what it is, without "Not Responding" first: creating the copy without
# rights, replacing a library whose permissions forbid it, a rename over the library in use.
# Runs on win64 wow64 win32.
exe=$(installer_in denied)
an_old_library_in "$target"
install_fails_keeping_the_old_library "copy denied" "$exe" "$target" --deny copy \
    --report-within 4500 "${at_once[@]}" --expect-failure 'Only an administrator can install'
# No wait changes what rights forbid: reported at once.
install_fails_keeping_the_old_library "replace denied" "$exe" "$target" --deny replace \
    --report-within 4500 "${at_once[@]}" \
    --expect-failure 'does not allow the dx8vb.dll already there' \
    --expect-failure-without 'running program' --expect-failure-without scanner
install_fails_keeping_the_old_library "library in use" "$exe" "$target" \
    --hold "$(wine_path "$target/dx8vb.dll")" --report-within 4500 \
    --expect-failure 'in use by a running program'
