#!/usr/bin/env bash
# Builds the program of one preset from two copies of the sources in two different directories
# and compares the two executables byte for byte. Usage: reproducible_build.sh SOURCE PRESET WORKDIR
set -euo pipefail
source=$1
preset=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
sums=()
for copy in first "second copy, elsewhere"; do
    tree="$work/$copy/quorvant"
    mkdir -p "$tree"
    (cd "$source" && git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$tree")
    (cd "$tree" && cmake --preset "$preset" >/dev/null && cmake --build "build/$preset" --target quorvant >/dev/null)
    sums+=("$(sha256sum < "$tree/build/$preset/quorvant.exe" | cut -d' ' -f1)")
    echo "$copy: ${sums[-1]}"
done
cmp "$work/first/quorvant/build/$preset/quorvant.exe" "$work/second copy, elsewhere/quorvant/build/$preset/quorvant.exe"
echo "the $preset build is reproducible"
