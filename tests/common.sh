# Sourced by the tests/*.sh scripts: strict mode, a scratch directory $work
# removed on exit, fail to count a problem and finish to end on the count.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# finish WHAT SUMMARY: exits with status 1 after the problems found in WHAT,
# or prints SUMMARY.
finish() {
  [ "$failures" -eq 0 ] || { echo "$failures problem(s) $1"; exit 1; }
  echo "$2"
}

# check_merge [--only] ZORVEL INPUTS EXPECTED ARGS...: ZORVEL ARGS, run in a
# copy of the directory INPUTS, must exit with status 0, print only the
# banner (the first three lines ZORVEL prints without arguments) and leave
# the inputs as they were, with every file of EXPECTED written with its bytes;
# with --only, no other file.
check_merge() {
  local only=0 zorvel inputs expected run status=0 report
  [ "$1" = --only ] && { only=1; shift; }
  zorvel=$1 inputs=$2 expected=$3
  shift 3
  run=$(mktemp -d -p "$work")
  mkdir "$run.want"
  cp -R "$inputs"/. "$run"
  cp -R "$inputs"/. "$expected"/. "$run.want"
  (cd "$run" && "$zorvel" "$@") > "$run.stdout" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "zorvel $* exited with status $status"
  (cd "$work" && "$zorvel") > "$run.usage" || true
  head -n 3 "$run.usage" | cmp -s - "$run.stdout" || { fail "zorvel $* printed more than the banner:"; cat "$run.stdout"; }
  report=$(diff -r "$run.want" "$run" | { [ "$only" = 1 ] && cat || grep -vF "Only in $run:"; } || true)
  [ -z "$report" ] || fail "zorvel $*: the files differ from $inputs with $expected laid over it:"$'\n'"$report"
}
