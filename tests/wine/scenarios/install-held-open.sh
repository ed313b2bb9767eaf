# Another program, a virus scanner say, holds a file of the install, sharing nothing: for 800 ms
# Install waits it out; throughout, it reports it, and a held copy stays for the next install.
# Runs on win64, not wow64 or win32: they wait out install-held-folder's hold in the same code.
exe=$(installer_in held-open)
# Held throughout, the new copy on a first install cannot be deleted either.
check "Install reports its new copy held" run_probe install "$(wine_path "$exe")" \
    --hold new-copy --report-within 4500 --expect-failure 'holds the new copy of dx8vb.dll' \
    --expect-failure '(MoveFileExW, error 32)' --expect-failure-without 'already there'
check "nothing was installed or registered" test ! -e "$target/dx8vb.dll" -a ! -e "$record"
check "the held copy stays" test -n "$(find "$target" -maxdepth 1 -name 'dx8vb.dll.*.tmp')"
# Held for 800 ms after the click: the new copy on a first install, the library beside the
# installer, the one it replaces. Install waits it out.
install_waits_out new-copy
for hold in "$tests/held-open/dx8vb.dll" "$target/dx8vb.dll"; do
    an_old_library_in "$target"
    install_waits_out "$(wine_path "$hold")"
done
# Renames into the system folder denied throughout, on a first install: reported as the folder
# held, not the library there in use.
exe=$(installer_in held-open)
check "Install reports the folder held" run_probe install "$(wine_path "$exe")" \
    --hold folder --report-within 4500 --expect-failure 'keeps the system folder from' \
    --expect-failure '(MoveFileExW, error 5)' --expect-failure-without 'already there'
check "nothing was installed or registered" test ! -e "$target/dx8vb.dll" -a ! -e "$record"
check "no temporary file is left" no_leftovers_in "$target"
