# Programs and DLLs planted beside the installer neither run nor load: it starts the system's
# regsvr32, and takes DLLs from the system folder only.
# Runs on win64 wow64, not win32: its 32-bit Wine searches for DLLs as WOW64's 32-bit side does.
# Wine is told to prefer native DLLs of these names, so a planted one would be loaded if the
# installer looked in its own folder (without the installer's own limit, Wine loads the planted
# uxtheme.dll). version.dll and msimg32.dll lie there too, but Wine keeps its own of them: its
# user32 imports version.dll before any of the installer's code runs, and its uxtheme
# delay-loads msimg32.dll ignoring the limit; Windows takes both from the system folder.
names="uxtheme dwmapi comctl32 cryptbase profapi winmm dbghelp propsys"
exe=$(installer_in planted)
for name in version msimg32 $names; do
    cp "$build/tests/wine/planted.dll" "${exe%/*}/$name.dll"
done
cp "$build/tests/wine/planted_program.exe" "${exe%/*}/regsvr32.exe"
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(echo "$names" | tr ' ' ',')=n,b" \
    check "Install runs beside planted files" run_probe install "$(wine_path "$exe")" \
    --wait-for "$VELKRA_TEST_RECORD" --expect-label "$label"
check "the system's regsvr32 registered the library" recorded "$(registration_in "$target")"
check "nothing planted beside the installer ran" test ! -e "$planted"
if [ -e "$planted" ]; then iconv -f UTF-16LE -t UTF-8 "$planted"; fi
