# Cross-compiling for 32-bit x86 Windows with Debian's MinGW-w64 (posix thread model). The tool is
# a 32-bit program so that Windows gives it the same virtualised view of protected folders that it
# gives the legacy imaging application it drives.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ORDOVAN_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-gcc.cmake)
