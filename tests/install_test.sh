#!/usr/bin/env bash
# Installs the build into a scratch prefix and makes its Debian package.
#
#   install_test.sh CMAKE CPACK BUILD_DIR SOURCE_DIR
#
# Both must hold bin/zorvel, bin/zorvel-model, share/man/man1/zorvel.1,
# share/man/man1/zorvel-model.1 and share/doc/zorvel/formats.md (the
# documents as in doc/); the installed zorvel-model reads the merge. The installed
# zorvel, run as "zorvel -bat models.txt" in a copy of examples/, must write
# exactly the files kept in tests/examples-merged/ (see check_merge). The
# package's control fields: name zorvel, the version that the tool itself
# prints, the architecture of this machine, a maintainer with an address, a
# description, a dependency on the C library; and the tool unpacked from it
# must run.
source "$(dirname "$0")/common.sh"
cmake=$1 cpack=$2 build=$3 source=$4

prefix="$work/prefix"
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1 ||
  { cat "$work/install.log"; echo "FAIL: cmake --install failed"; exit 1; }
(cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/package") > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAIL: cpack -G DEB failed"; exit 1; }
debs=("$work"/package/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: expected one package, got: ${debs[*]}"; exit 1; }
deb=${debs[0]}
dpkg-deb -x "$deb" "$work/root"

for root in "$prefix" "$work/root/usr"; do
  where=${root#"$work/"}
  for tool in zorvel zorvel-model; do
    [ -x "$root/bin/$tool" ] || fail "$where/bin/$tool is missing"
    cmp -s "$root/share/man/man1/$tool.1" "$source/doc/$tool.1" ||
      fail "$where/share/man/man1/$tool.1 is missing or differs from doc/$tool.1"
  done
  cmp -s "$root/share/doc/zorvel/formats.md" "$source/doc/formats.md" ||
    fail "$where/share/doc/zorvel/formats.md is missing or differs from doc/formats.md"
done
check_merge --only "$prefix/bin/zorvel" "$source/examples" "$source/tests/examples-merged" -bat models.txt
(cd "$source/tests/examples-merged" && "$work/root/usr/bin/zorvel-model" info a.rsd) | grep -q '^total  *17 ' ||
  fail "the packaged zorvel-model does not report the merged examples' 17 vertices"

field() { dpkg-deb -f "$deb" "$1"; }
version=$("$prefix/bin/zorvel" | sed -n 's/^zorvel version //p')
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

"$work/root/usr/bin/zorvel" | grep -x "zorvel version $version" > /dev/null || fail "the packaged zorvel does not run"

finish "with the installed zorvel or $(basename "$deb")" \
  "installed and packaged; the installed zorvel merges examples/ as expected, $(basename "$deb") is as expected"
