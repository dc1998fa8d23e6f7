#!/usr/bin/env bash
# Builds and runs every test, one CMake preset after another:
#   linux     the unit and command-line tests, and the static checks
#   sanitize  the same tests under AddressSanitizer and UBSan (clang)
#   fuzz      the layout-file fuzzer for HUDCONV_FUZZ_SECONDS (default 60)
#   windows   hudconv.exe and its tests, under Wine
# Stops at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in linux sanitize fuzz windows; do
  echo "=== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
