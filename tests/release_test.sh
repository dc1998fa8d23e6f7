#!/usr/bin/env bash
# The release as a player gets it:
#  1. two clean builds of this commit, in two folders, give the same bytes:
#     hudconv, hudconv.exe and both archives (the first that differs is
#     named);
#  2. each archive, unpacked into a folder named in several scripts, holds
#     the program, README.txt and an empty Output, and converts the sample
#     put there (the zip under Wine) to the expected bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
work=$(mktemp -d)
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
stop_wine() {
  WINEPREFIX="$work/wineprefix" "$(dirname "$wine")/wineserver" -k \
    2>/dev/null || true
  rm -rf "$work"
}
trap stop_wine EXIT

build() {
  cmake -S . -B "$1/linux" -DHUDCONV_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
    >/dev/null
  cmake --build "$1/linux" -j 2 --target package >/dev/null
  cmake -S . -B "$1/windows" --toolchain cmake/mingw-w64.cmake \
    -DHUDCONV_TESTS=OFF >/dev/null
  cmake --build "$1/windows" -j 2 --target package >/dev/null
}
build "$work/first"
build "$work/second"
cd "$work/first"
for file in linux/hudconv windows/hudconv.exe linux/package/*.tar.gz \
  windows/package/*.zip; do
  if ! cmp -s "$file" "$work/second/$file"; then
    echo "FAILED: two builds of one commit differ in $file"
    exit 1
  fi
  echo "same bytes in two builds: $file ($(stat -c %s "$file") bytes)"
done

home="$work/Joueur Ωμέγα Игры 日本"
mkdir -p "$home"
for archive in linux/package/*.tar.gz windows/package/*.zip; do
  cmake -E chdir "$home" cmake -E tar xf "$work/first/$archive"
  name=$(basename "$archive" .zip)
  name=${name%.tar.gz}
  folder="$home/$name"
  program=hudconv
  [[ $archive == *.zip ]] && program=hudconv.exe
  contents=$(cd "$folder" && find . | LC_ALL=C sort | tr '\n' ' ')
  if [ "$contents" != ". ./Output ./README.txt ./$program " ]; then
    echo "FAILED: $archive holds: $contents"
    exit 1
  fi
  cp "$source/samples/map_p.gui.xml" "$folder/Output/"
  if [[ $archive == *.zip ]]; then
    (cd "$folder" && WINEPREFIX="$work/wineprefix" WINEDEBUG=-all \
      "$wine" "./$program" map_p.gui.xml </dev/null >/dev/null 2>&1)
  else
    (cd "$folder" && "./$program" map_p.gui.xml >/dev/null)
  fi
  if ! cmp -s "$folder/Output/map_p.gui.xml" \
    "$source/samples/map_p.converted.gui.xml"; then
    echo "FAILED: $archive, unpacked in $home, did not convert the sample"
    exit 1
  fi
  echo "unpacked in \"$home\", converts the sample: $archive"
done
