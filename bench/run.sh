#!/usr/bin/env bash
# Builds the converter and the benchmarks in Release, then prints the figures:
# the conversion in memory (nanoseconds per line of rewriteLine, and whole
# files), and whole runs of hudconv against dd on synthetic layout files of
# the given sizes (in megabytes, or kilobytes with K; see convert_bench).
#   bash bench/run.sh [SIZE ...]
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
