# Cross compiling for Windows with Debian's mingw-w64. VELKRA_MINGW_TRIPLE picks the target:
# i686-w64-mingw32 for the product, x86_64-w64-mingw32 for the build that runs under wine64.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT VELKRA_MINGW_TRIPLE)
    set(VELKRA_MINGW_TRIPLE i686-w64-mingw32)
endif()
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${VELKRA_MINGW_TRIPLE}")

# The win32 thread model needs no winpthread DLL beside the exe.
set(CMAKE_C_COMPILER ${VELKRA_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${VELKRA_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${VELKRA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELKRA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
