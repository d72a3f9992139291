#!/usr/bin/env bash
# bench/batch_vs_sox_lame.sh [FILES] [BUILD_DIR]: FILES one-minute stereo WAVE files
# (100 unless given) through amplify 150 % and normalize to MP3, three ways: a shell
# loop of sox (gain -n) piped into lame one file at a time, and quillet-cli batch at
# 1 and 2 jobs. lame gets the same switches as our stored MP3 defaults (128 kbps CBR,
# -h, joint stereo). Wall-clock seconds, one run each.
set -euo pipefail
files="${1:-100}"
build="${2:-build-release}"
cli="$(realpath "$build/app/quillet-cli")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
sox -n -r 44100 -c 2 -b 16 proto.wav synth 60 sine 440 vol 0.25 2>/dev/null
for i in $(seq 1 "$files"); do cp proto.wav "in$i.wav"; done
printf '\x00\x03\x00\x00\x00\x02\x00\x00\x00\x96\x00\x04\x00\x00\x00\x02\x00\x00\x00\x64\x00' > s.qlb

now() { date +%s.%N; }
mkdir loop
t0=$(now)
for f in in*.wav; do
  sox "$f" -t wav - vol 1.5 gain -n 2>/dev/null | lame --quiet -m j -b 128 -h - "loop/${f%.wav}.mp3"
done
t1=$(now)
loop=$(echo "$t1 - $t0" | bc)
declare -A ours
for jobs in 1 2; do
  t0=$(now)
  "$cli" --settings "$tmp/cfg" batch s.qlb in*.wav --format mp3 --out "out$jobs" --jobs "$jobs" >/dev/null
  t1=$(now)
  ours[$jobs]=$(echo "$t1 - $t0" | bc)
done
printf '%-32s %8s %8s\n' "way ($files files)" seconds speed-up
printf '%-32s %8.1f %8s\n' "sox | lame loop" "$loop" 1.00
for jobs in 1 2; do
  printf '%-32s %8.1f %8.2f\n' "quillet-cli batch --jobs $jobs" "${ours[$jobs]}" "$(echo "$loop / ${ours[$jobs]}" | bc -l)"
done
