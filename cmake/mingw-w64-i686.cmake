# Cross-compiling for 32-bit x86 Windows with Debian's MinGW-w64 (posix thread model). The tool is
# a 32-bit program so that Windows gives it the same virtualised view of protected folders that it
# gives the legacy imaging application it drives.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ORDOVAN_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ORDOVAN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORDOVAN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORDOVAN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORDOVAN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
