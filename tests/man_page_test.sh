#!/usr/bin/env bash
# Checks the manual page: man_page_test.sh doc/zorvel.1 src/
# groff renders it without a warning for UTF-8 and ASCII terminals, and it
# shows every option word, report text and report label of the sources,
# exactly (plain ASCII apostrophes and hyphens, so that a reader can search).
source "$(dirname "$0")/common.sh"
page=$1 src=$2

for device in utf8 ascii; do
  messages=$(groff -man -T"$device" -ww -z "$page" 2>&1) || fail "groff -T$device failed"
  [ -z "$messages" ] || fail "groff -T$device warns:"$'\n'"$messages"
done

# The page as one line of plain text, without bold or underlining; a very
# long line length keeps words from being broken.
text=$(groff -man -Tutf8 -rLL=5000n -P-c -P-b -P-o -P-u "$page" 2>/dev/null | tr -s ' \n\t' '   ')
shows() { [[ $text == *"$1"* ]]; }

words=$(grep -ohE 'word == "-[a-z]+"' "$src"/option.cpp | sed 's/.*"\(.*\)"/\1/')
[ "$(echo "$words" | wc -l)" -ge 6 ] || fail "found only these option words in the sources: $words"
for word in $words; do
  shows " $word " || shows "[$word " || shows "[$word]" || fail "option $word is not shown"
done

# Report messages: string literals of the form "Text!" or
# "malloc error!(TABLE Data Base)", with an optional newline around them.
messages=$(grep -ohE "\"(\\\\n)?[A-Za-z][A-Za-z' ]*!(\\([A-Z]+ Data Base\\))?(\\\\n)?\"" "$src"/*.cpp |
           sed -e 's/^"//' -e 's/"$//' -e 's/^\\n//' -e 's/\\n$//' | sort -u)
[ "$(echo "$messages" | wc -l)" -ge 15 ] || fail "found only these reports in the sources: $messages"
while IFS= read -r message; do
  if [[ $message =~ ^(m|re)alloc\ error!\(([A-Z]+)\ Data\ Base\)$ ]]; then
    kind=${message%%!*}
    table=${BASH_REMATCH[2]}
    shows "$kind!(table Data Base)" || fail "report '$message' is not shown"
    [[ $text =~ [^A-Za-z]$table[^A-Za-z] ]] || fail "table $table of report '$message' is not named"
  else
    shows "$message" || fail "report '$message' is not shown"
  fi
done <<< "$messages"

labels=$(grep -ohE '"(\\n)?[A-Z][A-Za-z ]*:"' "$src"/error.cpp | sed -e 's/"//g' -e 's/^\\n//' | sort -u)
[ -n "$labels" ] || fail "found no report labels in $src/error.cpp"
while IFS= read -r label; do
  shows "$label" || fail "report label '$label' is not shown"
done <<< "$labels"

for status in 0 1 2; do
  [[ $text =~ EXIT\ STATUS.*\ $status\ .*DIAGNOSTICS ]] || fail "exit status $status is not listed"
done

finish "in $page" "$page renders without warnings and shows $(echo "$words" | wc -w) options,\
 $(echo "$messages" | wc -l) reports and $(echo "$labels" | wc -l) report labels"
