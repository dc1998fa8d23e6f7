#!/usr/bin/env bash
# The release as a player gets it:
#  1. the README's own package commands, run in two copies of this tree in
#     two folders, give the same bytes: hudconv, hudconv.exe and both
#     archives (the first that differs is named);
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

# The commands a reader of the README types to make the archives.
mapfile -t commands < <(sed -n 's/^    \(cmake --preset .*--target package\)$/\1/p' \
  README.md)
if [ "${#commands[@]}" -ne 2 ]; then
  echo "FAILED: the README should give two package commands, not" \
    "${#commands[@]}"
  exit 1
fi
# Every archive entry dated at this commit, also in a copy without .git.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 0)
export SOURCE_DATE_EPOCH
build() {
  mkdir -p "$1"
  git ls-files -z --cached --others --exclude-standard | tar -cf - --null -T - | tar -xf - -C "$1"
  for command in "${commands[@]}"; do
    (cd "$1" && eval "$command" >/dev/null)
  done
}
build "$work/first"
build "$work/second"
cd "$work/first"
for file in build/hudconv build-windows/hudconv.exe build/package/*.tar.gz \
  build-windows/package/*.zip; do
  if ! cmp -s "$file" "$work/second/$file"; then
    echo "FAILED: two builds of one commit differ in $file"
    exit 1
  fi
  echo "same bytes in two builds: $file ($(stat -c %s "$file") bytes)"
done

home="$work/Joueur Ωμέγα Игры 日本"
mkdir -p "$home"
for archive in build/package/*.tar.gz build-windows/package/*.zip; do
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
  # Each README.txt in its own system's words, made from the one text.
  other='hudconv\.exe'
  [[ $archive == *.zip ]] && other='\./hudconv'
  if grep -Eq "^\[(windows|linux)\]|@[A-Z_]+@|$other" "$folder/README.txt"; then
    echo "FAILED: $archive's README.txt holds another system's syntax:"
    grep -En "^\[(windows|linux)\]|@[A-Z_]+@|$other" "$folder/README.txt"
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
