# What people find saved under a library's name is refused before the system folder changes:
# a web page, a download cut short, an empty file, a program, a library for the other machine.
# Runs on win64 wow64, not win32: the i686 exe reads the same bytes as under WOW64.
# In the VM, where every install takes many seconds, only what the build's machine decides;
# every build refuses the others alike. Wine's own dx8vb.dll for this machine installs.
kinds="web-page half-download rewritten-line-ends empty-file program other-machine short-reads"
if ! on win64; then kinds=other-machine; fi
own=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/dx8vb.dll
other=/usr/lib/i386-linux-gnu/wine/i386-windows/dx8vb.dll
if [ "$bits" = 32 ]; then read -r own other <<<"$other $own"; fi
exe=$(installer_in not-a-library)
source=${exe%/*}/dx8vb.dll
an_old_library_in "$target"
for kind in $kinds; do
    case $kind in
        web-page) printf '<!DOCTYPE html>\n<html><body>dx8vb.dll: download</body></html>\n' ;;
        half-download) head -c $(($(stat -c %s "$standin") / 2)) "$standin" ;;
        rewritten-line-ends) sed 's/$/\r/' "$standin" ;;
        empty-file) ;;
        program) cat "$probe" ;;
        other-machine) cat "$other" ;;
        # From now on read a few bytes at a time, as from a network share. Wine's own installs.
        short-reads) export VELKRA_TEST_SHORT_READS=300 && cat "$other" ;;
    esac >"$source"
    install_fails_keeping_the_old_library "$kind" "$exe" "$target" --report-within 4500 \
        "${at_once[@]}" --expect-failure "dx8vb.dll to install is not a $bits-bit Windows library"
done
cp "$own" "$source"
check "Install takes Wine's own dx8vb.dll" run_probe install "$(wine_path "$exe")" \
    --wait-for "$(wine_path "$target/dx8vb.dll")" --expect-label "$label"
check "and installs it" cmp "$own" "$target/dx8vb.dll"
