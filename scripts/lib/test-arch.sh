# Sourced by scripts/test, demo, soak and bench: which build their programs run on, decided here
# and nowhere else. The shipped program is 32-bit x86, and every test runs on it where the host
# can run it. Some hosts' kernels run no 32-bit programs, and then Wine's 32-bit loader, itself a
# 32-bit Linux program, cannot start: there the tests run on an x86_64 build of the same code,
# with Wine's 64-bit loader, and the shipped exe is still built and checked.
#   ORDOVAN_TEST_ARCH=x86|x86_64   overrides what the host answers
# Sets test_arch, test_preset, test_build and test_arch_note.

# Asks the host by starting the 32-bit loader; the kernel's refusal is the answer.
ordovan_probe_x86() {
    local loader=/usr/lib/wine/wine output
    if [ ! -x "$loader" ]; then
        probe_reason="Wine's 32-bit loader $loader is not installed"
        return 1
    fi
    if output=$("$loader" --version 2>&1); then
        return 0
    fi
    probe_reason="$loader --version: $(printf '%s' "$output" | tail -n 1 | sed 's/^.*: //')"
    return 1
}

probe_reason=""
case "${ORDOVAN_TEST_ARCH:-}" in
    x86 | x86_64)
        test_arch=$ORDOVAN_TEST_ARCH
        why="ORDOVAN_TEST_ARCH=$ORDOVAN_TEST_ARCH"
        ;;
    "")
        if ordovan_probe_x86; then
            test_arch=x86
            why="this host runs 32-bit programs"
        else
            test_arch=x86_64
            why="this host cannot run 32-bit programs ($probe_reason)"
        fi
        ;;
    *)
        echo "ORDOVAN_TEST_ARCH must be x86 or x86_64, not '$ORDOVAN_TEST_ARCH'" >&2
        exit 2
        ;;
esac

if [ "$test_arch" = x86 ]; then
    test_preset=mingw
    test_arch_note="$why; tests run on the shipped x86 build"
else
    test_preset=mingw64
    test_arch_note="$why; tests run on the x86_64 build of the same code; the shipped x86 exe was built and checked, not run"
fi
test_build="$PWD/build/$test_preset"

# Builds the shipped 32-bit exe where the tests run on the other build: linking it runs its build
# check (cmake/check-exe.cmake). Takes the cmake options of the caller's build.
ordovan_build_shipped() {
    [ "$test_arch" = x86 ] && return 0
    cmake --preset mingw "$@" >/dev/null
    cmake --build --preset mingw --target CopyOrdovan >/dev/null
}
