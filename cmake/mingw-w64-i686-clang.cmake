# The same 32-bit x86 MinGW-w64 target built with clang and lld instead of GCC, against the same
# MinGW-w64 headers and GCC's libstdc++: a second compiler that rejects what only GCC accepts.
# Built in CI, never tested (the GCC build is the one that runs under Wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ORDOVAN_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${ORDOVAN_MINGW_TRIPLET})
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${ORDOVAN_MINGW_TRIPLET})
set(CMAKE_RC_COMPILER ${ORDOVAN_MINGW_TRIPLET}-windres)
set(CMAKE_SYSROOT /usr/${ORDOVAN_MINGW_TRIPLET})

# Clang finds GCC's folder by its version number, and Debian names it "12-posix", which clang 14
# does not read as one: it would then miss libstdc++'s headers and libraries, and link
# MinGW-w64's crtbegin.o in place of GCC's, which registers the exception tables libgcc's
# unwinder needs (without it every throw ends the program). The posix GCC names the folder; -B
# makes clang take crtbegin.o and crtend.o from there.
execute_process(
    COMMAND ${ORDOVAN_MINGW_TRIPLET}-g++-posix -print-libgcc-file-name
    OUTPUT_VARIABLE ORDOVAN_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
cmake_path(GET ORDOVAN_LIBGCC PARENT_PATH ORDOVAN_GCC_DIR)
# GCC builds libstdc++ for MinGW with emulated thread-local storage (std::call_once's state lives
# in __emutls_v.* variables); clang must use the same, or such code does not link.
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_FLAGS_INIT
    "-femulated-tls -stdlib++-isystem ${ORDOVAN_GCC_DIR}/include/c++ -stdlib++-isystem ${ORDOVAN_GCC_DIR}/include/c++/${ORDOVAN_MINGW_TRIPLET}")
# GCC's posix thread model adds winpthreads to every link on its own; clang needs it named. lld
# resolves archives in any order, so it may stand in front of libstdc++.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -B${ORDOVAN_GCC_DIR} -L${ORDOVAN_GCC_DIR} -lpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${ORDOVAN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
