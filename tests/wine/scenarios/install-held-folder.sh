# A virus scanner examines the new files of the system folder, and renames into it are denied
# meanwhile, for 800 ms, on a first install: Install waits it out.
# Runs on win64 wow64 win32.
install_waits_out folder
