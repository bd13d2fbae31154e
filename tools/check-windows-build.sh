#!/usr/bin/env bash
# Cross-compiles the protocol libraries and kelobsl-cli for Windows with
# MinGW-w64, failing on any compiler warning, and links a small smoke program
# against the serial layer. When Wine is installed the smoke program also
# runs: it checks the closed/missing-port results and the port list, and,
# with a Wine COM port mapped to a pseudo-terminal, one echo exchange through
# the real Win32 serial calls. When the native build (build/) has kelosim,
# kelobsl-cli.exe then updates a simulated instrument on a Wine COM port.
#   tools/check-windows-build.sh [build-folder]     (KELO_WINE=0: build only)
# Needs: apt-get install g++-mingw-w64-x86-64 cmake ninja-build [wine64]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-mingw}"
targets=(kelo_log kelo_serial kelo_bootloader kelo_logger_protocol kelo_instrument kelo_app kelobsl-cli)

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "x86_64-w64-mingw32-g++-posix not found: apt-get install g++-mingw-w64-x86-64" >&2
    exit 2
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

cmake -S "$root" -B "$build" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DKELO_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="-Werror"

# Build from clean so that every file is compiled (and checked) again.
cmake --build "$build" --target clean
cmake --build "$build" --target "${targets[@]}" -j2
echo "Windows build of ${targets[*]} is warning-free."

# The libraries are static archives: only a link shows missing system libraries.
smoke="$build/windows-smoke"
mkdir -p "$smoke"
cat > "$smoke/smoke.cpp" <<'CPP'
#include <cstdio>
#include <cstring>

#include "CommPortEnum.h"
#include "KeloLog.h"
#include "KeloSerial.h"

static int passes = 0;
static int failures = 0;

static void Check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    ++(ok ? passes : failures);
}

int main(int argc, char** argv)
{
    KeloLog log("smoke-log.txt", 40, true);
    {
        KeloSerial port(&log);
        Check(port.KSOpen("COM250", 0) == -2, "KSOpen of a missing port gives -2");
        Check(std::strcmp(port.PortName(), "COM250") == 0, "the port name stays set");
        uint32_t n = 0;
        Check(port.KSWrite("x", 1, &n) == -21, "KSWrite after a failed open gives -21");
        Check(port.KSClose() == 0, "KSClose after a failed open gives 0");
    }
    {
        KeloSerial enumerator(&log);
        CommPortEntry entries[8];
        int count = 8;
        int result = CommPortEnum(&enumerator, entries, &count, true);
        Check(result >= 0 && count >= 0 && count <= 8, "CommPortEnum succeeds");
        for (int i = 0; i < count; ++i)
            std::printf("      port %s: %s\n", entries[i].portName, entries[i].displayText);
        count = 0;
        Check(CommPortEnum(&enumerator, entries, &count, false) == -11, "capacity 0 gives -11");
        Check(CommPortEnum(&enumerator, nullptr, &count, false) == -10, "no entries gives -10");
    }
    if (argc > 1) {
        // argv[1] names a COM port whose far side echoes what it gets.
        KeloSerial port(&log);
        Check(port.KSOpen(argv[1], 9600) == 1, "KSOpen of the echo port");
        port.KSPurge(1);
        uint32_t n = 0;
        Check(port.KSWrite("ping\r", 5, &n) == 5 && n == 5, "KSWrite sends 5 bytes");
        Check(port.KSWait(2000, '\r') == '\r', "KSWait sees the echoed CR");
        char answer[32] = {};
        uint32_t got = 0;
        port.KSRead(answer, sizeof answer - 1, &got);
        Check(got == 5 && std::memcmp(answer, "ping\r", 5) == 0, "KSRead delivers the echo");
        Check(port.KSWait(500, '>') == 0, "KSWait times out on a silent line");
        Check(port.KSHostBaud(19200) == 1 && port.Baud() == 19200, "KSHostBaud changes the rate");
        CommPortEntry entries[8];
        int count = 8;
        CommPortEnum(&port, entries, &count, true);
        bool listed = false;
        for (int i = 0; i < count; ++i)
            listed = listed || std::strcmp(entries[i].portName, argv[1]) == 0;
        Check(listed, "a port held open is still listed");
        // Windows answers 5 (in use) here; Wine does not enforce exclusive opens and gives 0.
        std::printf("      probing the open port gives error %d\n", serial_backend::Probe(argv[1]));
        Check(port.KSClose() == 1, "KSClose closes");
    }
    std::printf("%d passed, %d failed\n", passes, failures);
    return failures ? 1 : 0;
}
CPP
inc=(-I"$root/log" -I"$root/serial")
x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -Werror "${inc[@]}" \
    "$smoke/smoke.cpp" -o "$smoke/smoke.exe" \
    "$build/serial/libkelo_serial.a" "$build/log/libkelo_log.a" \
    -lsetupapi -static -static-libgcc -static-libstdc++
echo "Smoke program links: $smoke/smoke.exe"

if [ "${KELO_WINE:-1}" = 0 ]; then
    echo "KELO_WINE=0: smoke program not run."
    exit 0
fi
wine=$(command -v wine || command -v wine64 || true)
[ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
if [ -z "$wine" ]; then
    echo "Wine not installed: smoke program not run."
    exit 0
fi
export WINEPREFIX="$smoke/wineprefix" WINEDEBUG=-all
"$wine" wineboot --init >/dev/null 2>&1 || true
cd "$smoke"
# A pseudo-terminal that echoes, mapped to COM9 in the Wine prefix.
python3 - "$WINEPREFIX/dosdevices/com9" <<'PY' &
import os, pty, sys, time, tty
master, slave = pty.openpty()
tty.setraw(slave)
link = sys.argv[1]
if os.path.lexists(link):
    os.remove(link)
os.symlink(os.ttyname(slave), link)
end = time.time() + 60
os.set_blocking(master, False)
while time.time() < end and os.path.lexists(link):
    try:
        data = os.read(master, 256)
        if data:
            os.write(master, data)
    except BlockingIOError:
        time.sleep(0.01)
    except OSError:
        break
PY
peer=$!
for _ in $(seq 50); do [ -L "$WINEPREFIX/dosdevices/com9" ] && break; sleep 0.1; done
status=0
"$wine" ./smoke.exe COM9 || status=$?
rm -f "$WINEPREFIX/dosdevices/com9"
wait "$peer" || true
[ "$status" -eq 0 ] || exit "$status"

# A whole update through the Win32 back end: kelobsl-cli.exe on COM5, which
# Wine maps to the pseudo-terminal of a simulated Hydrova Series 3.
sim="$root/build/sim/kelosim"
if [ ! -x "$sim" ]; then
    echo "No native kelosim (build it with tools/build.sh build): Windows update not run."
    exit 0
fi
"$sim" --type R7F --version 3.51 --link "$WINEPREFIX/dosdevices/com5" >"$smoke/kelosim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do grep -q '^ready ' "$smoke/kelosim.out" 2>/dev/null && break; sleep 0.1; done
"$wine" "$build/cli/kelobsl-cli.exe" update --port COM5 --demo-image --data-dir 'C:\kelo' >"$smoke/update.out" 2>/dev/null || status=$?
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
grep -v '%$' "$smoke/update.out" | tail -n 4
if [ "$status" -ne 0 ] || ! grep -q "Successfully updated firmware in" "$smoke/update.out"; then
    echo "Windows update against kelosim failed (exit $status); see $smoke/update.out"
    exit 1
fi
echo "kelobsl-cli.exe updated a simulated instrument through the Win32 serial back end."
