#!/usr/bin/env bash
# bench/effects_vs_sox.sh [BUILD_DIR]: the streaming effects side by side with sox on
# the same ten-minute stereo file, in one run. Both sides are CPU time (user + system),
# so other work on the machine does not tilt the ratio. sox's include reading the WAVE
# file and writing to /dev/null; ours are the filters over the file held in memory
# (bench_effects with QUILLET_BENCH_INPUT), so the ratio favours sox slightly.
set -euo pipefail
build="${1:-build-release}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
in="$tmp/tenmin.wav"
sox -n -r 44100 -c 2 -b 16 "$in" synth 600 sine 440 sine 550 vol 0.5 2>/dev/null
frames=$((44100 * 600))

declare -A ours
while read -r name rate; do ours[$name]=$rate; done < <(
  QUILLET_BENCH_INPUT="$in" "$build/bench/bench_effects" \
    --benchmark_filter='BM_(Fade|Reverse|Pan|HighPass|Echo|Reverb|Equalizer|Rate48k|SpeedAndPitch110|Speed110|PitchSemitone)$' \
    --benchmark_format=csv 2>/dev/null |
    awk -F, 'NR > 1 { gsub(/"/, "", $1); print $1, $7 }')

printf '%-22s %14s %14s %8s\n' effect "sox frames/s" "ours frames/s" ratio
run() {  # NAME BENCH SOX-EFFECT...
  local name="$1" bench="$2"
  shift 2
  local cpu
  /usr/bin/time -f '%U %S' -o "$tmp/cpu" sox "$in" -t wav /dev/null "$@" 2>/dev/null
  cpu=$(tail -1 "$tmp/cpu")
  awk -v n="$name" -v f="$frames" -v c="$cpu" -v o="${ours[$bench]}" \
    'BEGIN { split(c, t, " "); s = f / (t[1] + t[2]); printf "%-22s %14.0f %14.0f %8.2f\n", n, s, o, o / s }'
}
run "fade" BM_Fade fade 5 600 5
run "reverse" BM_Reverse reverse
run "pan (remix)" BM_Pan remix 1v0.7,2v0.3 1v0.3,2v0.7
# Our high-pass corner is twice the entered 250 Hz.
run "high-pass 250" BM_HighPass highpass 500
run "echo 800 ms 50 %" BM_Echo echo 1 1 800 0.5
run "reverb" BM_Reverb reverb
run "equalizer 8-12 kHz" BM_Equalizer sinc 8000-12000
run "rate 48000" BM_Rate48k rate 48000
run "speed 1.1" BM_SpeedAndPitch110 speed 1.1
run "tempo 1.1" BM_Speed110 tempo 1.1
run "pitch +100 cents" BM_PitchSemitone pitch 100
