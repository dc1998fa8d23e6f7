#!/usr/bin/env bash
# Counts the instructions per byte of the conversion in memory of the 4 MB
# synthetic layout under callgrind, and of the floor beside it (memchr for
# each line end, each line copied), with the bench preset's Release build;
# then the same for a file of that size in which no line changes:
#   bash bench/instructions.sh
# The counts do not depend on the machine's load, as times do.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench --target instructions >/dev/null
count() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null \
    build-bench/instructions "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : *//p'
}
bytes=$(build-bench/instructions setup | cut -d' ' -f1)
for file in "" plain; do
  setup=$(count setup $file)
  for mode in floor convert; do
    total=$(count "$mode" $file)
    awk -v m="$mode ${file:-synthetic}" -v t="$total" -v s="$setup" \
      -v b="$bytes" 'BEGIN {
      printf "%-17s %12d instructions  %5.2f per byte\n", m, t - s, (t - s) / b }'
  done
done
