#!/usr/bin/env bash
# Rips a generated 74-minute disc image from the simulated drive to one WAVE file per
# track (quillet-cli cd rip) and times it next to cp of the same image.
# usage: bench/cd_rip_vs_cp.sh [build-release/app/quillet-cli]
set -euo pipefail
cli="${1:-build-release/app/quillet-cli}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sectors=$((74 * 60 * 75))
# Ten tracks of 7.4 minutes; the bytes only need to be there.
head -c $((sectors * 2352)) /dev/urandom > "$work/disc.bin"
{
  echo 'FILE "disc.bin" BINARY'
  for t in $(seq 0 9); do
    s=$((t * sectors / 10))
    printf '  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:%02d\n' $((t + 1)) $((s / 4500)) $((s / 75 % 60)) $((s % 75))
  done
} > "$work/disc.cue"
mkdir "$work/out"
sync
echo "image: $(stat -c %s "$work/disc.bin") bytes"
/usr/bin/time -f "cp: %e s wall, %U+%S s CPU" cp "$work/disc.bin" "$work/copy.bin"
rm "$work/copy.bin"
sync
/usr/bin/time -f "quillet-cli cd rip: %e s wall, %U+%S s CPU" \
  "$cli" --settings "$work/settings" cd rip "sim:$work/disc.cue" "$work/out" --no-cddb >/dev/null
du -sb "$work/out"
