# Install as older Windows run it, without the functions they lack from its first instruction:
# as Windows 2000, without SetDllDirectoryW and IsWow64Process; as Windows 7, without
# SetDefaultDllDirectories, where it takes the current folder out of the DLL search instead.
# Runs on win64 wow64 win32: in the VM, where each install takes seconds, only what takes each
# fallback on the exe we ship: as 2000 on win32, as 7 under WOW64.
exe=$(installer_in older-windows)
for VELKRA_TEST_AS in "Windows 2000" "Windows 7"; do
    case "$system/$VELKRA_TEST_AS" in "win32/Windows 7" | "wow64/Windows 2000") continue ;; esac
    install_succeeds "an older Windows" "$exe"
    no_library
done
