#!/usr/bin/env bash
# The window kelobsl.exe under Wine on a display of its own (Xvfb): kelosim
# (R7F 3.51) on a pseudo-terminal linked as COM5, and the Windows program
# kelobsl_ui_driver.exe starts `kelobsl.exe --port COM5`, presses Start,
# answers the questions, waits for the success text, closes the window and
# checks the preferences in the registry. Then the checks of a whole update
# (version, good code, settings back, flash equal to the image, the log in
# the Windows data folder). Screenshots of the window mid-upload and finished
# go to <cross-build>/screenshots/. Last, the "Which Instrument?" dialog test
# of win32_view_tests.exe, which needs this display.
#   tools/test-windows-ui.sh [cross-build-folder] [native-build-folder]
# tools/test-windows.sh runs it last; skipped when Wine, Xvfb or kelobsl.exe
# is missing.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
win="$(realpath -m "${1:-$root/build-mingw}")"
native="$(realpath -m "${2:-$root/build}")"
started=$SECONDS
kelobsl="$win/gui/win32/kelobsl.exe"
driver="$win/tests/windows-ui/kelobsl_ui_driver.exe"

skip() { echo "Windows window test skipped: $*"; exit 0; }
[ -f "$kelobsl" ] || skip "$kelobsl was not built."
[ -f "$driver" ] || skip "$driver was not built (cmake --build $win --target windows_tests)."
command -v Xvfb >/dev/null || skip "Xvfb is missing (apt-get install xvfb)."
command -v import >/dev/null || skip "ImageMagick's import is missing (apt-get install imagemagick)."
[ -x "$native/sim/kelosim" ] || { echo "$native/sim/kelosim is missing: build the native tree first." >&2; exit 1; }

source "$root/tools/wine-common.sh"
command -v wine >/dev/null || command -v wine64 >/dev/null || skip "Wine is not installed."

work="$win/wine-ui-run"
shots="$win/screenshots"
rm -rf "$work"
mkdir -p "$work" "$shots"
rm -f "$shots"/kelobsl-exe-*.png

# Wine reads a Windows path; its drive Z: is the Linux root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# A display of our own; Xvfb picks a free number and tells it on fd 3.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start: $(cat "$work/xvfb.err")" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"
finish() {
    wine_cleanup
    # Wine's desktop process holds the display: end it before the display.
    wineserver -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
}
trap finish EXIT
# A Wine server started earlier without this display would keep its
# desktop away from it: start Wine afresh.
export WINEPREFIX="$win/wineprefix"
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wine_setup
# The window and its driver share a Wine desktop of their own, which draws
# the title bar (Xvfb has no window manager to draw one).
cat >"$work/desktop.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\kelobsl.exe\Explorer]
"Desktop"="KeloBSL"

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\kelobsl_ui_driver.exe\Explorer]
"Desktop"="KeloBSL"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"KeloBSL"="640x480"
REG
"$wine" regedit /S "$(windows_path "$work/desktop.reg")"

# Runs the driver; takes a screenshot when it says the upload shows and one
# when it says it is finished (then lets it close the window).
drive_window() {
    local rc=0
    "$wine" "$driver" --exe "$(windows_path "$kelobsl")" --port COM5 \
        --hold "$(windows_path "$work/screenshots-taken")" &
    driver_pid=$!
    if driver_says uploading; then
        import -window root "$shots/kelobsl-exe-uploading.png"
        # The driver's next status line tells when the upload had ended.
        if grep -q '^status "Restarting' "$work/ui-driver.out"; then
            echo "note: the upload had ended when the screenshot was taken"
        fi
    fi
    if driver_says finished; then
        import -window root "$shots/kelobsl-exe-finished.png"
    fi
    touch "$work/screenshots-taken"
    wait "$driver_pid" || rc=$?
    return $rc
}
# Waits for the driver's line $1 while the driver runs (its own time-outs end it).
driver_says() {
    while kill -0 "$driver_pid" 2>/dev/null; do
        grep -q "^$1" "$work/ui-driver.out" && return 0
        sleep 0.05
    done
    return 1
}

# Unpaced, the upload under Wine is over in about half a second, sooner than
# a screenshot can be taken after the driver has seen it start; at 115200
# baud it takes a few seconds (and the whole test about 6 s more).
sim_options=(--pace 115200)
update_com5 "Windows window under Wine (kelobsl_ui_driver.exe, kelobsl.exe --port COM5)" \
    "$work/ui-driver.out" drive_window
grep -E '^(message box|registry|success text|note|FAILED)' "$work/ui-driver.out" | tr -d '\r' | sed 's/^/    /'
for shot in uploading finished; do
    check "screenshot $shots/kelobsl-exe-$shot.png" test -s "$shots/kelobsl-exe-$shot.png"
done
# The "Which Instrument?" dialog's own test needs a display: the unit-test
# stage runs without one, where it skips.
dialog_out="$work/instrument-choice.out"
if "$wine" "$win/tests/win32/win32_view_tests.exe" --gtest_filter='InstrumentChoiceDialog.*' --gtest_color=no \
        >"$dialog_out" 2>&1 && grep -q '^\[  PASSED  \] 1 test' "$dialog_out"; then
    echo "    \"Which Instrument?\" dialog: passed."
else
    echo "    \"Which Instrument?\" dialog: FAILED: see $dialog_out"
    e2e_ok=0
fi
echo "Windows window test took $((SECONDS - started)) s."
if [ "$e2e_ok" = 1 ]; then
    echo "Windows window under Wine: passed."
else
    echo "Windows window under Wine: FAILED: see $work/ui-driver.out"
    exit 1
fi
