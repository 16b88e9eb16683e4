# Build check of the executable, run after every link: the shipped one must be a 32-bit x86 program
# whose embedded manifest requests no execution level. Only such a program gets Windows' file
# virtualisation, and with it the same view of C:\Programme as the imaging application. The x86_64
# test build must name its own architecture in its manifest, so that it cannot pass for the program.
# Usage: cmake -DEXE=path/to/CopyOrdovan.exe [-DMACHINE=0x014C -DARCH=x86] -P check-exe.cmake

function(read_uint offset size out)
    file(READ "${EXE}" bytes OFFSET ${offset} LIMIT ${size} HEX)
    # Little-endian: the last byte is the most significant.
    set(value 0)
    math(EXPR last "${size} - 1")
    foreach(i RANGE ${last} 0 -1)
        math(EXPR start "${i} * 2")
        string(SUBSTRING "${bytes}" ${start} 2 byte)
        math(EXPR value "${value} * 256 + 0x${byte}")
    endforeach()
    set(${out} ${value} PARENT_SCOPE)
endfunction()

if(NOT DEFINED MACHINE)
    set(MACHINE 0x014C)
    set(ARCH x86)
endif()

read_uint(0 2 dos_magic)
if(NOT dos_magic EQUAL 0x5A4D)
    message(FATAL_ERROR "${EXE} is no Windows executable")
endif()
read_uint(60 4 pe_offset)
math(EXPR machine_offset "${pe_offset} + 4")
read_uint(${machine_offset} 2 machine)
if(NOT machine EQUAL ${MACHINE})
    message(FATAL_ERROR "${EXE} is not a program for ${ARCH} (machine ${machine})")
endif()

file(STRINGS "${EXE}" manifest
    REGEX "<assembly|requestedExecutionLevel|requestedPrivileges|processorArchitecture=\"[a-z0-9]+\"")
if(NOT manifest MATCHES "<assembly")
    message(FATAL_ERROR "${EXE} carries no manifest")
endif()
if(NOT manifest MATCHES "name=\"CopyOrdovan\"[^>]*processorArchitecture=\"${ARCH}\"")
    message(FATAL_ERROR "${EXE}'s manifest does not name the architecture ${ARCH}")
endif()
if(manifest MATCHES "requestedExecutionLevel|requestedPrivileges")
    message(FATAL_ERROR "${EXE}'s manifest requests an execution level")
endif()
