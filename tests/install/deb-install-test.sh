#!/usr/bin/env bash
# The Debian package, unpacked into a throw-away root: its control fields and
# files, then the installed kelobsl-cli updates a simulated instrument served
# by the installed kelosim.
#   deb-install-test.sh PACKAGE-DIR VERSION WINDOW(0|1)
set -euo pipefail
dir=$1 version=$2 window=$3
fail() { echo "FAIL: $*"; exit 1; }
deb=$(ls "$dir"/kelobsl_"$version"_*.deb 2>/dev/null | head -n 1 || true)
[ -n "$deb" ] || fail "no kelobsl_${version}_*.deb in $dir: run tools/package.sh first"

work=$(mktemp -d /tmp/kelobsl-deb-test.XXXXXX)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = kelobsl ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
# Computed from the binaries: the C++ runtime is there, and Qt only with the window.
depends=$(field Depends)
for lib in libc6 libstdc++6; do
  [[ $depends == *"$lib "* ]] || fail "Depends lacks $lib: $depends"
done
if [ "$window" = 1 ]; then
  [[ $depends == *libqt6widgets6* ]] || fail "Depends lacks Qt 6 Widgets: $depends"
fi
dpkg-deb --info "$deb" postinst | grep -q 'sudo usermod -aG dialout' || fail "postinst does not tell about dialout"

dpkg -x "$deb" "$work/root"
files=(usr/bin/kelobsl-cli usr/bin/kelosim usr/bin/mkfirmware
       usr/share/man/man1/kelobsl-cli.1.gz usr/share/man/man1/kelosim.1.gz
       usr/share/man/man1/mkfirmware.1.gz usr/share/doc/kelobsl/copyright)
if [ "$window" = 1 ]; then
  files+=(usr/bin/kelobsl usr/share/man/man1/kelobsl.1.gz usr/share/applications/kelobsl.desktop
          usr/share/icons/hicolor/48x48/apps/kelobsl.png)
fi
for f in "${files[@]}"; do
  [ -s "$work/root/$f" ] || fail "the package has no $f"
done
zcat "$work/root/usr/share/man/man1/kelobsl-cli.1.gz" | grep -q -- '--port' ||
  fail "the kelobsl-cli manual page does not describe --port"

bin="$work/root/usr/bin"
for program in kelobsl-cli kelosim mkfirmware; do
  "$bin/$program" --version | grep -qF "$version" || fail "$program --version does not show $version"
done

"$bin/kelosim" --type R7F --version 3.51 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do
  grep -q '^ready ' "$work/sim.out" 2>/dev/null && break
  sleep 0.1
done
port=$(awk '/^ready /{print $2; exit}' "$work/sim.out")
[ -n "$port" ] || fail "the installed kelosim did not start: $(cat "$work/sim.err")"
status=0
"$bin/kelobsl-cli" update --demo-image --port "$port" --data-dir "$work/data" >"$work/update.out" 2>&1 || status=$?
if [ $status -ne 0 ] || ! grep -q 'Successfully updated firmware in' "$work/update.out"; then
  grep -v '%$' "$work/update.out" | tail -n 20
  fail "the installed kelobsl-cli did not update the simulated instrument (exit $status)"
fi
echo "ok: $(basename "$deb"): fields, files, --version, an update against the installed kelosim"
