#!/usr/bin/env bash
# Builds and runs every test: the demo without GoogleTest, then one CMake
# preset after another:
#   linux     the unit and command-line tests
#   checks    clang-format, clang-tidy and cppcheck
#   sanitize  the same tests under AddressSanitizer and UBSan (clang)
#   fuzz      the layout-file fuzzer for HUDCONV_FUZZ_SECONDS (default 60)
#   windows   hudconv.exe and its tests, under Wine
# and last the release: two builds give the same bytes, and the archives work
# where a player unpacks them (tests/release_test.sh). Stops at the first
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
# The first README command needs only a compiler and CMake: the demo builds
# and runs with GoogleTest left out.
echo "=== demo without GoogleTest"
cmake -S . -B build-demo -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
cmake --build build-demo -j 2 --target demo
for preset in linux checks sanitize fuzz windows; do
  echo "=== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "=== release"
bash tests/release_test.sh
