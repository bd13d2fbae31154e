#!/usr/bin/env bash
# Builds the packages people install and prints their names and sizes:
#   the Debian package (CPack)               from the native build,
#   the Windows installer (NSIS) and a zip   from the MinGW-w64 build,
# all into NATIVE-BUILD/packages. Runs lintian on the Debian package (errors fail).
#   tools/package.sh [native-build [mingw-build]]     (default: build build-mingw)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=$(realpath -m "${1:-$root/build}")
mingw=$(realpath -m "${2:-$root/build-mingw}")
out="$native/packages"

for tool in help2man:help2man dpkg-shlibdeps:dpkg-dev makensis:nsis zip:zip \
            x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix; do
  if ! command -v "${tool%%:*}" >/dev/null; then
    echo "package: ${tool%%:*} not found: apt-get install ${tool#*:} (or bash tools/install-deps.sh)" >&2
    exit 2
  fi
done

# Debian package from the native build.
bash "$root/tools/build.sh" "$native"
cmake --build "$native" --target kelo_packaged -j 2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$native/CMakeCache.txt")
rm -rf "$out"
mkdir -p "$out"
cpack --config "$native/CPackConfig.cmake" -B "$out/cpack" >"$out/cpack.log" ||
  { cat "$out/cpack.log" >&2; exit 1; }
mv "$out"/cpack/kelobsl_"$version"_*.deb "$out/"
rm -rf "$out/cpack"
deb=$(ls "$out"/kelobsl_"$version"_*.deb)

# Windows installer and portable zip from the MinGW-w64 build.
if [ ! -f "$mingw/CMakeCache.txt" ]; then
  generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S "$root" -B "$mingw" "${generator[@]}" -DKELO_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
fi
cmake --build "$mingw" --target kelo_packaged -j 2
stage="$mingw/package-stage"
rm -rf "$stage"
cmake --install "$mingw" --prefix "$stage" --strip >/dev/null
window=()
[ -f "$stage/bin/kelobsl.exe" ] && window=(-DWITH_WINDOW)
setup="$out/kelobsl-$version-win64-setup.exe"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage/bin" -DOUTFILE="$setup" "${window[@]}" \
  "$root/packaging/windows/kelobsl.nsi"
portable="KeloBSL-$version"
mv "$stage/bin" "$stage/$portable"
zip="$out/kelobsl-$version-win64.zip"
(cd "$stage" && zip -q -9 -r -X "$zip" "$portable")

status=0
if command -v lintian >/dev/null; then
  echo "== lintian $(basename "$deb") =="
  lintian --tag-display-limit 0 "$deb" 2>&1 | tee "$out/lintian.txt" || true
  grep -q '^E: ' "$out/lintian.txt" && { echo "package: lintian reports errors" >&2; status=1; }
else
  echo "package: lintian not installed: the Debian package is not checked"
fi

echo "== packages in $out =="
for f in "$deb" "$setup" "$zip"; do
  printf '%-36s %9d bytes\n' "$(basename "$f")" "$(stat -c %s "$f")"
done
exit $status
