# The same code cross-compiled for x86_64 Windows: a test build only, for hosts whose kernel runs
# no 32-bit programs and so cannot start Wine's 32-bit loader. It is never shipped: Windows does
# not virtualise a 64-bit program's view of C:\Programme, which the tool relies on.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(ORDOVAN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORDOVAN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORDOVAN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORDOVAN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORDOVAN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
