#!/usr/bin/env bash
# Installs the build into a scratch prefix and merges the shipped examples
# with the installed tool.
#
#   install_test.sh CMAKE BUILD_DIR SOURCE_DIR
#
# Checks that bin/zorvel, share/man/man1/zorvel.1 and
# share/doc/zorvel/formats.md are installed, and that the installed zorvel,
# run as "zorvel -bat models.txt" in a copy of examples/, exits with status
# 0, prints only the banner and writes exactly a.rsd, a.ply, a.mat and a.cod
# as kept in tests/examples-merged/.
set -euo pipefail

cmake=$1
build=$2
source=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

prefix="$work/prefix"
if ! "$cmake" --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: cmake --install failed"
  exit 1
fi

zorvel="$prefix/bin/zorvel"
[ -x "$zorvel" ] || { echo "FAIL: $zorvel was not installed"; exit 1; }
cmp -s "$prefix/share/man/man1/zorvel.1" "$source/doc/zorvel.1" ||
  fail "share/man/man1/zorvel.1 is missing or differs from doc/zorvel.1"
cmp -s "$prefix/share/doc/zorvel/formats.md" "$source/doc/formats.md" ||
  fail "share/doc/zorvel/formats.md is missing or differs from doc/formats.md"

cp -R "$source/examples" "$work/examples"
before=$(cd "$work/examples" && ls)
status=0
(cd "$work/examples" && "$zorvel" -bat models.txt) > "$work/stdout" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "zorvel -bat models.txt exited with status $status"
if [ "$(wc -l < "$work/stdout")" -ne 3 ] || [ "$(sed -n 2p "$work/stdout")" != "zorvel version 1.1" ]; then
  fail "zorvel -bat models.txt printed more than the banner:"
  cat "$work/stdout"
fi

expected="$source/tests/examples-merged"
for file in a.rsd a.ply a.mat a.cod; do
  if [ ! -f "$work/examples/$file" ]; then
    fail "$file was not written"
  elif ! cmp -s "$expected/$file" "$work/examples/$file"; then
    fail "$file differs from tests/examples-merged/$file:"
    diff "$expected/$file" "$work/examples/$file" || true
  fi
done
after=$(cd "$work/examples" && ls)
extra=$(comm -13 <(echo "$before") <(echo "$after") | grep -vxE 'a\.(rsd|ply|mat|cod)' || true)
[ -z "$extra" ] || fail "files written besides a.rsd, a.ply, a.mat and a.cod: $extra"

if [ "$failures" -ne 0 ]; then
  echo "$failures problem(s) with the installed zorvel"
  exit 1
fi
echo "installed into a scratch prefix; the installed zorvel merges examples/ as expected"
