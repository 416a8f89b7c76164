# Sourced by the tests/*.sh scripts: strict mode, a scratch directory $work
# removed on exit, fail to count a problem, finish to end on the count, and
# check_merge.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# finish WHAT SUMMARY: exits with status 1 after the number of problems found
# in WHAT, or prints SUMMARY.
finish() {
  [ "$failures" -eq 0 ] || { echo "$failures problem(s) $1"; exit 1; }
  echo "$2"
}

# check_merge [--only] ZORVEL INPUTS EXPECTED ARGS...: runs ZORVEL ARGS in a
# copy of the directory INPUTS. It must exit with status 0, print only the
# banner (the first three lines ZORVEL prints without arguments), write every
# file of EXPECTED with its bytes and leave the other inputs as they were;
# with --only, it must write no other file.
check_merge() {
  local only=0 zorvel inputs expected run status=0 f n
  [ "$1" = --only ] && { only=1; shift; }
  zorvel=$1 inputs=$2 expected=$3
  shift 3
  run=$(mktemp -d -p "$work")
  cp -R "$inputs"/. "$run"
  (cd "$run" && "$zorvel" "$@") > "$run.stdout" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "zorvel $* exited with status $status"
  (cd "$work" && "$zorvel") > "$run.usage" || true
  head -n 3 "$run.usage" | cmp -s - "$run.stdout" || { fail "zorvel $* printed more than the banner:"; cat "$run.stdout"; }
  for f in "$expected"/*; do
    n=${f##*/}
    [ -f "$run/$n" ] || { fail "zorvel $* did not write $n"; continue; }
    cmp -s "$f" "$run/$n" || { fail "zorvel $* wrote $n other than $f:"; diff "$f" "$run/$n" || true; }
  done
  for f in "$inputs"/*; do
    n=${f##*/}
    [ -e "$expected/$n" ] || cmp -s "$f" "$run/$n" || fail "zorvel $* changed or removed its input $n"
  done
  for f in "$run"/*; do
    n=${f##*/}
    [ "$only" = 0 ] || [ -e "$expected/$n" ] || [ -e "$inputs/$n" ] || fail "zorvel $* also wrote $n"
  done
}
