# The same code cross-compiled for x86_64 Windows: a test build only, for hosts whose kernel runs
# no 32-bit programs and so cannot start Wine's 32-bit loader. It is never shipped: Windows does
# not virtualise a 64-bit program's view of C:\Programme, which the tool relies on.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORDOVAN_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-gcc.cmake)
