#!/usr/bin/env bash
# Runs the examples of the format reference: formats_doc_test.sh ZORVEL doc/formats.md
# Its fenced blocks "```zorvel-in NAME" (an input file, laid out for every
# run), "```zorvel-run RUN" (one line: "zorvel" and the arguments) and
# "```zorvel-out RUN NAME" (the file NAME as run RUN writes it) must agree
# with the tool (see check_merge).
source "$(dirname "$0")/common.sh"
zorvel=$1 doc=$2
mkdir -p "$work/in" "$work/runs" "$work/out"

# Extract the blocks. Names are plain file names (no directories).
awk -v dir="$work" '
  function bad(msg) { printf "%s:%d: %s\n", FILENAME, FNR, msg; err = 1 }
  function plain(name) { return name ~ /^[A-Za-z0-9_][A-Za-z0-9._-]*$/ }
  !open && /^```zorvel-/ {
    kind = $1; sub(/^```zorvel-/, "", kind)
    if (kind == "in" && NF == 2 && plain($2)) file = dir "/in/" $2
    else if (kind == "run" && NF == 2 && plain($2)) file = dir "/runs/" $2
    else if (kind == "out" && NF == 3 && plain($2) && plain($3)) {
      system("mkdir -p \"" dir "/out/" $2 "\"")
      file = dir "/out/" $2 "/" $3
    } else { bad("malformed block header: " $0); next }
    if (seen[file]++) bad("block given twice: " $0)
    printf "" > file
    open = 1
    next
  }
  open && /^```[ \t]*$/ { close(file); open = 0; next }
  open { print > file }
  END { if (open) bad("block not closed"); exit err }
' "$doc" || { echo "FAIL: cannot extract the examples of $doc"; exit 1; }

runs=$(ls "$work/runs")
[ -n "$runs" ] || { echo "FAIL: no zorvel-run block in $doc"; exit 1; }
for d in "$work"/out/*/; do
  [ -d "$d" ] || continue
  r=$(basename "$d")
  [ -f "$work/runs/$r" ] || fail "outputs shown for run '$r', which has no zorvel-run block"
done

# The document must show every format read and written, and a batch list run.
for ext in rsd ply mat; do ls "$work"/in/*."$ext" >/dev/null 2>&1 || fail "no example input *.$ext"; done
for ext in rsd ply mat cod ogp; do ls "$work"/out/*/*."$ext" >/dev/null 2>&1 || fail "no example output *.$ext"; done
grep -qw -- -bat "$work"/runs/* || fail "no example run with a batch list (-bat)"

for r in $runs; do
  read -r -a words < "$work/runs/$r"
  if [ "${words[0]:-}" != zorvel ] || [ "$(wc -l < "$work/runs/$r")" -ne 1 ]; then
    fail "run '$r': the block must hold one line that starts with 'zorvel'"
  elif [ ! -d "$work/out/$r" ]; then
    fail "run '$r' shows no output file"
  else
    check_merge "$zorvel" "$work/in" "$work/out/$r" "${words[@]:1}"
  fi
done

finish "in the examples of $doc" "$(echo "$runs" | wc -w) runs, $(ls "$work"/out/*/* | wc -l) output files as $doc shows them"
