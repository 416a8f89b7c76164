#!/usr/bin/env bash
# Makes the Debian package of the build and checks it.
#
#   package_test.sh CPACK BUILD_DIR SOURCE_DIR ZORVEL
#
# Checks the control fields (name zorvel, the version that the tool itself
# prints, the architecture of this machine, a maintainer with an address, a
# description, a dependency on the C library), that the package holds the
# tool, the manual page and the format reference under /usr, and that the
# tool unpacked from it runs.
set -euo pipefail

cpack=$1
build=$2
source=$3
built=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! (cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/package") \
     > "$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack -G DEB failed"
  exit 1
fi
debs=("$work"/package/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: expected one package, got: ${debs[*]}"; exit 1; }
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
version=$("$built" | sed -n 's/^zorvel version //p')
arch=$(dpkg --print-architecture)

[ "$(field Package)" = zorvel ] || fail "Package is '$(field Package)'"
[ -n "$version" ] && [ "$(field Version)" = "$version" ] ||
  fail "Version is '$(field Version)', the tool prints version '$version'"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^@\>]+\>$ ]] || fail "Maintainer is '$(field Maintainer)'"
description=$(field Description)
[ -n "$(echo "$description" | head -n 1)" ] && [ "$(echo "$description" | wc -l)" -ge 2 ] ||
  fail "Description lacks a summary line or a long description: '$description'"
[[ $(field Depends) == *libc6* ]] || fail "Depends is '$(field Depends)'"
[ "$(basename "$deb")" = "zorvel_${version}_${arch}.deb" ] || fail "package file is named $(basename "$deb")"

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/zorvel ./usr/share/man/man1/zorvel.1 ./usr/share/doc/zorvel/formats.md; do
  grep -qxF "$path" <<< "$contents" || fail "the package lacks $path"
done

dpkg-deb -x "$deb" "$work/root"
cmp -s "$work/root/usr/share/man/man1/zorvel.1" "$source/doc/zorvel.1" ||
  fail "the packaged manual page differs from doc/zorvel.1"
status=0
"$work/root/usr/bin/zorvel" > "$work/stdout" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the packaged zorvel without arguments exited with status $status"
grep -qx "zorvel version $version" "$work/stdout" || fail "the packaged zorvel printed no banner"
grep -q '^>zorvel \[option\] -bat TXT file$' "$work/stdout" || fail "the packaged zorvel printed no usage text"

if [ "$failures" -ne 0 ]; then
  echo "$failures problem(s) with $(basename "$deb")"
  exit 1
fi
echo "$(basename "$deb"): fields, contents and the packaged tool are as expected"
