#!/usr/bin/env bash
# Mutation check: plants small faults in the code (src/, model/) one at a time
# and runs the test suite against each; a fault the suite does not notice
# marks a gap in it.
#
#   scripts/mutate.sh [--code REV] [--tests REV|worktree] [--mutants FILE]
#                     [--dir DIR] [--only ID,ID,...] [--exclude REGEX] [--check]
#
# The code (src/, include/, model/, the build rules, doc/ and examples/) comes from
# git revision --code (default HEAD); the tests (tests/, except its
# CMakeLists.txt, which belongs to the build rules) come from revision
# --tests or from the work tree (default worktree). So two test suites can be
# measured against the same code. The copy is laid in DIR (default
# build-mutate/) and configured once, optimised but without link-time
# optimisation so that a mutant relinks quickly.
#
# Each mutant in FILE (default scripts/mutants.txt) is a header line
# "ID FILE what the fault is", then "- TEXT" lines and "+ TEXT" lines: the
# text of the "- " lines, joined by line ends (the indentation of the lines
# after the first is not compared), must occur exactly once in FILE and is
# replaced by the text of the "+ " lines (none: deleted).
# For each: apply, rebuild, run ctest until the first failure, restore. A
# mutant is "caught" when a test fails, "SURVIVED" when all pass, "not built"
# when it does not compile, "not applied" when its text is not found once.
#
# --only runs the mutants named, each ID or a pattern ('Z*': zorvel-model's).
# --exclude leaves out the tests whose names match REGEX (ctest -E). With
# --check, only checks that every mutant applies, without building.
#
# Prints one line per mutant and a summary; exits 1 when a mutant survived.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
code=HEAD tests=worktree mutants=$root/scripts/mutants.txt dir=$root/build-mutate only= check=0 exclude=()
while [ $# -gt 0 ]; do
  case $1 in
    --code) code=$2; shift 2 ;;
    --tests) tests=$2; shift 2 ;;
    --mutants) mutants=$(realpath "$2"); shift 2 ;;
    --dir) dir=$(realpath -m "$2"); shift 2 ;;
    --only) only=$2; shift 2 ;;
    --exclude) exclude=(-E "$2"); shift 2 ;;
    --check) check=1; shift ;;
    *) echo "usage: $0 [--code REV] [--tests REV|worktree] [--mutants FILE] [--dir DIR] [--only ID,...] [--exclude REGEX] [--check]" >&2
       exit 2 ;;
  esac
done

rev=$(git -C "$root" rev-parse --verify "$code^{commit}")
tree=$dir/tree
rm -rf "$tree"
mkdir -p "$tree"
git -C "$root" archive "$rev" | tar -x -C "$tree"
mv "$tree/tests/CMakeLists.txt" "$dir/tests-CMakeLists.txt"
rm -rf "$tree/tests"
if [ "$tests" = worktree ]; then
  cp -R "$root/tests" "$tree/tests"
  tests_from="the work tree"
else
  git -C "$root" archive "$tests" tests | tar -x -C "$tree"
  tests_from=$(git -C "$root" rev-parse --short "$tests^{commit}")
fi
mv "$dir/tests-CMakeLists.txt" "$tree/tests/CMakeLists.txt"
# The glTF validator that scripts/setup.sh installed, for the export test.
[ -d "$root/build-tools" ] && ln -s "$root/build-tools" "$tree/build-tools"
echo "code from $(git -C "$root" rev-parse --short "$rev"), tests from $tests_from, in $tree"

build=$tree/build
jobs=2
if [ "$check" = 0 ]; then
cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DZORVEL_TESTS=ON > "$dir/configure.log"
cmake --build "$build" -j "$jobs" > "$dir/build.log" 2>&1 || { cat "$dir/build.log"; exit 1; }

suite() {
  ctest --test-dir "$build" -j "$jobs" --stop-on-failure --no-tests=error ${exclude[@]+"${exclude[@]}"} > "$dir/ctest.log" 2>&1
}
suite || { echo "the unmutated code fails its tests:"; cat "$dir/ctest.log"; exit 1; }
fi

caught=0 survived=0 unbuilt=0 unapplied=0 total=0
survivors=
selected() {  # ID: named by --only, or matching one of its patterns
  local pattern patterns
  [ -z "$only" ] && return 0
  IFS=, read -ra patterns <<< "$only"
  for pattern in "${patterns[@]}"; do [[ $1 == $pattern ]] && return 0; done
  return 1
}
run_mutant() {  # ID FILE FIND REPLACE
  local id=$1 file=$2 find=$3 replace=$4 result
  selected "$id" || return 0
  total=$((total + 1))
  local target=$tree/$file
  cp "$target" "$dir/pristine"
  if ! FIND=$find REPLACE=$replace perl -0777 -ne '
      my $re = join "\\n[ \\t]*", map { quotemeta } split /\n/, $ENV{FIND}, -1;
      my $n = () = /$re/g;
      exit 3 if $n != 1;
      s/$re/$ENV{REPLACE}/;
      print;' "$dir/pristine" > "$dir/mutated"; then
    result="not applied"
    unapplied=$((unapplied + 1))
  elif [ "$check" = 1 ]; then
    result=applies
  elif ! { cat "$dir/mutated" > "$target" && cmake --build "$build" -j "$jobs" > "$dir/build.log" 2>&1; }; then
    result="not built"
    unbuilt=$((unbuilt + 1))
  else
    if suite; then
      result=SURVIVED
      survived=$((survived + 1))
      survivors+=" $id"
    else
      result="caught by $(grep -m 1 -oE '^[[:space:]]*[0-9]+ - [^ ]+' "$dir/ctest.log" | sed 's/.* - //')"
      caught=$((caught + 1))
    fi
  fi
  cp "$dir/pristine" "$target"
  printf '%-4s %-22s %s\n' "$id" "$file" "$result"
}

# A block ends at a blank line, at the next header or at the end of the file.
id= file= find= replace= nfind=0 nreplace=0 text=
end_block() {
  [ -n "$id" ] || return 0
  [ "$nfind" -gt 0 ] || { echo "$mutants: mutant $id has no '-' line" >&2; exit 2; }
  run_mutant "$id" "$file" "$find" "$replace"
  id= find= replace= nfind=0 nreplace=0
}
nl=$'\n'
while IFS= read -r -u 3 line || [ -n "$line" ]; do
  case $line in
    '#'*) ;;
    '') end_block ;;
    '- '* | '-')
      [ "$nfind" -gt 0 ] && find+=$nl
      text=${line#-}; find+=${text# }
      nfind=$((nfind + 1)) ;;
    '+ '* | '+')
      [ "$nreplace" -gt 0 ] && replace+=$nl
      text=${line#+}; replace+=${text# }
      nreplace=$((nreplace + 1)) ;;
    *) end_block; read -r id file _ <<< "$line" ;;
  esac
done 3< "$mutants"
end_block
[ "$check" = 1 ] || cmake --build "$build" -j "$jobs" > "$dir/build.log" 2>&1

echo "$total mutants: $caught caught, $survived survived${survivors:+ ($survivors )}, $unbuilt not built, $unapplied not applied"
[ "$survived" -eq 0 ] && [ "$unapplied" -eq 0 ]
