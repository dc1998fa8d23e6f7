#!/usr/bin/env bash
# Builds the converter and the benchmarks in Release, then prints the figures:
# the conversion in memory (nanoseconds per line of rewriteLine, and whole
# files), and whole runs of hudconv against dd on synthetic layout files of
# the given sizes (in megabytes, or kilobytes with K; see convert_bench).
#   bash bench/run.sh [SIZE ...]
# Last, a HUD of 150 files converted in one run (many_files_bench), and its
# flushes a file where strace is here; then 100 new files beside 20,000
# recorded ones (record_bench).
# The files are written to build-bench/work and removed afterwards; the
# largest needs about four times its size free on disk.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
echo "=== the conversion in memory: per line, and whole files"
build-bench/conversion_bench
echo
echo "=== whole runs: hudconv on a fresh copy, and dd bs=1M conv=fsync"
lscpu | sed -n 's/^Model name: *//p'
build-bench/convert_bench build-bench/hudconv build-bench/work "$@"
echo
echo "=== a whole HUD: one run over its folder, the durable floor, one run per file"
build-bench/many_files_bench build-bench/hudconv build-bench/work
# The flushes of one run over the folder, counted by strace where it is here.
if command -v strace >/dev/null; then
  hud=build-bench/work/count
  rm -rf "$hud" && mkdir -p "$hud"
  for i in $(seq 1 150); do cp samples/map_p.gui.xml "$hud/f$i.gui.xml"; done
  strace -f -e trace=fsync,fdatasync,syncfs -o "$hud.strace" \
    build-bench/hudconv "$hud" >/dev/null
  # A call that another thread interrupts is told twice: counted at its start.
  flushes=$(grep -cE '^[0-9]+ +(fsync|fdatasync|syncfs)\(' "$hud.strace")
  awk -v n="$flushes" 'BEGIN { printf "flushes for 150 files: %d, %.2f a file\n", n, n / 150 }'
  rm -rf "$hud" "$hud.strace"
fi
echo
echo "=== new files beside a record of thousands: against the same run alone"
build-bench/record_bench build-bench/hudconv build-bench/work/record
