#!/usr/bin/env bash
# Saves two generated one-hour stereo documents into a project (quillet-cli project
# create), loads it back and saves each document (project extract), and times both
# next to cp of the project's bytes, with each command's peak RSS.
# usage: bench/project_vs_cp.sh [build-release/app/quillet-cli]
set -euo pipefail
cli="${1:-build-release/app/quillet-cli}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for n in a b; do
  sox -q -n -r 44100 -c 2 -b 16 "$work/$n.wav" synth 3600 whitenoise vol 0.5
done
mkdir "$work/out"
sync
/usr/bin/time -f "project create: %e s wall, %U+%S s CPU, peak RSS %M KiB" \
  "$cli" --settings "$work/settings" project create "$work/p.qlp" "$work/a.wav" "$work/b.wav" >/dev/null
echo "project: $(stat -c %s "$work/p.qlp") bytes"
sync
# The project's writer syncs before it renames; so does this copy.
/usr/bin/time -f "cp + sync: %e s wall, %U+%S s CPU, peak RSS %M KiB" \
  sh -c 'cp "$1" "$2" && sync "$2"' sh "$work/p.qlp" "$work/copy.qlp"
rm "$work/copy.qlp"
sync
/usr/bin/time -f "project extract: %e s wall, %U+%S s CPU, peak RSS %M KiB" \
  "$cli" --settings "$work/settings" project extract "$work/p.qlp" "$work/out" >/dev/null
du -sb "$work/out"
