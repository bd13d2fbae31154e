#!/usr/bin/env bash
# The Windows installer under Wine: a silent per-user install, the installed
# kelobsl-cli.exe --version, the uninstall entry and Start-menu shortcuts, then
# the silent uninstaller, after which nothing of the install is left.
#   windows-install-test.sh PACKAGE-DIR VERSION WINE-PREFIX
set -euo pipefail
dir=$1 version=$2
fail() { echo "FAIL: $*"; exit 1; }
setup="$dir/kelobsl-$version-win64-setup.exe"
[ -f "$setup" ] || fail "no $(basename "$setup") in $dir: run tools/package.sh first"
wine=$(command -v wine || command -v wine64 || true)
if [ -z "$wine" ]; then
  echo "Wine not installed (apt-get install wine): installer not tested"
  exit 77
fi

export WINEPREFIX=$3 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KeloBSL'
snapshot() { (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -print | grep -v '/Temp/' | sort); }
# Wine's paths of the user's folders, as Linux paths.
folders() {
  "$wine" cmd /c 'echo %LOCALAPPDATA%& echo %APPDATA%' | tr -d '\r' | while read -r f; do winepath -u "$f"; done
}

# The prefix is made once and kept; one left dirty by a failed run is made anew.
if [ -f "$WINEPREFIX/system.reg" ] && [ -e "$(folders | head -n 1)/Programs/KeloBSL" ]; then
  rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot --init >/dev/null 2>&1
  wineserver -w
fi
{ read -r local; read -r roaming; } < <(folders)
instdir="$local/Programs/KeloBSL"
menu="$roaming/Microsoft/Windows/Start Menu/Programs/KeloBSL"
# Windows keeps a per-user Programs folder; a fresh Wine prefix may not have
# it yet, and an uninstaller rightly leaves it.
mkdir -p "$local/Programs"
before=$(snapshot)

"$wine" "$setup" /S
wineserver -w
for f in kelobsl-cli.exe Uninstall.exe; do
  [ -f "$instdir/$f" ] || fail "the installer put no $f in $instdir"
done
links=("KeloBSL command line.lnk" "Uninstall KeloBSL.lnk")
[ -f "$instdir/kelobsl.exe" ] && links+=("KeloBSL.lnk")
for l in "${links[@]}"; do
  [ -f "$menu/$l" ] || fail "no Start-menu shortcut '$l'"
done
"$wine" reg query "$key" /v DisplayVersion | grep -qF "$version" ||
  fail "no installed-programs entry with version $version"
"$wine" reg query "$key" /v UninstallString | grep -qF 'Uninstall.exe' || fail "the entry names no uninstaller"

"$wine" "$instdir/kelobsl-cli.exe" --version | grep -qF "$version" ||
  fail "the installed kelobsl-cli.exe --version does not show $version"

"$wine" "$instdir/Uninstall.exe" /S
wineserver -w
[ ! -e "$instdir" ] || fail "the uninstaller left $instdir: $(ls "$instdir")"
[ ! -e "$menu" ] || fail "the uninstaller left the Start-menu folder"
if "$wine" reg query "$key" >/dev/null 2>&1; then fail "the uninstaller left the installed-programs entry"; fi
after=$(snapshot)
[ "$before" = "$after" ] || fail "files left behind: $(diff <(echo "$before") <(echo "$after") | grep '^>' || true)"
echo "ok: $(basename "$setup"): silent install, shortcuts, uninstall entry, --version, silent uninstall, nothing left"
