# A full disk under the 32-bit system folder, reached with the box checked: the copy fails and
# the library there stays as it was.
# Runs on win64, not wow64 or win32: every build writes alike; a VM would pay a cold Wine start.
# The small disk is a tmpfs in a mount namespace of the test's own, which needs a user namespace,
# not root: the test runs again in there, with the Wine server that writes the files.
if [ -z "${VELKRA_SMALL_DISK:-}" ]; then
    if ! unshare -rm true 2>/dev/null; then
        echo "skipped: this kernel lets no user make a user namespace (unshare -rm)"
        exit 77
    fi
    status=0
    VELKRA_SMALL_DISK=1 wine_server_apart unshare -rm "$0" "$session" "$build" \
        "$scenario" || status=$?
    exit $status
fi
mount -t tmpfs -o size=256k velkra-test "$syswow64"
trap '"$WINESERVER" -k; "$WINESERVER" -w' EXIT
exe=$(installer_in disk-full)
an_old_library_in "$syswow64"
dd if=/dev/zero of="$syswow64/filler" bs=4k 2>/dev/null || true
install_fails_keeping_the_old_library "a full disk" "$exe" "$syswow64" --force
