#!/usr/bin/env bash
# Cross-compiles the protocol libraries, kelobsl-cli, the window kelobsl.exe
# and the Windows unit tests (GoogleTest built from Debian's googletest source)
# with MinGW-w64, failing on any compiler warning or on a program that needs
# DLLs beside it. Then, unless KELO_WINE=0, runs them under
# Wine with tools/test-windows.sh (which needs the native build for kelosim).
#   tools/check-windows-build.sh [build-folder]     (KELO_WINE=0: build only)
# Needs: apt-get install g++-mingw-w64-x86-64-posix googletest cmake ninja-build [wine wine64]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-mingw}"
targets=(kelo_log kelo_platform kelo_serial kelo_bootloader kelo_logger_protocol kelo_instrument kelo_app kelobsl-cli
         kelobsl windows_tests)

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "x86_64-w64-mingw32-g++-posix not found: apt-get install g++-mingw-w64-x86-64" >&2
    exit 2
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

cmake -S "$root" -B "$build" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DKELO_BUILD_TESTS=ON \
    -DCMAKE_CXX_FLAGS="-Werror"

# Build from clean so that every file is compiled (and checked) again.
cmake --build "$build" --target clean
cmake --build "$build" --target "${targets[@]}" -j2
echo "Windows build of ${targets[*]} is warning-free."

# The programs ship as single files: only Windows' own DLLs may be imported.
for exe in "$build/cli/kelobsl-cli.exe" "$build/gui/win32/kelobsl.exe"; do
    foreign=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
        grep -viE '^(advapi32|comctl32|comdlg32|gdi32|kernel32|msvcrt|setupapi|shell32|user32|version|ole32|cfgmgr32)\.dll$' || true)
    if [ -n "$foreign" ]; then
        echo "$(basename "$exe") needs DLLs that Windows does not have: $foreign" >&2
        exit 1
    fi
done
echo "kelobsl-cli.exe and kelobsl.exe import Windows system DLLs only."


if [ "${KELO_WINE:-1}" = 0 ]; then
    echo "KELO_WINE=0: Windows tests not run."
    exit 0
fi
exec bash "$root/tools/test-windows.sh" "$build" "$root/build"
